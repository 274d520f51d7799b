// The real application's forms on native windows: the monitor as the
// operator sees it, its polling cycle and its buttons.
//
// KAV_MONITOR_SCREENSHOT=Z:\\tmp\\monitor.bmp (a Windows path) makes the first
// test write the monitor window as it stands after its first check; that is
// how docs/monitor-windows.png was taken under Wine (then made a PNG).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "app/application.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/line_end.h"
#include "record/area.h"
#include "support/fakes.h"
#include "ui/win32/win32_support.h"

namespace kav::ui::win32 {
namespace {

using ::testing::ElementsAre;
using namespace ::kav::ui::win32::testing;

struct Box {
  std::string form_on_top;
  std::string text;
  int style;
};

// Writes what `window` shows (frame included) as a 24-bit BMP.
void save_bmp(HWND window, const char* path) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  HDC source = GetWindowDC(window);
  BitBlt(dc, 0, 0, w, h, source, 0, 0, SRCCOPY);
  ReleaseDC(window, source);
  GdiFlush();
  const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
  const DWORD size = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) + size, 0, 0,
                        static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
  out.write(static_cast<const char*>(bits), size);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

class MonitorWindowTest : public ::testing::Test {
 protected:
  MonitorWindowTest() {
    runtime.set_time_scale(0.001);  // a second of the design lasts a millisecond
    runtime.set_message_box_hook([this](const std::string& text, int style) {
      boxes.push_back({on_top, text, style});
    });
    runtime.set_form_built_hook([this](std::string_view form, HWND window) {
      opened.emplace_back(form);
      // The log form closes within its own opening: a box comes from the form under it.
      if (form != "99-LOG") on_top = std::string(form);
      if (form == "00-MENU") {
        menu = window;
        list = find_control(window, "Lv_Proc");
        bar = find_control(window, "Cm_Progress");
        export_button = find_control(window, "Bt_Confirma7");
        exit_button = find_control(window, "Bt_Confirma8");
        if (on_menu) on_menu(window);
      }
    });
  }

  std::string log_file() { return files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"); }

  platform::MemoryFileSystem files;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 5};
  test::FakeCommandRunner commands;
  test::FakePrintService printing;
  test::NoKeyedFiles keyed;
  platform::Platform services{files, clock, commands, printing, keyed};
  app::Application application{services, "localhost"};
  Win32Runtime runtime{application.forms(), commands};

  std::function<void(HWND)> on_menu;
  std::vector<std::string> opened;
  std::string on_top;
  std::vector<Box> boxes;
  HWND menu = nullptr, list = nullptr, bar = nullptr, export_button = nullptr, exit_button = nullptr;
};

TEST_F(MonitorWindowTest, OpensAsDesignedChecksOnTheFifthTickAndEndsWithSair) {
  std::vector<int> bar_values;
  bool tried_during_check = false, enabled_during_check = true;
  std::string row;
  on_menu = [&](HWND w) {
    EXPECT_EQ(text_of(w), "Monitor Comandas (19.11c)");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(column_title(list, 0), "Status");
    EXPECT_EQ(row_count(list), 0);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 5);
    EXPECT_EQ(text_of(export_button), "Exportar Cadastros");
    EXPECT_EQ(text_of(exit_button), "Sair");

    poll([&] {
      if (bar_values.empty() || bar_values.back() != progress_of(bar)) bar_values.push_back(progress_of(bar));
      if (runtime.open_forms() > 1) {
        // A check is open: the monitor takes no click, not even this one.
        if (!tried_during_check) click(exit_button);
        tried_during_check = true;
        enabled_during_check = IsWindowEnabled(menu) != FALSE;
        return false;
      }
      if (row_count(list) == 0 || progress_of(bar) < 2) return false;
      // Back from the first check and two ticks on: the operator ends the program.
      row = row_text(list, 0);
      if (const char* shot = std::getenv("KAV_MONITOR_SCREENSHOT")) {
        RedrawWindow(menu, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        save_bmp(menu, shot);
      }
      click(exit_button);
      return true;
    });
  };

  EXPECT_EQ(runtime.run("00-MENU"), 0);

  // The bar climbs to 4 (a poll may miss a value), drops back to 0 for the
  // check and climbs again.
  const auto drop = std::is_sorted_until(bar_values.begin(), bar_values.end());
  ASSERT_NE(drop, bar_values.end());
  EXPECT_EQ(*drop, 0);
  EXPECT_LE(*(drop - 1), 4);
  EXPECT_GE(bar_values.back(), 2);
  EXPECT_TRUE(tried_during_check);
  EXPECT_FALSE(enabled_during_check);
  // One row and one log line per check, then the order-processing form.
  EXPECT_THAT(opened, ElementsAre("00-MENU", "99-LOG", "90-COMANDAS"));
  EXPECT_EQ(row, "14:38:05 - Checando Comandas ...");
  EXPECT_EQ(log_file(),
            record::padded("20191127 1438 14:38:05 - Checando Comandas ...", 120) + std::string(platform::kLineEnd));
  EXPECT_FALSE(commands.lines.empty());  // the order-processing form asked the web application
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(runtime.open_forms(), 0);
}

// Without ERP files the export reports the failed open in an error box and
// closes; the polling goes on afterwards.
TEST_F(MonitorWindowTest, ExportButtonRunsTheExportFormAndThePollingGoesOn) {
  int stage = 0;
  on_menu = [&](HWND) {
    poll([&] {
      if (runtime.open_forms() > 1) return false;
      if (stage == 0) {
        click(export_button);  // runs 01-EXPORTA to its end, nested in this call
        stage = 1;
        return false;
      }
      if (row_count(list) == 0) return false;  // a check after the export
      click(exit_button);
      return true;
    });
  };
  EXPECT_EQ(runtime.run("00-MENU"), 0);
  ASSERT_GE(opened.size(), 2u);
  EXPECT_EQ(opened[1], "01-EXPORTA");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].form_on_top, "01-EXPORTA");
  EXPECT_EQ(boxes[0].style, form::kStyleError);
  EXPECT_EQ(boxes[0].text, "Erro na abertura do PRODUTO.ORB !!!");
}

// The alerts that stand show in red below the buttons, whichever thread
// raised them, and leave when they end.
TEST_F(MonitorWindowTest, AlertsShowBelowTheButtonsWhileTheyStand) {
  log::Alerts& alerts = application.alerts();
  const std::string web = "Servidor web sem resposta (15 s) !!!";
  const std::string printer = "Impressora COZINHA n\xE3o recebeu o ticket 20191127-14380500-000001 !!!";
  alerts.raise("teste:web", web);  // a check that ends well clears "web"
  std::thread([&] { alerts.raise("impressora:COZINHA", printer); }).join();
  HWND shown = nullptr;
  int stage = 0;
  std::vector<std::string> texts;
  on_menu = [&](HWND w) {
    shown = find_control(w, "Lv_Alertas");
    ASSERT_NE(shown, nullptr);
    RECT a{}, b{};
    GetWindowRect(shown, &a);
    GetWindowRect(exit_button, &b);
    EXPECT_GE(a.top, b.bottom);
    EXPECT_EQ(column_title(shown, 0), "Alertas");
    EXPECT_EQ(SendMessageW(shown, LVM_GETTEXTCOLOR, 0, 0), static_cast<LRESULT>(RGB(0xC0, 0, 0)));
    EXPECT_EQ(row_count(shown), 0);  // until the first tick
    poll([&] {
      if (runtime.open_forms() > 1) return false;
      if (stage == 0) {
        if (row_count(shown) < 2) return false;
        for (int i = 0; i < row_count(shown); ++i) texts.push_back(row_text(shown, i));
        std::thread([&] { alerts.clear("teste:web"); }).join();
        stage = 1;
        return false;
      }
      if (row_count(shown) != 1) return false;
      texts.push_back(row_text(shown, 0));
      click(exit_button);
      return true;
    });
  };
  EXPECT_EQ(runtime.run("00-MENU"), 0);
  const std::string printer_utf8 = "Impressora COZINHA n\u00E3o recebeu o ticket 20191127-14380500-000001 !!!";
  EXPECT_THAT(texts, ElementsAre(web, printer_utf8, printer_utf8));
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace kav::ui::win32
