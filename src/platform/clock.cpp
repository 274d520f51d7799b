#include "platform/clock.h"

#include <cctype>
#include <chrono>

#include "record/digits.h"

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

std::int64_t Clock::monotonic_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string ManualClock::date_yymmdd() {
  using namespace std::chrono;
  const sys_days d = floor<days>(sys_time<milliseconds>(milliseconds(now_ms())));
  const year_month_day ymd{d};
  return two(static_cast<int>(ymd.year())) + two(static_cast<unsigned>(ymd.month())) +
         two(static_cast<unsigned>(ymd.day()));
}

std::string ManualClock::time_hhmmsscc() {
  const std::int64_t day_ms = (now_ms() % 86'400'000 + 86'400'000) % 86'400'000;
  return two(day_ms / 3'600'000) + two(day_ms / 60'000 % 60) + two(day_ms / 1000 % 60) + two(day_ms / 10 % 100);
}

std::optional<std::int64_t> stamp_centis(std::string_view stamp) {
  if (stamp.size() < 17 || stamp[8] != '-') return std::nullopt;
  for (std::size_t i = 0; i < 17; ++i) {
    if (i != 8 && !std::isdigit(static_cast<unsigned char>(stamp[i]))) return std::nullopt;
  }
  auto num = [&](std::size_t at, std::size_t n) { return static_cast<int>(record::digits_value(stamp.substr(at, n))); };
  using namespace std::chrono;
  const year_month_day ymd{year{num(0, 4)}, month{static_cast<unsigned>(num(4, 2))},
                           day{static_cast<unsigned>(num(6, 2))}};
  const int h = num(9, 2), mi = num(11, 2), s = num(13, 2), cc = num(15, 2);
  if (!ymd.ok() || h > 23 || mi > 59 || s > 59) return std::nullopt;
  const std::int64_t days = sys_days{ymd}.time_since_epoch().count();
  return ((days * 24 + h) * 60 + mi) * 6000 + s * 100 + cc;
}

std::string next_stamp(std::string_view stamp) {
  const std::int64_t centis = stamp_centis(stamp).value_or(0) + 1;
  using namespace std::chrono;
  const std::int64_t days = centis / (24LL * 3600 * 100);
  std::int64_t rest = centis % (24LL * 3600 * 100);
  const year_month_day ymd{sys_days{std::chrono::days{days}}};
  const auto digits = [](std::int64_t v, std::size_t w) { return record::to_digits(static_cast<std::uint64_t>(v), w); };
  std::string out = digits(static_cast<int>(ymd.year()), 4) + digits(static_cast<unsigned>(ymd.month()), 2) +
                    digits(static_cast<unsigned>(ymd.day()), 2) + "-";
  out += digits(rest / 360000, 2);
  rest %= 360000;
  out += digits(rest / 6000, 2);
  rest %= 6000;
  out += digits(rest / 100, 2) + digits(rest % 100, 2);
  return out;
}

std::string stamp_now(Clock& clock) {
  std::string date = "20" + clock.date_yymmdd();
  std::string time = clock.time_hhmmsscc();
  if (const std::string again = "20" + clock.date_yymmdd(); again != date) {  // midnight passed in between
    date = again;
    time = clock.time_hhmmsscc();
  }
  return date + "-" + time;
}

std::string StampSequence::next(std::string_view now) {
  std::string stamp(now.substr(0, 17));
  std::optional<std::int64_t> centis = stamp_centis(stamp);
  if (!centis) {  // not a stamp: after the latest one
    stamp = next_stamp(last_.empty() ? "20000101-00000000" : last_);
    centis = stamp_centis(stamp);
  }
  while (used_.contains(*centis)) {
    stamp = next_stamp(stamp);
    centis = stamp_centis(stamp);
  }
  note(stamp);
  return stamp;
}

void StampSequence::note(std::string_view stamp) {
  if (const auto centis = stamp_centis(stamp)) used_.insert(*centis);
  if (stamp.substr(0, 17) > last_) last_ = std::string(stamp.substr(0, 17));
}

}  // namespace kav::platform
