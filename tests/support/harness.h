// The whole application on the fake platform and the headless runtime's
// virtual clock.
#pragma once

#include <cstdint>
#include <string>

#include "app/application.h"
#include "support/fake_platform.h"
#include "ui/headless/headless_runtime.h"

namespace kav::test {

struct Harness : FakePlatform {
  explicit Harness(platform::ManualClock start = start_of_test_day(), Use use = {}) : FakePlatform(start, use) {
    runtime.record_everything();  // the test instruments: journal, openings, time limit
  }

  app::Application application{services, "localhost"};
  ui::headless::VirtualPacer pacer{clock};
  ui::headless::HeadlessRuntime runtime{application.forms(), services.commands, pacer};

  // Runs the program from its start form until `stop_ms`, then presses "Sair".
  void run_until(std::int64_t stop_ms) {
    runtime.at(stop_ms, [this] { runtime.click("Bt_Confirma8"); });
    runtime.run(app::kStartForm);
  }
};

}  // namespace kav::test
