#include "tests/support/udp_listener.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testsupport {

UdpListener::UdpListener(int port) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
  int on = 1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  if (fd_ < 0 || setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::fprintf(stderr, "UdpListener: cannot bind port %d: %s\n", port, std::strerror(errno));
    std::abort();
  }
}

UdpListener::~UdpListener() { close(fd_); }

std::optional<std::string> UdpListener::Receive(int timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return std::nullopt;
  std::string buffer(65536, '\0');
  ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
  if (n < 0) return std::nullopt;
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

std::vector<std::string> UdpListener::Drain(int quiet_ms) {
  std::vector<std::string> all;
  while (auto d = Receive(quiet_ms)) all.push_back(std::move(*d));
  return all;
}

}  // namespace testsupport
