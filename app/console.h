// The program's console: standard output and standard input, byte for byte.
#ifndef CORVENEL_APP_CONSOLE_H_
#define CORVENEL_APP_CONSOLE_H_

#include <string>

#include "palomid/exception.h"

namespace corvenel {

// A console write or read failed (closed pipe, I/O error).
class ConsoleError : public palomid::SystemError {
 public:
  using palomid::SystemError::SystemError;
};

// Writes go straight to the file descriptor, so a closed console is noticed
// at the line that hits it rather than at exit.  Every failure throws
// ConsoleError; SIGPIPE must be ignored by the program for EPIPE to arrive.
class Console {
 public:
  Console(int out_fd, int in_fd) : out_fd_(out_fd), in_fd_(in_fd) {}

  // Writes |text| and a line feed.
  void WriteLine(const std::string& text);
  // Writes |text| with no line end.
  void Write(const std::string& text);
  // Nothing is buffered; kept so callers can say where the console must be
  // up to date (before a prompt's answer is read).
  void Flush() {}
  // One line of input without its line end ("\n" or "\r\n").  At end of
  // input, what was read so far (an empty line when nothing was).
  std::string ReadLine();

 private:
  int out_fd_;
  int in_fd_;
};

}  // namespace corvenel

#endif  // CORVENEL_APP_CONSOLE_H_
