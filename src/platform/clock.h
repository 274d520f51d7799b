// The system clock as the forms read it: date YYMMDD and time HHMMSScc.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kav::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::string date_yymmdd() = 0;    // 6 digits
  virtual std::string time_hhmmsscc() = 0;  // 8 digits, cc = hundredths
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

  std::string date_yymmdd() override;
  std::string time_hhmmsscc() override;

 private:
  std::int64_t start_ms_;  // milliseconds since 1970-01-01 00:00, local civil time
  std::int64_t elapsed_ms_ = 0;
};

// A stamp "YYYYMMDD-HHMMSScc" (date and time with hundredths, as the spool
// names tickets) as hundredths of a second since 1970-01-01 of the same civil
// time; empty when it is not a valid stamp.
std::optional<std::int64_t> stamp_centis(std::string_view stamp);
// The stamp one hundredth of a second after `stamp` (a valid stamp).
std::string next_stamp(std::string_view stamp);
// The clock's stamp now.
std::string stamp_now(Clock& clock);

// Stamps that only go forward, whatever the clock does: each one given is
// the clock's stamp, or the one after the latest stamp given or noted when
// the clock's is not later.
class StampSequence {
 public:
  std::string next(std::string_view now);
  // A stamp in use elsewhere (a file named by it): later ones follow it.
  void note(std::string_view stamp);
  // The latest stamp given or noted (empty before the first).
  const std::string& last() const { return last_; }

 private:
  std::string last_;
};

}  // namespace kav::platform
