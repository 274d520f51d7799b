// The real application's forms on real windows: the monitor as the
// operator sees it, its polling cycle and its buttons.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <QAbstractItemModel>
#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTableView>
#include <cstdlib>
#include <thread>

#include "app/application.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/fakes.h"
#include "ui/qt/qt_runtime.h"

namespace kav::ui::qt {
namespace {

using ::testing::ElementsAre;

struct Box {
  std::string form_on_top;
  std::string text;
  int style;
};

class MonitorWindowTest : public ::testing::Test {
 protected:
  MonitorWindowTest() {
    runtime.set_time_scale(0.001);  // a second of the design lasts a millisecond
    runtime.set_message_box_hook([this](const std::string& text, int style) {
      boxes.push_back({on_top, text, style});
    });
    runtime.set_form_shown_hook([this](std::string_view form, QWidget& window) {
      opened.emplace_back(form);
      // The log form closes within its own opening: a box comes from the form under it.
      if (form != "99-LOG") on_top = std::string(form);
      if (form == "00-MENU") {
        menu = &window;
        list = window.findChild<QTableView*>("Lv_Proc");
        bar = window.findChild<QProgressBar*>("Cm_Progress");
        export_button = window.findChild<QPushButton*>("Bt_Confirma7");
        exit_button = window.findChild<QPushButton*>("Bt_Confirma8");
        if (bar != nullptr) {
          QObject::connect(bar, &QProgressBar::valueChanged, [this](int v) { bar_values.push_back(v); });
        }
        if (on_menu) on_menu(window);
      }
    });
  }

  // Calls `step` every millisecond, inside whatever event loop is running,
  // until it returns true.
  void poll(std::function<bool()> step) {
    auto* timer = new QTimer(menu);
    QObject::connect(timer, &QTimer::timeout, [timer, step = std::move(step)] {
      if (step()) timer->stop();
    });
    timer->start(1);
  }

  std::string log_file() { return files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"); }

  platform::MemoryFileSystem files;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 5};
  test::FakeCommandRunner commands;
  test::FakePrintService printing;
  test::NoKeyedFiles keyed;
  platform::Platform services{files, clock, commands, printing, keyed};
  app::Application application{services, "localhost"};
  QtRuntime runtime{application.forms(), commands};

  std::function<void(QWidget&)> on_menu;
  std::vector<std::string> opened;
  std::string on_top;
  std::vector<Box> boxes;
  std::vector<int> bar_values;
  QWidget* menu = nullptr;
  QTableView* list = nullptr;
  QProgressBar* bar = nullptr;
  QPushButton* export_button = nullptr;
  QPushButton* exit_button = nullptr;
  // State of the polling steps, which outlive the hook that starts them.
  bool tried_during_check = false;
  int stage = 0;
  QString row;
};

TEST_F(MonitorWindowTest, OpensAsDesignedChecksOnTheFifthTickAndEndsWithSair) {
  on_menu = [&](QWidget& w) {
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Monitor Comandas (19.11c)"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Status"));
    EXPECT_EQ(list->columnWidth(0), 500);
    EXPECT_EQ(list->model()->rowCount(), 0);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 5);
    EXPECT_EQ(bar->value(), 0);
    ASSERT_NE(export_button, nullptr);
    EXPECT_EQ(export_button->text(), QStringLiteral("Exportar Cadastros"));
    ASSERT_NE(exit_button, nullptr);
    EXPECT_EQ(exit_button->text(), QStringLiteral("Sair"));
    EXPECT_FALSE(exit_button->icon().isNull());

    poll([&] {
      if (runtime.open_forms() > 1) {
        // A check is open: the monitor takes no click, not even this one.
        if (!tried_during_check) exit_button->click();
        tried_during_check = true;
        return false;
      }
      if (list->model()->rowCount() == 0) return false;
      // Back from the first check: the operator ends the program.
      row = list->model()->index(0, 0).data().toString();
      if (const char* shot = std::getenv("KAV_MONITOR_SCREENSHOT")) menu->grab().save(QString::fromLocal8Bit(shot));
      exit_button->click();  // dropped while the check's handler is still busy: tried again
      return false;
    });
  };

  EXPECT_EQ(runtime.run("00-MENU"), 0);

  // Four ticks only step the bar; the fifth brings it back to 0 and checks.
  ASSERT_GE(bar_values.size(), 6u);
  EXPECT_THAT(std::vector<int>(bar_values.begin(), bar_values.begin() + 6), ElementsAre(1, 2, 3, 4, 5, 0));
  // One row and one log line per check, then the order-processing form.
  EXPECT_THAT(opened, ElementsAre("00-MENU", "99-LOG", "90-COMANDAS"));
  EXPECT_EQ(row, QStringLiteral("14:38:05 - Checando Comandas ..."));
  EXPECT_EQ(log_file(), record::padded("20191127 1438 14:38:05 - Checando Comandas ...", 120) + "\n");
  EXPECT_FALSE(commands.lines.empty());  // the order-processing form asked the web application
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(runtime.open_forms(), 0);
}

// Without ERP files the export reports the failed open in an error box and
// closes; the polling goes on afterwards.
TEST_F(MonitorWindowTest, ExportButtonRunsTheExportFormAndThePollingGoesOn) {
  on_menu = [&](QWidget&) {
    poll([&] {
      if (runtime.open_forms() > 1) return false;
      if (stage == 0) {
        // Runs 01-EXPORTA to its end, nested in this call; a click that
        // comes while a check is busy is dropped, so try again.
        export_button->click();
        if (std::find(opened.begin(), opened.end(), "01-EXPORTA") != opened.end()) stage = 1;
        return false;
      }
      if (list->model()->rowCount() == 0) return false;  // a check after the export
      exit_button->click();  // dropped while a check is busy: the poll goes on until it ends the form
      return false;
    });
  };
  EXPECT_EQ(runtime.run("00-MENU"), 0);
  EXPECT_EQ(std::count(opened.begin(), opened.end(), "01-EXPORTA"), 1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].form_on_top, "01-EXPORTA");
  EXPECT_EQ(boxes[0].style, form::kStyleError);
  EXPECT_EQ(boxes[0].text, "Erro na abertura do PRODUTO.ORB !!!");
}

// The alerts that stand show in red below the buttons, whichever thread
// raised them, and leave when they end. KAV_ALERTS_SCREENSHOT=FILE.png saves
// the window with two alerts standing after the first check.
TEST_F(MonitorWindowTest, AlertsShowBelowTheButtonsWhileTheyStand) {
  log::Alerts& alerts = application.alerts();
  const std::string web = "Servidor web sem resposta em GET_KAVCMD.php?COMANDO=CMD_IMP (15 s) !!!";
  const std::string printer =
      "Impressora COZINHA n\xE3o recebeu o ticket 20191127-14380500-000001 da Comanda 0012 (papel, ligada?) !!!";
  // Under a key of the test's own: a check that ends well clears "web".
  alerts.raise("teste:web", web);
  std::thread other([&] { alerts.raise("impressora:COZINHA", printer); });
  other.join();
  QTableView* shown = nullptr;
  std::vector<QString> texts;
  on_menu = [&](QWidget& w) {
    shown = w.findChild<QTableView*>("Lv_Alertas");
    ASSERT_NE(shown, nullptr);
    EXPECT_GE(shown->geometry().top(), exit_button->geometry().bottom());
    EXPECT_LE(shown->geometry().bottom(), w.height());
    EXPECT_EQ(shown->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Alertas"));
    EXPECT_EQ(shown->palette().color(QPalette::Text), QColor(0xC0, 0, 0));
    EXPECT_EQ(shown->model()->rowCount(), 0);  // until the first tick
    poll([&] {
      if (runtime.open_forms() > 1) return false;
      if (stage == 0) {
        if (shown->model()->rowCount() < 2 || list->model()->rowCount() == 0) return false;
        for (int i = 0; i < shown->model()->rowCount(); ++i) texts.push_back(shown->model()->index(i, 0).data().toString());
        texts.push_back(list->model()->index(0, 0).data().toString());
        if (const char* shot = std::getenv("KAV_ALERTS_SCREENSHOT")) menu->grab().save(QString::fromLocal8Bit(shot));
        std::thread([&] { alerts.clear("teste:web"); }).join();
        stage = 1;
        return false;
      }
      if (shown->model()->rowCount() != 1) return false;
      row = shown->model()->index(0, 0).data().toString();
      exit_button->click();  // dropped while a check is busy: tried again
      return false;
    });
  };
  EXPECT_EQ(runtime.run("00-MENU"), 0);
  // The status list goes on as before beside them.
  EXPECT_THAT(texts, ElementsAre(QString::fromStdString(web), QString::fromStdString(record::to_utf8(printer)),
                                 QStringLiteral("14:38:05 - Checando Comandas ...")));
  EXPECT_EQ(row, QString::fromStdString(record::to_utf8(printer)));
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace kav::ui::qt
