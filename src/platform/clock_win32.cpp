#include <windows.h>

#include <cstdio>

#include "platform/clock.h"

namespace kav::platform {

namespace {
class SystemClock final : public Clock {
 public:
  std::string date_yymmdd() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d", t.wYear % 100, t.wMonth, t.wDay);
    return buf;
  }
  std::string time_hhmmsscc() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds / 10);
    return buf;
  }
};
}  // namespace

std::unique_ptr<Clock> make_system_clock() { return std::make_unique<SystemClock>(); }

}  // namespace kav::platform
