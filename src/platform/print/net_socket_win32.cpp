#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform/print/net_socket.h"

namespace kav::platform::print {

namespace {

using Clock = std::chrono::steady_clock;

int left_ms(Clock::time_point until) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

bool winsock_ready() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    WSADATA data;
    ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return ready;
}

class WinSocket final : public NetSocket {
 public:
  explicit WinSocket(SOCKET s) : s_(s) {}
  ~WinSocket() override { closesocket(s_); }

  std::size_t send_all(std::string_view bytes, std::chrono::milliseconds limit) override {
    const auto until = Clock::now() + limit;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      WSAPOLLFD p{s_, POLLWRNORM, 0};
      const int ready = WSAPoll(&p, 1, left_ms(until));
      if (ready <= 0 || (p.revents & (POLLERR | POLLHUP)) != 0) return sent;
      const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 1 << 16));
      const int n = ::send(s_, bytes.data() + sent, chunk, 0);
      if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
      if (n <= 0) return sent;
      sent += static_cast<std::size_t>(n);
    }
    return sent;
  }

  std::optional<unsigned char> receive(std::chrono::milliseconds limit) override {
    const auto until = Clock::now() + limit;
    for (;;) {
      WSAPOLLFD p{s_, POLLRDNORM, 0};
      const int ready = WSAPoll(&p, 1, left_ms(until));
      if (ready <= 0) return std::nullopt;
      char b = 0;
      const int n = ::recv(s_, &b, 1, 0);
      if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
      if (n <= 0) return std::nullopt;
      return static_cast<unsigned char>(b);
    }
  }

  void drain() override {
    char buf[256];
    for (;;) {
      WSAPOLLFD p{s_, POLLRDNORM, 0};
      if (WSAPoll(&p, 1, 0) <= 0 || ::recv(s_, buf, sizeof buf, 0) <= 0) return;
    }
  }

 private:
  SOCKET s_;
};

}  // namespace

std::unique_ptr<NetSocket> connect_to(const std::string& host, int port, std::chrono::milliseconds limit,
                                      std::string& error) {
  if (!winsock_ready()) {
    error = "Winsock unavailable";
    return nullptr;
  }
  const auto until = Clock::now() + limit;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
    error = "host not found";
    return nullptr;
  }
  error = "no address";
  std::unique_ptr<NetSocket> out;
  for (addrinfo* a = found; a != nullptr && out == nullptr; a = a->ai_next) {
    const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    u_long nonblocking = 1;
    ioctlsocket(s, FIONBIO, &nonblocking);
    bool connected = ::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0;
    if (!connected && WSAGetLastError() == WSAEWOULDBLOCK) {
      WSAPOLLFD p{s, POLLWRNORM, 0};
      const int rc = WSAPoll(&p, 1, left_ms(until));
      int so_error = 0;
      int len = sizeof so_error;
      connected = rc == 1 && (p.revents & (POLLERR | POLLHUP)) == 0 &&
                  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len) == 0 &&
                  so_error == 0;
      error = rc == 0 ? "timed out" : "connection refused";
    } else if (!connected) {
      error = "connection failed";
    }
    if (connected) {
      out = std::make_unique<WinSocket>(s);
    } else {
      closesocket(s);
    }
  }
  freeaddrinfo(found);
  return out;
}

}  // namespace kav::platform::print
