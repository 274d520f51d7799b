#include "platform/system_log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "record/cp1252.h"

namespace kav::platform {

namespace {

// syslog's severities.
int severity(SystemLogLevel level) {
  switch (level) {
    case SystemLogLevel::error: return 3;
    case SystemLogLevel::warning: return 4;
    case SystemLogLevel::information: break;
  }
  return 6;
}

// One datagram to the socket at `path`; false when it could not be sent.
bool send_datagram(const std::string& path, const std::string& datagram) {
  sockaddr_un address{};
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = ::sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  ::close(fd);
  return sent == static_cast<ssize_t>(datagram.size());
}

// The text in UTF-8 on one line.
std::string one_line(std::string_view text) {
  std::string out = record::to_utf8(text);
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return out;
}

class PosixSystemLog final : public SystemLog {
 public:
  PosixSystemLog(std::string journal_socket, std::string syslog_socket)
      : journal_(std::move(journal_socket)), syslog_(std::move(syslog_socket)) {}

  bool write(int event_id, SystemLogLevel level, std::string_view text) override {
    const std::string message = one_line(text);
    const std::string id = std::to_string(event_id);
    const std::string fields = "MESSAGE=" + message + "\nPRIORITY=" + std::to_string(severity(level)) +
                               "\nSYSLOG_IDENTIFIER=kavcomanda\nKAVCOMANDA_EVENT_ID=" + id + "\n";
    if (send_datagram(journal_, fields)) return true;
    const int user_facility = 1;
    const std::string line = "<" + std::to_string(user_facility * 8 + severity(level)) + ">kavcomanda[" +
                             std::to_string(::getpid()) + "]: [" + id + "] " + message;
    return send_datagram(syslog_, line);
  }

 private:
  std::string journal_;
  std::string syslog_;
};

}  // namespace

std::unique_ptr<SystemLog> make_system_log(std::string journal_socket, std::string syslog_socket) {
  return std::make_unique<PosixSystemLog>(std::move(journal_socket), std::move(syslog_socket));
}

std::unique_ptr<SystemLog> make_system_log() {
  return make_system_log(std::string(kJournalSocket), std::string(kSyslogSocket));
}

}  // namespace kav::platform
