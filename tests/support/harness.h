// The whole application on in-memory platform fakes and the headless
// runtime's virtual clock.
#pragma once

#include <string>

#include "app/application.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "support/fakes.h"
#include "ui/headless/headless_runtime.h"

namespace kav::test {

struct Harness {
  explicit Harness(platform::ManualClock start = platform::ManualClock(2019, 11, 27, 14, 38, 0))
      : clock(start) {
    runtime.record_everything();  // the test instruments: journal, openings, time limit
  }

  platform::MemoryFileSystem files;
  platform::ManualClock clock;
  FakeCommandRunner commands;
  FakePrintService printing;
  NoKeyedFiles keyed;
  platform::Platform platform{files, clock, commands, printing, keyed};
  app::Application application{platform, "localhost"};
  ui::headless::VirtualPacer pacer{clock};
  ui::headless::HeadlessRuntime runtime{application.forms(), commands, pacer};

  // Runs the program from its start form until `stop_ms`, then presses "Sair".
  void run_until(std::int64_t stop_ms) {
    runtime.at(stop_ms, [this] { runtime.click("Bt_Confirma8"); });
    runtime.run(app::kStartForm);
  }
};

}  // namespace kav::test
