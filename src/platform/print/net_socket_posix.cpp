#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/print/net_socket.h"

namespace kav::platform::print {

namespace {

using Clock = std::chrono::steady_clock;

int left_ms(Clock::time_point until) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

class PosixSocket final : public NetSocket {
 public:
  explicit PosixSocket(int fd) : fd_(fd) {}
  ~PosixSocket() override { ::close(fd_); }

  std::size_t send_all(std::string_view bytes, std::chrono::milliseconds limit) override {
    const auto until = Clock::now() + limit;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      pollfd p{fd_, POLLOUT, 0};
      const int ready = ::poll(&p, 1, left_ms(until));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (p.revents & (POLLERR | POLLHUP)) != 0) return sent;
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n <= 0) return sent;
      sent += static_cast<std::size_t>(n);
    }
    return sent;
  }

  std::optional<unsigned char> receive(std::chrono::milliseconds limit) override {
    const auto until = Clock::now() + limit;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, left_ms(until));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return std::nullopt;
      unsigned char b = 0;
      const ssize_t n = ::recv(fd_, &b, 1, 0);
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n <= 0) return std::nullopt;
      return b;
    }
  }

  void drain() override {
    char buf[256];
    while (::recv(fd_, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<NetSocket> connect_to(const std::string& host, int port, std::chrono::milliseconds limit,
                                      std::string& error) {
  const auto until = Clock::now() + limit;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = ::gai_strerror(rc);
    return nullptr;
  }
  error = "no address";
  std::unique_ptr<NetSocket> out;
  for (addrinfo* a = found; a != nullptr && out == nullptr; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) continue;
    int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc < 0 && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      while ((rc = ::poll(&p, 1, left_ms(until))) < 0 && errno == EINTR) {
      }
      int so_error = 0;
      socklen_t len = sizeof so_error;
      if (rc == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) == 0 && so_error == 0) {
        rc = 0;
      } else {
        error = rc == 0 ? "timed out" : std::strerror(so_error != 0 ? so_error : errno);
        rc = -1;
      }
    } else if (rc < 0) {
      error = std::strerror(errno);
    }
    if (rc == 0) {
      out = std::make_unique<PosixSocket>(fd);
    } else {
      ::close(fd);
    }
  }
  ::freeaddrinfo(found);
  return out;
}

}  // namespace kav::platform::print
