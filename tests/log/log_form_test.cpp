#include <gtest/gtest.h>

#include "log/log_form.h"
#include "form/form.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "support/fakes.h"
#include "ui/headless/headless_runtime.h"
#include "support/line_ends.h"

namespace kav::log {
namespace {

// A caller that logs each text it is given, the way every form does.
class Caller final : public form::Form {
 public:
  explicit Caller(LLink& link) : link_(link) {
    design_.name = "CALLER";
    design_.controls.push_back({.name = "T", .kind = form::ControlKind::timer, .interval_ms = 1});
  }
  const form::FormDesign& design() const override { return design_; }
  void tick(form::FormContext& ctx, std::string_view) override {
    ctx.set_timer_enabled("T", false);
    for (const auto& t : texts) {
      link_.set_texto(t);
      ctx.run_form_modal("99-LOG");
      after.emplace_back(link_.texto());
    }
    ctx.end_form();
  }
  std::vector<std::string> texts;
  std::vector<std::string> after;

 private:
  LLink& link_;
  form::FormDesign design_;
};

struct LogFixture : ::testing::Test {
  explicit LogFixture(platform::ManualClock start = platform::ManualClock(2019, 11, 27, 14, 38, 5))
      : clock(start) {
    forms.add(caller);
    forms.add(log_form);
  }
  void log_texts(std::vector<std::string> texts) {
    caller.texts = std::move(texts);
    runtime.run("CALLER");
  }

  platform::MemoryFileSystem files;
  platform::ManualClock clock;
  test::FakeCommandRunner commands;
  LLink link;
  Caller caller{link};
  LogForm log_form{link, files, clock};
  form::FormSet forms;
  ui::headless::VirtualPacer pacer{clock};
  ui::headless::HeadlessRuntime runtime{forms, commands, pacer};
  ui::headless::Recorder& instruments{runtime.record_everything()};
};

TEST(LogLineTest, LayoutIsDateTimeAndTheFirst106CharactersIn120) {
  const std::string texto = record::padded("14:38:05 - Checando Comandas ...", 210);
  const std::string line = log_line("20191127", "14380512", texto);
  EXPECT_EQ(line, record::padded("20191127 1438 14:38:05 - Checando Comandas ...", 120));
  std::string long_text(210, 'x');
  long_text[105] = 'L';
  long_text[106] = 'N';
  const std::string cut = log_line("20191127", "14380512", long_text);
  ASSERT_EQ(cut.size(), 120U);
  EXPECT_EQ(cut.back(), 'L');
  EXPECT_EQ(log_file_name("20191127"), "C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt");
}

TEST(LogLineTest, ControlCharactersBecomeBlanks) {
  const std::string line = log_line("20191127", "14380512", std::string("a\nb\rc\td\x7f" "e\xE7", 10));
  EXPECT_EQ(line.substr(14, 10), std::string("a b c d e\xE7", 10));
}

using LogFormTest = LogFixture;

TEST_F(LogFormTest, FirstLineCreatesTheDaysFileAndLaterLinesAppend) {
  log_texts({"primeira", "segunda"});
  const std::string file = files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt");
  EXPECT_EQ(file, test::with_line_ends(record::padded("20191127 1438 primeira", 120) + "\n" +
                                       record::padded("20191127 1438 segunda", 120) + "\n"));
  // The log never clears L-LINK-TEXTO.
  ASSERT_EQ(caller.after.size(), 2U);
  EXPECT_EQ(caller.after[1], record::padded("segunda", 210));
  EXPECT_EQ(runtime.count_openings("99-LOG"), 2U);
}

TEST_F(LogFormTest, AMissingFolderLosesTheLineAndGivesControlBack) {
  files.remove_directory("C:\\OrbelaTeknovarium");
  log_texts({"perdida", "outra"});
  EXPECT_EQ(files.file_count(), 0U);
  EXPECT_EQ(runtime.count_openings("99-LOG"), 2U);
  EXPECT_EQ(runtime.last("CALLER")->closed_ms, 1);  // no time lost either
}

struct LogAtMidnightTest : LogFixture {
  LogAtMidnightTest() : LogFixture(platform::ManualClock(2019, 12, 31, 23, 59, 59)) {}
};

TEST_F(LogAtMidnightTest, EachLineGoesToTheFileOfItsOwnDate) {
  caller.texts = {"antes"};
  runtime.run("CALLER");
  clock.advance_ms(1000);
  caller.texts = {"depois"};
  runtime.run("CALLER");
  EXPECT_EQ(files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191231.txt"),
            test::with_line_ends(record::padded("20191231 2359 antes", 120) + "\n"));
  EXPECT_EQ(files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20200101.txt"),
            test::with_line_ends(record::padded("20200101 0000 depois", 120) + "\n"));
}

// A sync keeps every line written before it, in every day's file written
// since the last one (a check across midnight), the new files' names too;
// a power cut takes only what came after.
TEST_F(LogAtMidnightTest, ASyncKeepsEveryLineBeforeItAcrossMidnightAndAPowerCutTakesTheRest) {
  files.track_power_cuts();
  const std::uint64_t before = log_lines_written(files);
  log_texts({"antes"});
  clock.advance_ms(1000);
  log_texts({"depois"});
  EXPECT_EQ(log_lines_written(files), before + 2);
  EXPECT_TRUE(sync_log(files));
  log_texts({"sem sync"});
  const platform::MemoryFileSystem after = files.after_power_cut();
  EXPECT_EQ(after.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191231.txt"),
            test::with_line_ends(record::padded("20191231 2359 antes", 120) + "\n"));
  EXPECT_EQ(after.contents("C:\\OrbelaTeknovarium\\LOGCMD_20200101.txt"),
            test::with_line_ends(record::padded("20200101 0000 depois", 120) + "\n"));
}

}  // namespace
}  // namespace kav::log
