// The failure family.
//
// Every runtime failure that the library and the program catch derives from
// std::exception.  Our own failures derive from palomid::Error, which is a
// std::runtime_error with nothing added: its class name is derived from the
// dynamic type (see ClassNameOf), so a subclass only has to exist.
//
// Anything thrown that is not a std::exception (an int, a string literal, a
// type of some other hierarchy) is outside the family: guards let it pass
// after their clean-up.
#ifndef PALOMID_EXCEPTION_H_
#define PALOMID_EXCEPTION_H_

#include <exception>
#include <stdexcept>
#include <string>

namespace palomid {

// Base of the project's own failures.  The message is the text users see.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// A failure of the operating system: a socket, a file, the clock.
// The message names what failed and carries the system's text for errno.
class SystemError : public Error {
 public:
  SystemError(const std::string& message, int error_number)
      : Error(message), error_number_(error_number) {}
  int error_number() const { return error_number_; }

 private:
  int error_number_;
};

// A socket call failed.  Message: "Socket Error # <errno>\r\n<strerror text>".
class SocketError : public SystemError {
 public:
  using SystemError::SystemError;
};

// A file exists but could not be opened.
// Message: "Cannot open file \"<full path>\". <reason>".
class FileOpenError : public SystemError {
 public:
  using SystemError::SystemError;
};

// A file could not be created or emptied for writing.
// Message: "Cannot create file \"<full path>\". <reason>".
class FileCreateError : public SystemError {
 public:
  using SystemError::SystemError;
};

// An open file could not be read.
// Message: "Cannot read file \"<full path>\". <reason>".
class FileReadError : public SystemError {
 public:
  using SystemError::SystemError;
};

// Writing, flushing or closing an open file failed.
// Message: "Cannot write file \"<full path>\". <reason>".
class FileWriteError : public SystemError {
 public:
  using SystemError::SystemError;
};

// The readable name of the most-derived class of |e|.
// The project's own classes are named without their namespace
// ("SocketError", "LdapError"); everything else keeps its full demangled
// name ("std::runtime_error", "std::bad_alloc").
std::string ClassNameOf(const std::exception& e);

// The system's text for |error_number|, as strerror gives it.
std::string ErrnoText(int error_number);

}  // namespace palomid

#endif  // PALOMID_EXCEPTION_H_
