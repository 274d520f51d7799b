// The system's own log: the Windows Event Log (source "KavComanda" in the
// Application log), journald or syslog on POSIX. Mechanism only: an event is
// an ID, a level and a text; which events there are is decided above.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kav::platform {

enum class SystemLogLevel { information, warning, error };

class SystemLog {
 public:
  virtual ~SystemLog() = default;
  // Writes one event; `text` is Windows-1252. False when the system log
  // refused it (nothing is retried).
  virtual bool write(int event_id, SystemLogLevel level, std::string_view text) = 0;
};

// The log of this machine. POSIX: journald's native socket, else syslog's
// socket; Windows: the Event Log under the source the installer registered.
std::unique_ptr<SystemLog> make_system_log();

#ifndef _WIN32
// POSIX, with the sockets named (tests): journald's native protocol on
// `journal_socket` (fields MESSAGE, PRIORITY, SYSLOG_IDENTIFIER and
// KAVCOMANDA_EVENT_ID), else a syslog line "<PRI>kavcomanda[pid]: [ID] text"
// on `syslog_socket`; an empty name is not tried.
std::unique_ptr<SystemLog> make_system_log(std::string journal_socket, std::string syslog_socket);
#endif

inline constexpr std::string_view kSystemLogSource = "KavComanda";
inline constexpr std::string_view kJournalSocket = "/run/systemd/journal/socket";
inline constexpr std::string_view kSyslogSocket = "/dev/log";

}  // namespace kav::platform
