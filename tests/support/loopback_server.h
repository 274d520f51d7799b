// A loopback web server for tests of GNU Wget against web servers that
// misbehave (POSIX sockets): each connection's request head is read and the
// connection handed to the test's own `serve`, one at a time.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kav::test {

// A socket listening on a free loopback port, and a pipe whose read end
// wakes a server's loop when stop() is called; closed when destroyed.
class LoopbackListener {
 public:
  LoopbackListener() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd, 8);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    (void)::pipe2(stop_pipe, O_CLOEXEC);
  }
  ~LoopbackListener() {
    ::close(fd);
    ::close(stop_pipe[0]);
    ::close(stop_pipe[1]);
  }
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  void stop() const { (void)::write(stop_pipe[1], "x", 1); }
  int stopping() const { return stop_pipe[0]; }

  int fd = -1;
  std::uint16_t port = 0;

 private:
  int stop_pipe[2] = {-1, -1};
};

// A loopback web server that reads each request's head and hands the
// connection to `serve`, one connection at a time, until it is destroyed.
class LoopbackServer {
 public:
  class Connection {
   public:
    Connection(int fd, int stop) : fd_(fd), stop_(stop) {}
    void send(std::string_view bytes) const { (void)::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // Waits up to `time`; false when the client has closed or the server stops.
    bool idle(std::chrono::milliseconds time) const {
      const auto until = std::chrono::steady_clock::now() + time;
      for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        if (left <= 0) return true;
        pollfd p[2]{{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (::poll(p, 2, static_cast<int>(left)) < 0) continue;
        if (p[1].revents != 0) return false;
        if (p[0].revents != 0) {
          char buf[512];
          if (::recv(fd_, buf, sizeof buf, 0) <= 0) return false;
        }
      }
    }

   private:
    int fd_;
    int stop_;
  };
  using Serve = std::function<void(int index, const std::string& request, const Connection&)>;

  explicit LoopbackServer(Serve serve) : serve_(std::move(serve)) {
    thread_ = std::thread([this] { accept_loop(); });
  }
  ~LoopbackServer() {
    listener_.stop();
    thread_.join();
  }

  std::string host() const { return "127.0.0.1:" + std::to_string(listener_.port); }
  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  static sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
  }

 private:
  void accept_loop() {
    for (int index = 0;; ++index) {
      pollfd p[2]{{listener_.fd, POLLIN, 0}, {listener_.stopping(), POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) continue;
      if (p[1].revents != 0) return;
      const int fd = ::accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      std::string request;
      char buf[1024];
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd q[2]{{fd, POLLIN, 0}, {listener_.stopping(), POLLIN, 0}};
        if (::poll(q, 2, 10000) <= 0 || q[1].revents != 0) break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<std::size_t>(n));
      }
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      serve_(index, request, Connection(fd, listener_.stopping()));
      ::close(fd);
    }
  }

  Serve serve_;
  LoopbackListener listener_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

inline std::string reply_head(std::size_t content_length, std::string_view status = "200 OK",
                              std::string_view extra = "") {
  return "HTTP/1.1 " + std::string(status) +
         "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(content_length) + "\r\n" +
         std::string(extra) + "Connection: close\r\n\r\n";
}

// A loopback port that nothing listens on: one that was free a moment ago.
inline int closed_loopback_port() {
  const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr = LoopbackServer::loopback(0);
  ::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(probe);
  return ntohs(addr.sin_port);
}

}  // namespace kav::test
