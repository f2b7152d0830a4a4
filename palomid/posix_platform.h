// The real platform on Linux.  The only code of the library that calls the
// operating system (sockets, clocks, ioctl, host name, files).
#ifndef PALOMID_POSIX_PLATFORM_H_
#define PALOMID_POSIX_PLATFORM_H_

#include <string>

#include "palomid/platform.h"

namespace palomid {

// Notes on how Linux stands in for what the system was built around:
// - UdpClient: every Broadcast uses a new unbound AF_INET datagram socket,
//   closed by SetActive(false) or when the client is destroyed.  A port
//   outside 1..65535 fails like a send with EINVAL instead of being wrapped.
// - TickCount: CLOCK_BOOTTIME in milliseconds, modulo 2^32.
// - Tone: the PC speaker's input device (EV_SND/SND_TONE) or the console's
//   KDMKTONE where one can be reached; otherwise a silent wait of the tone's
//   duration, so that order and total time stay as on a speaker.
// - TimeSeparator: taken from LC_TIME's time format; ':' when it has none.
// - ReadFileExclusive: Linux has no share modes.  The file is read under an
//   exclusive, non-blocking flock(), so a file that another process holds
//   locked the same way cannot be opened; a process that merely has the
//   file open without a lock does not stop the read.
// - Text files are written without a user-space buffer; Flush has nothing
//   left to hand over.
class PosixPlatform : public Platform {
 public:
  PosixPlatform();
  ~PosixPlatform() override;
  PosixPlatform(const PosixPlatform&) = delete;
  PosixPlatform& operator=(const PosixPlatform&) = delete;

  LocalTime Now() override;
  std::string TimeSeparator() override;
  uint32_t TickCount() override;
  void Tone(int frequency_hz, int duration_ms) override;
  std::unique_ptr<UdpClient> NewUdpClient() override;
  std::string ComputerName() override;
  bool FileExists(const std::string& file_name) override;
  std::string ReadFileExclusive(const std::string& file_name) override;
  std::unique_ptr<TextFile> CreateTextFile(const std::string& file_name) override;
  std::unique_ptr<TextFile> AppendTextFile(const std::string& file_name) override;

 private:
  // Finds a tone device once; -1 in both when there is none.
  void OpenSpeaker();

  bool speaker_searched_ = false;
  int speaker_event_fd_ = -1;    // an input device that takes SND_TONE
  int speaker_console_fd_ = -1;  // a console that takes KDMKTONE
};

// The separator between hours and minutes in the strftime format
// |time_format| (as LC_TIME's T_FMT gives it): the text between the hour
// conversion and the next conversion.  ':' when there is no such text.
std::string TimeSeparatorOfFormat(const std::string& time_format);

// |file_name| as an absolute, lexically normalised path.
std::string FullPath(const std::string& file_name);

}  // namespace palomid

#endif  // PALOMID_POSIX_PLATFORM_H_
