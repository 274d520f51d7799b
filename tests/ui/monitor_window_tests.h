// The real application's forms on real windows: the monitor as the operator
// sees it, its polling cycle and its buttons. One body for every windowing
// runtime, instantiated by its test program with its driver:
//
//   INSTANTIATE_TYPED_TEST_SUITE_P(Qt, MonitorWindowTest, QtDriver);
//
// Besides what runtime_contract_tests.h asks of a driver:
//   static void poll(Window form, std::function<bool()> step);
//       calls `step` about every millisecond inside whatever event loop runs,
//       until it returns true or the form's window is gone
//   static std::pair<int, int> progress_range(Window bar);  // minimum, maximum
//   static int column_width(Window list, int column);
//   static bool has_picture(Window button);
//   static Rect rect(Window control);       // in its form's window; bottom, right exclusive
//   static int client_height(Window form);
//   static void save_picture(Window form, const char* path);
// and optionally:
//   static void on_progress(Window bar, std::function<void(int)>);  // every value the bar takes
//
// KAV_MONITOR_SCREENSHOT=FILE saves the monitor window as it stands after a
// check with work (ChecksShowWhatTheyDidBelowTheirRow); KAV_ALERTS_SCREENSHOT=FILE
// saves it with two alerts standing; KAV_REPRINT_SCREENSHOT=FILE saves the
// reprint list with a ticket selected. (On Windows: a Windows path and a BMP file.)
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/application.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/line_end.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/fake_reprints.h"
#include "support/fake_web.h"
#include "support/fakes.h"

namespace kav::ui::contract {

template <class Driver>
class MonitorWindowTest : public ::testing::Test {
 protected:
  using D = Driver;
  using Window = typename Driver::Window;
  // The runtime reports every value its progress bar takes (else the tests poll it).
  static constexpr bool kSeesEveryProgress = requires(Window w) { D::on_progress(w, std::function<void(int)>{}); };

  struct Box {
    std::string form_on_top;
    std::string text;
    int style;
  };

  MonitorWindowTest() {
    runtime.set_time_scale(0.001);  // a second of the design lasts a millisecond
    runtime.set_message_box_hook([this](const std::string& text, int style) {
      // A question ("Sair") is answered "Sim" by the hook.
      (style == form::kStyleQuestion ? questions : boxes).push_back({on_top, text, style});
    });
    D::set_built_hook(runtime, [this](std::string_view form, Window window) {
      opened.emplace_back(form);
      // The log form closes within its own opening: a box comes from the form under it.
      if (form != "99-LOG") on_top = std::string(form);
      if (form == "02-REIMPRIME") reprint_window = window;
      if (form == "00-MENU") {
        menu = window;
        list = D::find(window, "Lv_Proc");
        bar = D::find(window, "Cm_Progress");
        export_button = D::find(window, "Bt_Confirma7");
        exit_button = D::find(window, "Bt_Confirma8");
        if constexpr (kSeesEveryProgress) {
          if (bar != nullptr) D::on_progress(bar, [this](int v) { bar_values.push_back(v); });
        }
        if (on_menu) on_menu(window);
      }
    });
  }

  std::string log_file() { return files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"); }

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
  typename Driver::Runtime runtime{application.forms(), commands};

  std::function<void(Window)> on_menu;
  std::vector<std::string> opened;
  std::string on_top;
  std::vector<Box> boxes;
  std::vector<Box> questions;
  std::vector<int> bar_values;
  Window menu = nullptr, list = nullptr, bar = nullptr, export_button = nullptr, exit_button = nullptr;
  Window reprint_window = nullptr;
  // State of the polling steps, which outlive the hook that starts them.
  bool tried_during_check = false, enabled_during_check = true;
  // No click is lost: each button is pressed once.
  bool exit_clicked = false, export_clicked = false, ticket_clicked = false, close_clicked = false;
  static void click_once(Window button, bool& clicked) {
    if (!clicked) D::click(button);
    clicked = true;
  }
  int stage = 0;
  std::string row;

 public:
  void opens_as_designed_checks_on_the_fifth_tick_and_ends_with_sair() {
    on_menu = [&](Window w) {
      EXPECT_EQ(D::text(w), "Monitor Comandas (19.11c)");
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(D::column_title(list, 0), "Status");
      EXPECT_EQ(D::column_width(list, 0), 500);
      EXPECT_EQ(D::row_count(list), 0);
      ASSERT_NE(bar, nullptr);
      EXPECT_EQ(D::progress_range(bar), std::make_pair(0, 5));
      EXPECT_EQ(D::progress(bar), 0);
      ASSERT_NE(export_button, nullptr);
      EXPECT_EQ(D::text(export_button), "Exportar Cadastros");
      ASSERT_NE(exit_button, nullptr);
      EXPECT_EQ(D::text(exit_button), "Sair");
      EXPECT_TRUE(D::has_picture(exit_button));

      D::poll(menu, [&] {
        if constexpr (!kSeesEveryProgress) {
          const int value = D::progress(bar);
          if (bar_values.empty() || bar_values.back() != value) bar_values.push_back(value);
        }
        if (runtime.open_forms() > 1) {
          // A check is open: "Sair" is taken and done when the check is over.
          if (D::row_count(list) > 0) row = D::row_text(list, 0);
          if (!tried_during_check) D::click(exit_button);
          tried_during_check = true;
          if constexpr (D::kDisablesCaller) enabled_during_check = D::enabled(menu);
          return false;
        }
        return false;
      });
    };

    EXPECT_EQ(runtime.run("00-MENU"), 0);

    if constexpr (kSeesEveryProgress) {
      // Four ticks only step the bar; the fifth brings it back to 0 and checks.
      ASSERT_GE(bar_values.size(), 6u);
      EXPECT_THAT(std::vector<int>(bar_values.begin(), bar_values.begin() + 6), ::testing::ElementsAre(1, 2, 3, 4, 5, 0));
    } else {
      // Seen by polling: the bar climbs to 4 (the fifth tick's 5 is back to 0
      // within the tick; a poll may miss a value), drops to 0 for the check
      // and climbs again.
      const auto drop = std::is_sorted_until(bar_values.begin(), bar_values.end());
      ASSERT_NE(drop, bar_values.end());
      EXPECT_EQ(*drop, 0);
      EXPECT_LE(*(drop - 1), 4);
    }
    EXPECT_TRUE(tried_during_check);
    if constexpr (D::kDisablesCaller) {
      EXPECT_TRUE(enabled_during_check);  // a check holds no click of the monitor's
    }
    // One row and one log line per check, then the order-processing form.
    EXPECT_THAT(opened, ::testing::ElementsAre("00-MENU", "99-LOG", "90-COMANDAS"));
    EXPECT_EQ(row, "14:38:05 - Checando Comandas ...");
    EXPECT_EQ(log_file(),
              record::padded("20191127 1438 14:38:05 - Checando Comandas ...", 120) + std::string(platform::kLineEnd));
    EXPECT_FALSE(commands.lines.empty());  // the order-processing form asked the web application
    // "Sair" asked once the check was over (the hook answers "Sim").
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].text, "Parar o monitor? As comandas deixam de ser impressas.");
    EXPECT_EQ(runtime.open_forms(), 0);
  }

  // A check with work: below its row, a row per order printed with its
  // printers, and a row per failure (here a page that answers the
  // cancellations with an HTTP error, which stands as an alert too).
  void checks_show_what_they_did_below_their_row() {
    test::FakeWeb web{files, commands};
    web.queue("CMD_IMP", record::cp1252("<0012><000345><Mesa 05 - Salão principal><04><Garçom: João>\n"
                                        "<0012><000101><Filé à parmegiana><000002,000><0000045,90><><COZINHA>\n"
                                        "<0012><000201><Caipirinha de limão><000003,000><0000018,50><><BAR>\n"));
    web.http_errors["CAN_ITE"] = 1;
    web.queue("CMD_FEC", record::cp1252("<0015><000345><Mesa 07><02><Garçom: João><CAIXA><10>\n"
                                        "<000101><Filé à parmegiana><000002,000><0000012,50>\n"));
    std::vector<std::string> rows;
    on_menu = [&](Window) {
      D::poll(menu, [&] {
        if (runtime.open_forms() > 1 || D::row_count(list) < 4) return false;
        if (rows.empty()) {  // the first check's rows (a later check may have added its own)
          for (int i = 0; i < 4; ++i) rows.push_back(D::row_text(list, i));
          if (const char* shot = std::getenv("KAV_MONITOR_SCREENSHOT")) D::save_picture(menu, shot);
        }
        click_once(exit_button, exit_clicked);  // taken even during a check
        return false;
      });
    };
    EXPECT_EQ(runtime.run("00-MENU"), 0);
    EXPECT_THAT(rows, ::testing::ElementsAre(
                          "14:38:05 - Checando Comandas ...", "   Comanda 0012 itens \u00BB COZINHA, BAR",
                          "   Falha na consulta CAN_ITE: o servidor respondeu com erro (p\u00E1gina ausente ou com "
                          "falha) !!!",
                          "   Comanda 0015 conta \u00BB CAIXA"));
    EXPECT_TRUE(boxes.empty());
  }

  // Without ERP files the export reports the failed open in an error box and
  // closes; the polling goes on afterwards.
  void export_button_runs_the_export_form_and_the_polling_goes_on() {
    on_menu = [&](Window) {
      D::poll(menu, [&] {
        if (runtime.open_forms() > 1) return false;
        if (stage == 0) {
          // Runs 01-EXPORTA to its end, nested in this call (or after the
          // check, when it comes during one).
          click_once(export_button, export_clicked);
          if (std::find(opened.begin(), opened.end(), "01-EXPORTA") != opened.end()) stage = 1;
          return false;
        }
        if (D::row_count(list) == 0) return false;  // a check after the export
        click_once(exit_button, exit_clicked);  // taken even during a check
        return false;
      });
    };
    EXPECT_EQ(runtime.run("00-MENU"), 0);
    EXPECT_EQ(std::count(opened.begin(), opened.end(), "01-EXPORTA"), 1);
    ASSERT_GE(opened.size(), 2u);
    EXPECT_EQ(opened[1], "01-EXPORTA");  // before the first check
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].form_on_top, "01-EXPORTA");
    EXPECT_EQ(boxes[0].style, form::kStyleError);
    EXPECT_EQ(boxes[0].text, "Erro na abertura do PRODUTO.ORB !!!");
  }

  // The export's error box left open (a real box, no hook): the checks go on
  // meanwhile, and the box is still up after the first of them.
  void the_exports_box_left_open_holds_no_check() {
    runtime.set_message_box_hook(nullptr);
    std::vector<std::string> up_after_check;
    int tries = 0, rows_with_box_up = 0;
    on_menu = [&](Window) {
      D::poll(menu, [&] {
        if (runtime.open_forms() > 1) return false;
        if (stage == 0) {
          click_once(export_button, export_clicked);
          if (std::find(opened.begin(), opened.end(), "01-EXPORTA") != opened.end()) stage = 1;
          return false;
        }
        if (stage == 1) {  // the box is up (a window runtime may draw it a moment later)
          if (D::open_boxes(runtime).empty() && ++tries < 5000) return false;
          rows_with_box_up = D::row_count(list);
          stage = 2;
        }
        if (stage == 2) {
          if (D::row_count(list) == rows_with_box_up) return false;  // a check while it stays up
          up_after_check = D::open_boxes(runtime);
          D::close_boxes(runtime);
          stage = 3;
          return false;
        }
        if (exit_clicked) D::close_boxes(runtime);  // "Sair" asks: "Sim"
        click_once(exit_button, exit_clicked);  // taken even during a check
        return false;
      });
    };
    EXPECT_EQ(runtime.run("00-MENU"), 0);
    EXPECT_THAT(up_after_check, ::testing::ElementsAre("Erro na abertura do PRODUTO.ORB !!!"));
    EXPECT_NE(log_file().find("Checando Comandas"), std::string::npos);
  }

  // The alerts that stand show in red below the buttons, whichever thread
  // raised them, and leave when they end.
  void alerts_show_below_the_buttons_while_they_stand() {
    log::Alerts& alerts = application.alerts();
    const std::string web = "Servidor web sem resposta em GET_KAVCMD.php?COMANDO=CMD_IMP (15 s) !!!";
    const std::string printer =
        "Impressora COZINHA n\xE3o recebeu o ticket 20191127-14380500-000001 da Comanda 0012 (papel, ligada?) !!!";
    // Under a key of the test's own: a check that ends well clears "web".
    alerts.raise("teste:web", web);
    std::thread([&] { alerts.raise("impressora:COZINHA", printer); }).join();
    Window shown = nullptr;
    std::vector<std::string> texts;
    on_menu = [&](Window w) {
      shown = D::find(w, "Lv_Alertas");
      ASSERT_NE(shown, nullptr);
      EXPECT_GE(D::rect(shown).top, D::rect(exit_button).bottom);
      EXPECT_LE(D::rect(shown).bottom, D::client_height(w));
      EXPECT_EQ(D::column_title(shown, 0), "Alertas");
      EXPECT_EQ(D::text_color(shown), 0xC00000u);
      EXPECT_EQ(D::row_count(shown), 0);  // until the first tick
      D::poll(menu, [&] {
        if (runtime.open_forms() > 1) return false;
        if (stage == 0) {
          if (D::row_count(shown) < 2 || D::row_count(list) == 0) return false;
          for (int i = 0; i < D::row_count(shown); ++i) texts.push_back(D::row_text(shown, i));
          // The status list goes on as before beside them.
          texts.push_back(D::row_text(list, 0));
          if (const char* shot = std::getenv("KAV_ALERTS_SCREENSHOT")) D::save_picture(menu, shot);
          std::thread([&] { alerts.clear("teste:web"); }).join();
          stage = 1;
          return false;
        }
        if (D::row_count(shown) != 1) return false;
        if (stage == 1) texts.push_back(D::row_text(shown, 0));
        stage = 2;
        click_once(exit_button, exit_clicked);  // taken even during a check
        return false;
      });
    };
    EXPECT_EQ(runtime.run("00-MENU"), 0);
    const std::string printer_utf8 = record::to_utf8(printer);
    EXPECT_THAT(texts, ::testing::ElementsAre(web, printer_utf8, "14:38:05 - Checando Comandas ...", printer_utf8));
    EXPECT_TRUE(boxes.empty());
  }

  // "Reimprimir" opens the recent tickets over the monitor; while they are
  // open the checks go on and their rows reach the monitor; the row the
  // operator selects is the ticket "Ticket (2ª via)" reprints.
  void the_reprint_list_holds_no_check_and_reprints_the_selected_ticket() {
    std::vector<std::string> cells;
    int rows_when_opened = -1, rows_while_open = -1;
    bool list_polled = false;
    on_menu = [&](Window w) {
      Window reprint_button = D::find(w, "Bt_Reimprimir");
      ASSERT_NE(reprint_button, nullptr);
      EXPECT_EQ(D::text(reprint_button), "Reimprimir");
      // Below the designed buttons and the alerts, inside the window.
      EXPECT_GE(D::rect(reprint_button).top, D::rect(D::find(w, "Lv_Alertas")).bottom);
      EXPECT_LE(D::rect(reprint_button).bottom, D::client_height(w));
      // The list, from inside its own event loop: a timer of its own (a
      // toolkit does not fire a timer again while its handler runs, and the
      // click that opens the list returns only when it has closed).
      const auto in_the_list = [&] {
        if (stage == 1) {
          if (runtime.open_forms() != 2 || reprint_window == nullptr) return false;
          if (D::row_count(list) < rows_when_opened + 2) return false;  // two checks meanwhile
          rows_while_open = D::row_count(list);
          Window tickets = D::find(reprint_window, "Lv_Tickets");
          if (cells.empty()) {
            for (int c = 0; c < 5; ++c) cells.push_back(D::column_title(tickets, c));
            for (int c = 0; c < 5; ++c) cells.push_back(D::cell_text(tickets, 3, c));
          }
          D::select(tickets, 1);
          if (const char* shot = std::getenv("KAV_REPRINT_SCREENSHOT")) D::save_picture(reprint_window, shot);
          click_once(D::find(reprint_window, "Bt_Ticket"), ticket_clicked);  // taken even while the list is busy
          if (!reprints.reprinted.empty()) stage = 2;
          return false;
        }
        if (stage != 2) return false;
        if (runtime.open_forms() == 2) click_once(D::find(reprint_window, "Bt_Fechar"), close_clicked);
        if (runtime.open_forms() != 1) return false;
        stage = 3;
        return true;
      };
      D::poll(menu, [&, reprint_button, in_the_list] {
        if (stage == 0) {
          if (runtime.open_forms() > 1) return false;
          stage = 1;
          if (!list_polled) D::poll(menu, in_the_list);
          list_polled = true;
          rows_when_opened = D::row_count(list);
          // Runs the list to its end, nested in this call (or after the
          // check, when it comes during one: never lost).
          D::click(reprint_button);
          return false;
        }
        if (stage != 3 || runtime.open_forms() > 1) return false;
        click_once(exit_button, exit_clicked);  // taken even during a check
        return false;
      });
    };
    EXPECT_EQ(runtime.run("00-MENU"), 0);
    EXPECT_GE(rows_while_open, rows_when_opened + 2);
    EXPECT_THAT(cells, ::testing::ElementsAre("Hora", "Comanda", "Impressora", "Tipo", "Situação", "14:20:00", "0007",
                                              "BAR", "cancelamento", "não entregue"));
    EXPECT_THAT(reprints.reprinted, ::testing::ElementsAre("20191127-14370000-000001"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Comanda 0012: 2ª via enviada para a impressora");
  }
};

TYPED_TEST_SUITE_P(MonitorWindowTest);

TYPED_TEST_P(MonitorWindowTest, OpensAsDesignedChecksOnTheFifthTickAndEndsWithSair) {
  this->opens_as_designed_checks_on_the_fifth_tick_and_ends_with_sair();
}
TYPED_TEST_P(MonitorWindowTest, ChecksShowWhatTheyDidBelowTheirRow) { this->checks_show_what_they_did_below_their_row(); }
TYPED_TEST_P(MonitorWindowTest, ExportButtonRunsTheExportFormAndThePollingGoesOn) {
  this->export_button_runs_the_export_form_and_the_polling_goes_on();
}
TYPED_TEST_P(MonitorWindowTest, TheExportsBoxLeftOpenHoldsNoCheck) { this->the_exports_box_left_open_holds_no_check(); }
TYPED_TEST_P(MonitorWindowTest, AlertsShowBelowTheButtonsWhileTheyStand) {
  this->alerts_show_below_the_buttons_while_they_stand();
}

TYPED_TEST_P(MonitorWindowTest, TheReprintListHoldsNoCheckAndReprintsTheSelectedTicket) {
  this->the_reprint_list_holds_no_check_and_reprints_the_selected_ticket();
}

REGISTER_TYPED_TEST_SUITE_P(MonitorWindowTest, OpensAsDesignedChecksOnTheFifthTickAndEndsWithSair,
                            ChecksShowWhatTheyDidBelowTheirRow,
                            ExportButtonRunsTheExportFormAndThePollingGoesOn, TheExportsBoxLeftOpenHoldsNoCheck,
                            AlertsShowBelowTheButtonsWhileTheyStand,
                            TheReprintListHoldsNoCheckAndReprintsTheSelectedTicket);

}  // namespace kav::ui::contract
