// A TCP connection with every wait bounded: what the network printer client
// needs of the operating system's sockets (net_socket_posix.cpp,
// net_socket_win32.cpp).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kav::platform::print {

class NetSocket {
 public:
  virtual ~NetSocket() = default;
  // Writes all of `bytes` within `limit`; the count written (all of them on
  // success, fewer when the connection failed or the time ran out).
  virtual std::size_t send_all(std::string_view bytes, std::chrono::milliseconds limit) = 0;
  // One byte within `limit`; nothing when none came or the connection ended.
  virtual std::optional<unsigned char> receive(std::chrono::milliseconds limit) = 0;
  // Drops whatever the other side sent and was not read yet.
  virtual void drain() = 0;
};

// A connection to `host` (a name or an address) at `port` within `limit`;
// nothing (and `error` set) when none could be made.
std::unique_ptr<NetSocket> connect_to(const std::string& host, int port, std::chrono::milliseconds limit,
                                      std::string& error);

}  // namespace kav::platform::print
