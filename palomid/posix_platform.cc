#include "palomid/posix_platform.h"

#include <fcntl.h>
#include <langinfo.h>
#include <linux/input.h>
#include <linux/kd.h>
#include <locale.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <thread>

#include "palomid/exception.h"

namespace palomid {

namespace {

enum class FailureKind { kSocket, kFileOpen, kFileCreate, kFileRead, kFileWrite, kSystem };

// The one place where an errno becomes a member of the failure family.
// |subject| is the full path for file failures and the failed action for
// kSystem; sockets name nothing but the error.  |reason| replaces the
// system's text where that text would mislead.
[[noreturn]] void ThrowErrno(FailureKind kind, int error_number, const std::string& subject = "",
                             const std::string& reason = "") {
  const std::string text = reason.empty() ? ErrnoText(error_number) : reason;
  switch (kind) {
    case FailureKind::kSocket:
      throw SocketError("Socket Error # " + std::to_string(error_number) + "\r\n" + text,
                        error_number);
    case FailureKind::kFileOpen:
      throw FileOpenError("Cannot open file \"" + subject + "\". " + text, error_number);
    case FailureKind::kFileCreate:
      throw FileCreateError("Cannot create file \"" + subject + "\". " + text, error_number);
    case FailureKind::kFileRead:
      throw FileReadError("Cannot read file \"" + subject + "\". " + text, error_number);
    case FailureKind::kFileWrite:
      throw FileWriteError("Cannot write file \"" + subject + "\". " + text, error_number);
    case FailureKind::kSystem:
      break;
  }
  throw SystemError(subject + ". " + text, error_number);
}

class PosixUdpClient : public UdpClient {
 public:
  PosixUdpClient() = default;
  ~PosixUdpClient() override {
    if (fd_ >= 0) close(fd_);
  }
  PosixUdpClient(const PosixUdpClient&) = delete;
  PosixUdpClient& operator=(const PosixUdpClient&) = delete;

  void SetActive(bool active) override {
    // The socket is opened by the send that needs it.
    if (active || fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) ThrowErrno(FailureKind::kSocket, errno);
  }

  void Broadcast(const std::string& msg, int32_t port) override {
    // A wrapped port would send to the wrong service.
    if (port < 1 || port > 65535) ThrowErrno(FailureKind::kSocket, EINVAL);
    if (fd_ < 0) {
      fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      if (fd_ < 0) ThrowErrno(FailureKind::kSocket, errno);
    }
    // Broadcast permission is per socket; set it for this send only.
    SetBroadcast(true);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const ssize_t sent =
        sendto(fd_, msg.data(), msg.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    const int send_errno = errno;
    SetBroadcast(false);
    if (sent < 0) ThrowErrno(FailureKind::kSocket, send_errno);
    if (static_cast<size_t>(sent) != msg.size()) ThrowErrno(FailureKind::kSocket, EMSGSIZE);
  }

 private:
  void SetBroadcast(bool on) {
    const int value = on ? 1 : 0;
    if (setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
      ThrowErrno(FailureKind::kSocket, errno);
    }
  }

  int fd_ = -1;
};

class PosixTextFile : public TextFile {
 public:
  PosixTextFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixTextFile() override {
    if (fd_ >= 0) close(fd_);
  }
  PosixTextFile(const PosixTextFile&) = delete;
  PosixTextFile& operator=(const PosixTextFile&) = delete;

  void Write(const std::string& data) override {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
      const ssize_t n = write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowErrno(FailureKind::kFileWrite, errno, path_);
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
  }

  void Flush() override {}

  void Close() override {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) ThrowErrno(FailureKind::kFileWrite, errno, path_);
  }

 private:
  int fd_;
  std::string path_;
};

// Closes a descriptor on every way out of a scope.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

timespec ReadClock(clockid_t clock) {
  timespec ts{};
  if (clock_gettime(clock, &ts) != 0)
    ThrowErrno(FailureKind::kSystem, errno, "Cannot read the clock");
  return ts;
}

// The input device driven by the pcspkr module answers to SND_TONE.
bool TakesSndTone(int fd) {
  unsigned long
      bits[(SND_MAX + CHAR_BIT * sizeof(unsigned long)) / (CHAR_BIT * sizeof(unsigned long))] = {};
  if (ioctl(fd, EVIOCGBIT(EV_SND, sizeof bits), bits) < 0) return false;
  constexpr size_t kBitsPerWord = CHAR_BIT * sizeof(unsigned long);
  return (bits[SND_TONE / kBitsPerWord] >> (SND_TONE % kBitsPerWord)) & 1UL;
}

void WriteToneEvent(int fd, int frequency_hz) {
  input_event event{};
  event.type = EV_SND;
  event.code = SND_TONE;
  event.value = frequency_hz;
  // A speaker that stops answering only costs the sound, not the wait.
  (void)!write(fd, &event, sizeof event);
}

}  // namespace

std::string TimeSeparatorOfFormat(const std::string& time_format) {
  std::string format;
  // Composite conversions stand for their parts.
  for (size_t i = 0; i < time_format.size(); ++i) {
    if (time_format[i] == '%' && i + 1 < time_format.size()) {
      const char c = time_format[i + 1];
      if (c == 'T' || c == 'R' || c == 'r') {
        format += c == 'T' ? "%H:%M:%S" : c == 'R' ? "%H:%M" : "%I:%M:%S %p";
        ++i;
        continue;
      }
      format += time_format.substr(i, 2);
      ++i;
      continue;
    }
    format += time_format[i];
  }
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    size_t j = i + 1;
    while (j < format.size() && std::string_view("_-0^#EO").find(format[j]) != std::string::npos) {
      ++j;
    }
    if (j >= format.size()) break;
    if (std::string_view("HIkl").find(format[j]) == std::string::npos) {
      i = j;
      continue;
    }
    const size_t end = format.find('%', j + 1);
    if (end == std::string::npos) break;
    std::string separator = format.substr(j + 1, end - j - 1);
    return separator.empty() ? ":" : separator;
  }
  return ":";
}

std::string FullPath(const std::string& file_name) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(file_name, error);
  if (error) return file_name;
  return path.lexically_normal().string();
}

PosixPlatform::PosixPlatform() { tzset(); }

PosixPlatform::~PosixPlatform() {
  if (speaker_event_fd_ >= 0) close(speaker_event_fd_);
  if (speaker_console_fd_ >= 0) close(speaker_console_fd_);
}

LocalTime PosixPlatform::Now() {
  const timespec ts = ReadClock(CLOCK_REALTIME);
  tm broken{};
  if (localtime_r(&ts.tv_sec, &broken) == nullptr) {
    ThrowErrno(FailureKind::kSystem, errno, "Cannot convert the clock to local time");
  }
  LocalTime now;
  now.year = broken.tm_year + 1900;
  now.month = broken.tm_mon + 1;
  now.day = broken.tm_mday;
  now.hour = broken.tm_hour;
  now.minute = broken.tm_min;
  now.second = broken.tm_sec;
  now.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return now;
}

std::string PosixPlatform::TimeSeparator() {
  // The process's own LC_TIME is "C" unless the program called setlocale;
  // the user's choice is what the environment names.
  locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return ":";
  std::string separator = TimeSeparatorOfFormat(nl_langinfo_l(T_FMT, user));
  freelocale(user);
  return separator;
}

uint32_t PosixPlatform::TickCount() {
  const timespec ts = ReadClock(CLOCK_BOOTTIME);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void PosixPlatform::OpenSpeaker() {
  speaker_searched_ = true;
  for (int i = 0; i < 32; ++i) {
    const std::string device = "/dev/input/event" + std::to_string(i);
    const int fd = open(device.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    if (TakesSndTone(fd)) {
      speaker_event_fd_ = fd;
      return;
    }
    close(fd);
  }
  for (const char* console : {"/dev/tty0", "/dev/console"}) {
    const int fd = open(console, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) continue;
    // A zero tone stops any tone: harmless, and only a real console takes it.
    if (ioctl(fd, KDMKTONE, 0) == 0) {
      speaker_console_fd_ = fd;
      return;
    }
    close(fd);
  }
}

void PosixPlatform::Tone(int frequency_hz, int duration_ms) {
  if (!speaker_searched_) OpenSpeaker();
  const bool audible = frequency_hz > 0 && duration_ms > 0;
  if (audible && speaker_event_fd_ >= 0) {
    WriteToneEvent(speaker_event_fd_, frequency_hz);
  } else if (audible && speaker_console_fd_ >= 0) {
    // KDMKTONE: duration in ms in the high word, the timer's divisor below.
    constexpr int kPitTickRate = 1193180;
    const unsigned long arg = (static_cast<unsigned long>(duration_ms & 0xffff) << 16) |
                              static_cast<unsigned long>((kPitTickRate / frequency_hz) & 0xffff);
    ioctl(speaker_console_fd_, KDMKTONE, arg);
  }
  // Both speakers return at once; the wait makes the tone end before the
  // caller goes on, and stands in for it where there is no speaker.
  if (duration_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(duration_ms));
  if (audible && speaker_event_fd_ >= 0) WriteToneEvent(speaker_event_fd_, 0);
}

std::unique_ptr<UdpClient> PosixPlatform::NewUdpClient() {
  return std::make_unique<PosixUdpClient>();
}

std::string PosixPlatform::ComputerName() {
  char buffer[HOST_NAME_MAX + 1] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) {
    ThrowErrno(FailureKind::kSystem, errno, "Cannot read the host name");
  }
  std::string name(buffer);
  return name.substr(0, name.find('.'));
}

bool PosixPlatform::FileExists(const std::string& file_name) {
  struct stat st {};
  return stat(file_name.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string PosixPlatform::ReadFileExclusive(const std::string& file_name) {
  // O_NONBLOCK keeps a FIFO from hanging the open; it does not affect reads
  // from regular files.
  ScopedFd fd(open(file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) ThrowErrno(FailureKind::kFileOpen, errno, FullPath(file_name));
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    const int error_number = errno;
    ThrowErrno(FailureKind::kFileOpen, error_number, FullPath(file_name),
               error_number == EWOULDBLOCK ? "The file is locked by another process" : "");
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0) ThrowErrno(FailureKind::kFileRead, errno, FullPath(file_name));

  // One allocation at the file's size, filled by as few reads as the kernel
  // needs.  A file that shrank meanwhile yields what was there, never
  // padding.
  std::string content(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  while (got < content.size()) {
    const ssize_t n = read(fd.get(), content.data() + got, content.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(FailureKind::kFileRead, errno, FullPath(file_name));
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  content.resize(got);
  return content;
}

std::unique_ptr<TextFile> PosixPlatform::CreateTextFile(const std::string& file_name) {
  const int fd = open(file_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) ThrowErrno(FailureKind::kFileCreate, errno, FullPath(file_name));
  return std::make_unique<PosixTextFile>(fd, FullPath(file_name));
}

std::unique_ptr<TextFile> PosixPlatform::AppendTextFile(const std::string& file_name) {
  const int fd = open(file_name.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) ThrowErrno(FailureKind::kFileOpen, errno, FullPath(file_name));
  return std::make_unique<PosixTextFile>(fd, FullPath(file_name));
}

}  // namespace palomid
