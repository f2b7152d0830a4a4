#include "app/console.h"

#include <unistd.h>

#include <cerrno>

namespace corvenel {

namespace {

[[noreturn]] void ThrowConsoleError(const char* what, int error_number) {
  throw ConsoleError(
      std::string("Cannot ") + what + " the console: " + palomid::ErrnoText(error_number),
      error_number);
}

}  // namespace

void Console::Write(const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(out_fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowConsoleError("write to", errno);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void Console::WriteLine(const std::string& text) {
  // One write for the line and its end, so lines from a failing run are never torn.
  std::string line;
  line.reserve(text.size() + 1);
  line.append(text).push_back('\n');
  Write(line);
}

std::string Console::ReadLine() {
  // Byte by byte, so nothing past the line is taken from a shared stdin.
  std::string line;
  for (;;) {
    char c;
    ssize_t n = ::read(in_fd_, &c, 1);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowConsoleError("read from", errno);
    }
    if (n == 0 || c == '\n') break;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace corvenel
