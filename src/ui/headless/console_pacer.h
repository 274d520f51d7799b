// The real clock and typed lines from standard input, for console mode.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "ui/headless/headless_runtime.h"

namespace kav::ui::headless {

class ConsolePacer : public Pacer {
 public:
  bool is_virtual() const override { return false; }
  // Whether standard input is a terminal (a person can answer).
  virtual bool interactive() const = 0;
  // Blocks until a line is typed; nullopt at the end of input.
  virtual std::optional<std::string> read_line() = 0;
  // Called once when standard input ends; the program goes on running.
  std::function<void()> on_input_end;
  // Called once when the program is asked to end (SIGINT, SIGTERM, or the
  // console's close on Windows): the start form then ends as "Sair" would.
  std::function<void()> on_stop;
};

std::unique_ptr<ConsolePacer> make_console_pacer();

// Writes one line of UTF-8 text to standard output with the system's line
// end; a Windows console gets it as UTF-16, whatever its code page.
void write_console_line(std::string_view utf8);
// The same on the error output (a refusal to start).
void write_error_line(std::string_view utf8);

#ifdef _WIN32
// A pacer reading the given input handle (a console, a pipe or a file).
std::unique_ptr<ConsolePacer> make_console_pacer(void* input_handle);
// Runs the console control handler as Windows would on `type` (CTRL_C_EVENT,
// CTRL_CLOSE_EVENT ...): a close holds until the pacer is gone.
bool console_control_for_test(unsigned long type);
// Forgets a stop asked earlier in the process (the next test starts afresh).
void forget_console_stop_for_test();
// write_console_line to the given output handle.
void write_console_line(void* output_handle, std::string_view utf8);
#endif

}  // namespace kav::ui::headless
