// A real UDP socket bound to 0.0.0.0:<port> that collects datagrams,
// for tests that check what was broadcast.
#ifndef CORVENEL_TESTS_SUPPORT_UDP_LISTENER_H_
#define CORVENEL_TESTS_SUPPORT_UDP_LISTENER_H_

#include <optional>
#include <string>
#include <vector>

namespace testsupport {

class UdpListener {
 public:
  // Binds 0.0.0.0:|port| (SO_REUSEADDR).  Aborts the test binary on failure.
  explicit UdpListener(int port = 514);
  ~UdpListener();
  UdpListener(const UdpListener&) = delete;
  UdpListener& operator=(const UdpListener&) = delete;

  // The next datagram's payload, or nothing after |timeout_ms| of silence.
  std::optional<std::string> Receive(int timeout_ms = 2000);
  // Every datagram that arrives until |quiet_ms| pass without one.
  std::vector<std::string> Drain(int quiet_ms = 300);

 private:
  int fd_;
};

}  // namespace testsupport

#endif  // CORVENEL_TESTS_SUPPORT_UDP_LISTENER_H_
