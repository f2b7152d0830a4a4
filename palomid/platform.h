// The platform seam: everything the library needs from the operating system.
//
// Library routines reach the platform through CurrentPlatform(), because
// their signatures are fixed and cannot take it as an argument.  The real
// implementation is PosixPlatform (palomid/posix_platform.h); tests install
// a fake with ScopedPlatformForTesting to record what was asked and to make
// a chosen call fail.
//
// Every operation reports a failure by throwing a member of the failure
// family (palomid::Error or one of its subclasses, see palomid/exception.h).
#ifndef PALOMID_PLATFORM_H_
#define PALOMID_PLATFORM_H_

#include <cstdint>
#include <memory>
#include <string>

namespace palomid {

// A local date and time, broken down.
struct LocalTime {
  int year = 0;         // e.g. 2023
  int month = 0;        // 1..12
  int day = 0;          // 1..31
  int hour = 0;         // 0..23
  int minute = 0;       // 0..59
  int second = 0;       // 0..59 (60 on a leap second)
  int millisecond = 0;  // 0..999
};

// A UDP client for limited broadcasts.  A new client has no socket.
class UdpClient {
 public:
  virtual ~UdpClient() = default;

  // SetActive(false) closes the client's socket, if it has one.
  virtual void SetActive(bool active) = 0;

  // Sends |msg|, byte for byte, as one datagram to 255.255.255.255:|port|,
  // opening the client's socket first if it has none.  Broadcast permission
  // is switched on for this send only.  Throws SocketError (message
  // "Socket Error # <number>\r\n<text>") when any step fails, including a
  // datagram that did not go out whole.
  virtual void Broadcast(const std::string& msg, int32_t port) = 0;
};

// A text file open for writing.  Destroying an open file closes it and
// ignores any failure of that close; call Close() to learn of one.
class TextFile {
 public:
  virtual ~TextFile() = default;

  // Writes |data| byte for byte, no conversion of any kind.
  virtual void Write(const std::string& data) = 0;
  // Hands everything written so far to the operating system.
  virtual void Flush() = 0;
  // Closes the file.  Nothing may be called on it afterwards.
  virtual void Close() = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // The local date and time, to the millisecond.
  virtual LocalTime Now() = 0;

  // The separator between hours, minutes and seconds in the user's locale.
  // Never empty.
  virtual std::string TimeSeparator() = 0;

  // Milliseconds since the machine started, modulo 2^32.
  virtual uint32_t TickCount() = 0;

  // Plays a tone of |frequency_hz| for |duration_ms| and returns when it has
  // ended, so that consecutive tones never overlap.
  virtual void Tone(int frequency_hz, int duration_ms) = 0;

  // A new UDP client without a socket.  Never null.
  virtual std::unique_ptr<UdpClient> NewUdpClient() = 0;

  // The computer's short name (the host name up to its first '.').
  virtual std::string ComputerName() = 0;

  // True when |file_name| names something that can be opened as a file:
  // false for a folder and for a name that matches nothing.
  virtual bool FileExists(const std::string& file_name) = 0;

  // The whole content of |file_name|, read while holding the file
  // exclusively.  Throws FileOpenError, message
  // "Cannot open file \"<full path>\". <reason>", when the file cannot be
  // opened or is held by another process; FileReadError when reading fails.
  virtual std::string ReadFileExclusive(const std::string& file_name) = 0;

  // Creates |file_name|, or empties it when it exists, for writing.
  // Throws FileCreateError.  Never returns null.
  virtual std::unique_ptr<TextFile> CreateTextFile(const std::string& file_name) = 0;

  // Opens the existing |file_name| for writing at its end.
  // Throws FileOpenError.  Never returns null.
  virtual std::unique_ptr<TextFile> AppendTextFile(const std::string& file_name) = 0;
};

// The platform the library uses: the one installed for testing, else the
// process's PosixPlatform.
Platform& CurrentPlatform();

// Makes |platform| the current one; nullptr returns to the real platform.
// The caller keeps ownership and must keep it alive while it is installed.
void SetPlatformForTesting(Platform* platform);

// Installs a platform for the lifetime of the scope and restores the
// previous one afterwards.
class ScopedPlatformForTesting {
 public:
  explicit ScopedPlatformForTesting(Platform* platform);
  ~ScopedPlatformForTesting();
  ScopedPlatformForTesting(const ScopedPlatformForTesting&) = delete;
  ScopedPlatformForTesting& operator=(const ScopedPlatformForTesting&) = delete;

 private:
  Platform* previous_;
};

}  // namespace palomid

#endif  // PALOMID_PLATFORM_H_
