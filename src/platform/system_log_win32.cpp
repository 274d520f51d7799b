#include "platform/system_log.h"

#include <windows.h>

#include <string>

namespace kav::platform {

namespace {

// Windows-1252 to UTF-16.
std::wstring wide(std::string_view text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

WORD event_type(SystemLogLevel level) {
  switch (level) {
    case SystemLogLevel::error: return EVENTLOG_ERROR_TYPE;
    case SystemLogLevel::warning: return EVENTLOG_WARNING_TYPE;
    case SystemLogLevel::information: break;
  }
  return EVENTLOG_INFORMATION_TYPE;
}

// The Event Log under the source the installer registered; the program's
// message table (every ID reads "%1") gives each event its own text.
class EventLog final : public SystemLog {
 public:
  EventLog() : source_(RegisterEventSourceW(nullptr, wide(kSystemLogSource).c_str())) {}
  ~EventLog() override {
    if (source_ != nullptr) DeregisterEventSource(source_);
  }
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  bool write(int event_id, SystemLogLevel level, std::string_view text) override {
    if (source_ == nullptr) return false;
    const std::wstring message = wide(text);
    LPCWSTR strings[] = {message.c_str()};
    return ReportEventW(source_, event_type(level), 0, static_cast<DWORD>(event_id), nullptr, 1, 0, strings,
                        nullptr) != FALSE;
  }

 private:
  HANDLE source_;
};

}  // namespace

std::unique_ptr<SystemLog> make_system_log() { return std::make_unique<EventLog>(); }

}  // namespace kav::platform
