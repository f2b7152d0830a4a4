// A platform for tests: records what the library asked for (tones,
// datagrams, created files) and fails at chosen calls.  Clock, tick count,
// separator and computer name are set by the test.  File operations reach
// the real file system through PosixPlatform unless a fault is injected, so
// tests work on real files in a temporary folder.
#ifndef CORVENEL_TESTS_PALOMID_FAKE_PLATFORM_H_
#define CORVENEL_TESTS_PALOMID_FAKE_PLATFORM_H_

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "palomid/platform.h"
#include "palomid/posix_platform.h"

namespace palomid {

class FakePlatform : public Platform {
 public:
  // The operations a fault can be injected into.
  enum class Op {
    kNow,
    kTimeSeparator,
    kTickCount,
    kTone,
    kNewUdpClient,
    kUdpSetActive,
    kUdpBroadcast,
    kComputerName,
    kFileExists,
    kReadFileExclusive,
    kCreateTextFile,
    kAppendTextFile,
    kTextWrite,
    kTextFlush,
    kTextClose,
  };

  struct Datagram {
    std::string payload;
    int32_t port;
    bool operator==(const Datagram&) const = default;
  };

  FakePlatform();
  ~FakePlatform() override;

  // The |nth| call of |op| (1-based; 0: every call) runs |raise| instead of
  // doing its work.  |raise| is expected to throw.
  void InjectFault(Op op, int nth, std::function<void()> raise);
  // The |nth| call of |op| (0: every call) throws palomid::Error(|message|).
  void Fail(Op op, int nth, const std::string& message);

  // How often |op| was called, failed calls included.
  int calls(Op op) const;

  // Now() hands out |times| in order, then keeps repeating the last one.
  void set_times(std::vector<LocalTime> times) { times_ = std::move(times); }
  void set_time_separator(std::string separator) { separator_ = std::move(separator); }
  void set_tick_count(uint32_t ticks) { ticks_ = ticks; }
  void set_computer_name(std::string name) { computer_name_ = std::move(name); }

  // Tones played, as (frequency Hz, duration ms), in order.
  const std::vector<std::pair<int, int>>& tones() const { return tones_; }
  // Datagrams broadcast, in order.
  const std::vector<Datagram>& datagrams() const { return datagrams_; }
  // UDP clients created and not yet destroyed.
  int live_udp_clients() const { return live_udp_clients_; }

  // Platform:
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
  class FakeUdpClient;
  class FaultyTextFile;

  // Counts a call of |op| and raises its fault if this call has one.
  void Enter(Op op);

  PosixPlatform real_;
  std::map<Op, int> calls_;
  std::multimap<Op, std::pair<int, std::function<void()>>> faults_;
  std::vector<LocalTime> times_;
  std::string separator_ = ":";
  uint32_t ticks_ = 0;
  std::string computer_name_ = "PC1";
  std::vector<std::pair<int, int>> tones_;
  std::vector<Datagram> datagrams_;
  int live_udp_clients_ = 0;
};

}  // namespace palomid

#endif  // CORVENEL_TESTS_PALOMID_FAKE_PLATFORM_H_
