#include "app/session.h"

#include <gtest/gtest.h>

#include "log/log_form.h"
#include "platform/line_end.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/harness.h"

namespace kav::app {
namespace {

std::string line(std::string_view text) {
  return record::padded(record::cp1252(text), 120) + std::string(platform::kLineEnd);
}

// The day's log shows when the monitor started and ended, around its checks
// and what the print service reports on the way out; the start form is
// otherwise the monitor itself.
TEST(SessionTest, TheLogShowsWhenTheMonitorStartedAndEnded) {
  test::Harness h;
  h.printing.on_finish = [&] { log::write_log_line(h.files, h.clock, "Ticket 20191127-14380500-000001.txt entregue em BAR"); };
  Session session(h.application);
  ui::headless::HeadlessRuntime runtime{session.forms(), h.commands, h.pacer};
  runtime.record_everything();
  runtime.at(6000, [&] { runtime.click("Bt_Confirma8"); });
  runtime.run(kStartForm);
  EXPECT_EQ(h.files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"),
            line("20191127 1438 Início do monitor") + line("20191127 1438 14:38:05 - Checando Comandas ...") +
                line("20191127 1438 Ticket 20191127-14380500-000001.txt entregue em BAR") +
                line("20191127 1438 Fim do monitor"));
  EXPECT_EQ(runtime.last("00-MENU")->rows().size(), 1U);
  EXPECT_EQ(runtime.count_openings("99-LOG"), 3U);
}

// A power cut before the first check's sync keeps the start of the run: the
// start line is synced as it is written.
TEST(SessionTest, APowerCutRightAfterTheStartKeepsTheStartLine) {
  test::Harness h;
  h.files.track_power_cuts();
  Session session(h.application);
  ui::headless::HeadlessRuntime runtime{session.forms(), h.commands, h.pacer};
  std::string kept;
  runtime.at(2000, [&] {
    kept = h.files.after_power_cut().contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt");
    runtime.click("Bt_Confirma8");
  });
  runtime.run(kStartForm);
  EXPECT_EQ(kept, line("20191127 1438 Início do monitor"));
}

}  // namespace
}  // namespace kav::app
