// The monitor on native windows through a slow check (each command of the
// check's first steps takes a second, as a slow PC or web server makes it):
// a click on "Sair" or "Reimprimir" made while the check runs, as the
// operator's mouse makes it, is kept and done once the check is over.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "app/application.h"
#include "app/session.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "record/cp1252.h"
#include "support/fake_reprints.h"
#include "support/fakes.h"
#include "ui/win32/win32_support.h"

namespace kav::ui::win32::testing {
namespace {

// The mouse pressed and released over the middle of `button`, as input
// messages for the window's thread (posted from any thread).
void press(HWND button) {
  RECT r{};
  GetClientRect(button, &r);
  const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
  PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(button, WM_LBUTTONUP, 0, at);
}

class SlowCheckTest : public ::testing::Test {
 protected:
  SlowCheckTest() {
    runtime.set_time_scale(0.001);
    // A question ("Sair") is answered "Sim".
    runtime.set_message_box_hook([this](const std::string& text, int style) {
      if (style == form::kStyleQuestion) questions.push_back({text, running_commands.load()});
    });
    // The check's first two commands take a second each; the operator's
    // click comes during the first.
    commands.on_run = [this](std::string_view) {
      ++running_commands;
      if (slow_left > 0) {
        if (slow_left == 2 && to_press != nullptr) {
          commands_when_pressed = static_cast<int>(commands.lines.size());
          press(to_press);
        }
        --slow_left;
        Sleep(1000);
      }
      // A click that was lost leaves the monitor running: it is closed from
      // outside, and the test fails rather than hangs.
      if (commands.lines.size() == 100 && menu != nullptr) PostMessageW(menu, WM_CLOSE, 0, 0);
      --running_commands;
      return platform::Status();
    };
  }

  std::string log_file() { return files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"); }

  struct Question {
    std::string text;
    int running_commands;
  };

  platform::MemoryFileSystem files;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 5};
  test::FakeCommandRunner commands;
  test::FakePrintService printing{&clock};
  test::NoKeyedFiles keyed;
  platform::Platform services{files, clock, commands, printing, keyed};
  log::Alerts board{app::Application::log_line(services)};
  log::CheckReport report;
  test::FakeReprints reprints;
  app::Application application{services, "localhost", board, report, reprints};
  app::Session session{application};
  Win32Runtime runtime{session.forms(), commands};

  std::atomic<int> running_commands{0};
  std::atomic<int> slow_left{2};
  std::atomic<HWND> to_press{nullptr};
  int commands_when_pressed = -1, running_when_reprint_opened = -1;
  std::vector<std::string> opened;
  std::vector<Question> questions;
  HWND menu = nullptr, reprint_window = nullptr;
};

TEST_F(SlowCheckTest, SairClickedDuringTheCheckEndsTheMonitorAfterIt) {
  runtime.set_form_built_hook([this](std::string_view form, HWND window) {
    opened.emplace_back(form);
    if (form == "00-MENU") {
      menu = window;
      to_press = find_control(window, "Bt_Confirma8");
    }
  });
  EXPECT_EQ(runtime.run(app::kStartForm), 0);
  EXPECT_EQ(commands_when_pressed, 1);  // pressed while the check's first command ran
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].text, "Parar o monitor? As comandas deixam de ser impressas.");
  EXPECT_EQ(questions[0].running_commands, 0);  // asked once the check was over
  EXPECT_EQ(std::count(opened.begin(), opened.end(), "90-COMANDAS"), 1);
  const std::string log = log_file();
  const auto checked = log.find("Checando Comandas");
  const auto ended = log.find("Fim do monitor");
  ASSERT_NE(checked, std::string::npos);
  ASSERT_NE(ended, std::string::npos);
  EXPECT_LT(checked, ended);
  EXPECT_EQ(runtime.open_forms(), 0);
}

TEST_F(SlowCheckTest, ReimprimirClickedDuringTheCheckOpensTheListAfterIt) {
  bool closed_list = false, exit_clicked = false;
  runtime.set_form_built_hook([&](std::string_view form, HWND window) {
    opened.emplace_back(form);
    if (form == "00-MENU") {
      menu = window;
      to_press = find_control(window, "Bt_Reimprimir");
    }
    if (form == "02-REIMPRIME") {
      reprint_window = window;
      running_when_reprint_opened = running_commands.load();
      // The list is closed, then the monitor ended. The step outlives the
      // test's run (it ends at the next timer after the monitor's window has
      // gone), so it touches the test only while that window stands.
      poll([monitor = menu, list = window, &closed_list, &exit_clicked, r = &runtime] {
        if (IsWindow(monitor) == FALSE) return true;
        if (!closed_list && IsWindow(list) != FALSE) {
          click(find_control(list, "Bt_Fechar"));
          closed_list = true;
        }
        if (closed_list && r->open_forms() == 1 && !exit_clicked) {
          click(find_control(monitor, "Bt_Confirma8"));
          exit_clicked = true;
        }
        return false;
      });
    }
  });
  EXPECT_EQ(runtime.run(app::kStartForm), 0);
  EXPECT_EQ(commands_when_pressed, 1);
  // Opened once, after the check's form, with no command of the check running.
  EXPECT_EQ(std::count(opened.begin(), opened.end(), "02-REIMPRIME"), 1);
  const auto check_at = std::find(opened.begin(), opened.end(), "90-COMANDAS");
  const auto list_at = std::find(opened.begin(), opened.end(), "02-REIMPRIME");
  ASSERT_NE(list_at, opened.end());
  EXPECT_LT(check_at, list_at);
  EXPECT_EQ(running_when_reprint_opened, 0);
  EXPECT_TRUE(closed_list);
  EXPECT_NE(log_file().find("Fim do monitor"), std::string::npos);
}

}  // namespace
}  // namespace kav::ui::win32::testing
