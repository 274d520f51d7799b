// The system clock as the forms read it: date YYMMDD and time HHMMSScc.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace kav::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::string date_yymmdd() = 0;    // 6 digits
  virtual std::string time_hhmmsscc() = 0;  // 8 digits, cc = hundredths
  // Milliseconds that only go forward, at the pace of real time, whatever
  // is done to the date and time (counted from an unspecified moment): what
  // ages are measured with.
  virtual std::int64_t monotonic_ms();
};

// The machine's local time.
std::unique_ptr<Clock> make_system_clock();

// A clock that moves only when told: a fixed civil start plus elapsed
// milliseconds. The headless runtime drives it as its virtual clock.
class ManualClock final : public Clock {
 public:
  // Starts at the given local date and time.
  ManualClock(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

  void advance_ms(std::int64_t ms) { elapsed_ms_ += ms; }
  std::int64_t elapsed_ms() const { return elapsed_ms_; }
  // The date and time set forward (or back, negative) by hand: time itself
  // does not move.
  void shift_ms(std::int64_t ms) { offset_ms_ += ms; }

  std::string date_yymmdd() override;
  std::string time_hhmmsscc() override;
  std::int64_t monotonic_ms() override { return elapsed_ms_; }

 private:
  std::int64_t now_ms() const { return start_ms_ + elapsed_ms_ + offset_ms_; }

  std::int64_t start_ms_;  // milliseconds since 1970-01-01 00:00, local civil time
  std::int64_t elapsed_ms_ = 0;
  std::int64_t offset_ms_ = 0;
};

// A stamp "YYYYMMDD-HHMMSScc" (date and time with hundredths, as the spool
// names tickets) as hundredths of a second since 1970-01-01 of the same civil
// time; empty when it is not a valid stamp.
std::optional<std::int64_t> stamp_centis(std::string_view stamp);
// The stamp one hundredth of a second after `stamp` (a valid stamp).
std::string next_stamp(std::string_view stamp);
// The clock's stamp now.
std::string stamp_now(Clock& clock);

// Stamps never given twice, each the clock's own: the clock's stamp, or,
// when that one is already given or noted (the clock stands still, or was
// set back over stamps in use), the first hundredth after it that is not.
// A clock set back gives stamps of the real date and time again; a clock
// that was ahead leaves no stamp running ahead of it.
class StampSequence {
 public:
  std::string next(std::string_view now);
  // A stamp in use elsewhere (a file named by it): never given.
  void note(std::string_view stamp);
  // The latest stamp given or noted (empty before the first).
  const std::string& last() const { return last_; }

 private:
  std::string last_;
  std::set<std::int64_t> used_;  // in hundredths (stamp_centis)
};

}  // namespace kav::platform
