#include "platform/clock.h"

#include <chrono>

namespace kav::platform {

namespace {
std::string two(std::int64_t v) {
  const auto n = static_cast<unsigned>(v % 100);
  return {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)};
}
}  // namespace

ManualClock::ManualClock(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days d = year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                    std::chrono::day{static_cast<unsigned>(day)}};
  start_ms_ = duration_cast<milliseconds>(d.time_since_epoch()).count() +
              ((hour * 60 + minute) * 60 + second) * std::int64_t{1000};
}

std::string ManualClock::date_yymmdd() {
  using namespace std::chrono;
  const sys_days d = floor<days>(sys_time<milliseconds>(milliseconds(start_ms_ + elapsed_ms_)));
  const year_month_day ymd{d};
  return two(static_cast<int>(ymd.year())) + two(static_cast<unsigned>(ymd.month())) +
         two(static_cast<unsigned>(ymd.day()));
}

std::string ManualClock::time_hhmmsscc() {
  const std::int64_t day_ms = ((start_ms_ + elapsed_ms_) % 86'400'000 + 86'400'000) % 86'400'000;
  return two(day_ms / 3'600'000) + two(day_ms / 60'000 % 60) + two(day_ms / 1000 % 60) + two(day_ms / 10 % 100);
}

}  // namespace kav::platform
