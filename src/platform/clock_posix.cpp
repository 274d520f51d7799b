#include <sys/time.h>
#include <time.h>

#include <cstdio>

#include "platform/clock.h"

namespace kav::platform {

namespace {
class SystemClock final : public Clock {
 public:
  std::string date_yymmdd() override {
    const auto [tm, cc] = now();
    return format("%02d%02d%02d", tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday);
  }
  std::string time_hhmmsscc() override {
    const auto [tm, cc] = now();
    return format("%02d%02d%02d%02d", tm.tm_hour, tm.tm_min, tm.tm_sec, cc);
  }

 private:
  static std::pair<struct tm, int> now() {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    struct tm tm {};
    localtime_r(&tv.tv_sec, &tm);
    return {tm, static_cast<int>(tv.tv_usec / 10000)};
  }
  static std::string format(const char* fmt, int a, int b, int c, int d = 0) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, a, b, c, d);
    return buf;
  }
};
}  // namespace

std::unique_ptr<Clock> make_system_clock() { return std::make_unique<SystemClock>(); }

}  // namespace kav::platform
