#include "ui/qt/qt_runtime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateEdit>
#include <QFontInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <tuple>

#include "ui/qt/key_codes.h"
#include "ui/qt/qt_driver.h"
#include "ui/runtime_contract_tests.h"

namespace kav::ui::contract {
// The contract's shared tests, on Qt widgets.
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, RuntimeContractTest, ::kav::ui::qt::testing::QtDriver);
}  // namespace kav::ui::contract

namespace kav::ui::qt {
namespace {

using ::testing::ElementsAre;
using ::kav::ui::contract::ScriptedForm;

// The Qt runtime's own looks and ways, beside the shared contract tests.
class QtRuntimeTest : public contract::RuntimeContractTest<testing::QtDriver> {};

// A list's column titles.
QString title(const QAbstractItemView& list, int column) {
  return list.model()->headerData(column, Qt::Horizontal).toString();
}

// A called form's window shows only after a while; these tests look at it at once.
void show_now(QWidget& w) { w.show(); }

TEST_F(QtRuntimeTest, BuildsEveryControlOfTheDesign) {
  ScriptedForm& f = every_control_form();
  on_built = [&](std::string_view, QWidget* window) {
    QWidget& w = *window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Monitor Comandas (19.11c)"));
    EXPECT_EQ(w.size(), QSize(540, 330));
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isModal());

    auto* list = w.findChild<QTableView*>("Lv_Proc");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->model()->columnCount(), 1);
    EXPECT_EQ(title(*list, 0), QStringLiteral("Status"));
    EXPECT_FALSE(list->horizontalHeader()->isHidden());
    EXPECT_EQ(list->columnWidth(0), 500);
    EXPECT_EQ(list->geometry(), QRect(10, 10, 518, 218));
    EXPECT_EQ(list->model()->rowCount(), 0);
    EXPECT_TRUE(list->font().bold());
    EXPECT_DOUBLE_EQ(list->font().pointSizeF(), 9.0);
    EXPECT_EQ(list->font().families().front(), QStringLiteral("Verdana"));

    auto* bar = w.findChild<QProgressBar*>("Cm_Progress");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 5);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->size(), QSize(518, 11));

    auto* export_button = w.findChild<QPushButton*>("Bt_Confirma7");
    ASSERT_NE(export_button, nullptr);
    EXPECT_EQ(export_button->text(), QStringLiteral("Exportar Cadastros"));
    EXPECT_EQ(export_button->size(), QSize(277, 55));
    EXPECT_TRUE(export_button->font().bold());
    EXPECT_DOUBLE_EQ(export_button->font().pointSizeF(), 14.25);
    EXPECT_EQ(export_button->font().families().front(), QStringLiteral("Tahoma"));
    // Whatever face stands in for a missing family, it is a real one.
    EXPECT_FALSE(QFontInfo(export_button->font()).family().isEmpty());
    EXPECT_FALSE(export_button->autoDefault());

    auto* exit_button = w.findChild<QPushButton*>("Bt_Confirma8");
    ASSERT_NE(exit_button, nullptr);
    EXPECT_EQ(exit_button->text(), QStringLiteral("Sair"));
    EXPECT_FALSE(exit_button->icon().isNull());
    EXPECT_TRUE(export_button->icon().isNull());

    auto* group = w.findChild<QGroupBox*>("Frm_Bloq");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), QStringLiteral("Aguarde !!"));
    EXPECT_FALSE(group->isVisible());
    auto* label = w.findChild<QLabel*>("CmStatic1");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->parentWidget(), group);
    EXPECT_EQ(label->pos(), QPoint(5, 25));

    auto* date = w.findChild<QDateEdit*>("Ed_DTSIS");
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(date->displayFormat(), QStringLiteral("dd/MM/yyyy"));
    EXPECT_EQ(date->date(), QDate::currentDate());

    auto* timer = w.findChild<QTimer*>("Cm_Timer");
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1);  // 1000 ms at a scale of 1/1000
  };
  run_every_control_form(f);
}

// Without the hook the operator gets a real box: the icon follows the style.
// It returns at once and stays up after the form that showed it has closed;
// a new box replaces the one left open (one at a time), and OK, Return and
// Escape each close it.
TEST_F(QtRuntimeTest, MessageBoxWithoutHookStaysUpOneAtATimeAndClosesWithOkReturnOrEscape) {
  runtime.set_message_box_hook(nullptr);
  ScriptedForm& start = form("START");
  start.add_timer("T", 1);
  ScriptedForm& f = form("F");
  f.add_timer("T", 1);
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    for (int style : {form::kStyleError, form::kStyleInformation}) ctx.show_message_box("Aguarde !!!   ", style);
    ctx.end_form();
  };
  std::vector<std::tuple<QMessageBox::Icon, QString, bool>> seen;
  std::vector<bool> closed_by_key;
  start.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    ctx.run_form_modal("F");
    testing::QtDriver::pump_events_ms(20);  // the replaced box goes
    for (QMessageBox* box : testing::QtDriver::boxes()) {
      seen.emplace_back(box->icon(), box->text(), box->isModal());
      EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    }
    for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
      ctx.show_message_box("Tecla", form::kStyleInformation);
      testing::QtDriver::pump_events_ms(20);
      ASSERT_EQ(testing::QtDriver::boxes().size(), 1u);
      QMessageBox* box = testing::QtDriver::boxes().front();
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
      QApplication::sendEvent(box->focusWidget() != nullptr ? box->focusWidget() : box, &press);
      testing::QtDriver::pump_events_ms(20);
      closed_by_key.push_back(testing::QtDriver::boxes().empty());
    }
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("START"), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(std::get<0>(seen[0]), QMessageBox::Information);
  EXPECT_EQ(std::get<1>(seen[0]), QStringLiteral("Aguarde !!!"));
  EXPECT_TRUE(std::get<2>(seen[0]));  // modal while up, yet the form went on
  EXPECT_THAT(closed_by_key, ::testing::ElementsAre(true, true));
}

TEST_F(QtRuntimeTest, CloseButtonEndsOnlyTheStartFormAndEscapeClosesNothing) {
  ScriptedForm& start = form("START");
  start.add_timer("T", 1);
  ScriptedForm& called = form("CALLED");
  called.add_timer("T", 30);
  std::vector<std::pair<std::uint16_t, std::uint16_t>> keys;
  start.on_key = [&](form::FormContext&, std::uint16_t& key, std::uint16_t shift) { keys.emplace_back(key, shift); };
  QWidget* start_window = nullptr;
  on_built = [&](std::string_view name, QWidget* window) {
    QWidget& w = *window;
    if (name == "START") start_window = &w;
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    if (name == "CALLED") show_now(w);
    QApplication::sendEvent(&w, &escape);
    EXPECT_TRUE(w.isVisible());
    if (name == "CALLED") {
      EXPECT_FALSE(w.close());  // the called form closes itself
      EXPECT_TRUE(w.isVisible());
    }
  };
  called.on_tick = [](form::FormContext& ctx, std::string_view) { ctx.end_form(); };
  start.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    ctx.run_form_modal("CALLED");
    // The operator presses Shift+F5, then the window's close button.
    QTimer::singleShot(1, [&] {
      QKeyEvent f5(QEvent::KeyPress, Qt::Key_F5, Qt::ShiftModifier);
      QApplication::sendEvent(start_window, &f5);
      start_window->close();
    });
  };
  EXPECT_EQ(runtime.run("START"), 0);
  EXPECT_THAT(called.events, ElementsAre("open", "tick:T", "close"));
  EXPECT_THAT(start.events, ElementsAre("open", "tick:T", "close"));
  EXPECT_THAT(keys, ElementsAre(std::make_pair(std::uint16_t{0x1B}, std::uint16_t{0}),
                                std::make_pair(std::uint16_t{0x74}, kShiftKey)));
}

// A called form the operator keeps open (the reprint list) closes with its
// window's close button, as by EndForm, and its caller goes on.
TEST_F(QtRuntimeTest, CloseButtonEndsACalledFormThatClosesOnRequest) {
  ScriptedForm& start = form("START");
  start.add_timer("T", 1);
  ScriptedForm& called = form("CALLED");
  called.edit().closes_on_request = true;
  on_built = [&](std::string_view name, QWidget* window) {
    if (name != "CALLED") return;
    show_now(*window);
    QTimer::singleShot(1, [window] { window->close(); });
  };
  start.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    ctx.run_form_modal("CALLED");
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("START"), 0);
  EXPECT_THAT(called.events, ElementsAre("open", "close"));
  EXPECT_THAT(start.events, ElementsAre("open", "tick:T", "close"));
}

// Records which forms' windows were shown and painted, and the clicks that
// reached a button.
class WindowWatch : public QObject {
 public:
  WindowWatch() { qApp->installEventFilter(this); }
  ~WindowWatch() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* target, QEvent* event) override {
    if (target->isWidgetType() && static_cast<QWidget*>(target)->isWindow()) {
      const std::string name = target->objectName().toStdString();
      if (event->type() == QEvent::Show) shown.push_back(name);
      if (event->type() == QEvent::Paint) painted.push_back(name);
    }
    return false;
  }
  std::vector<std::string> shown, painted;
};

// The log form and a check without work close at once and never flash a
// window; a form that waits longer shows and is painted while it waits, and
// the start form below it takes no click meanwhile.
TEST_F(QtRuntimeTest, OnlyAFormStillOpenAfterTheDelayShowsAndItsWaitIsDrawn) {
  ScriptedForm& start = form("00-MENU");
  start.add_timer("Cm_Timer", 1);
  start.add_control("Bt_Sair", form::ControlKind::button, "Sair");
  ScriptedForm& log = form("99-LOG");
  log.on_open = [](form::FormContext& ctx) { ctx.end_form(); };
  ScriptedForm& quick = form("90-QUICK");
  quick.add_timer("CmTimer1", 1);
  quick.on_tick = [](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("CmTimer1", false);
    ctx.run_command_line("CMD.EXE /C RAPIDO", 0).ignore();
    ctx.end_form();
  };
  ScriptedForm& slow = form("90-SLOW");
  slow.add_timer("CmTimer1", 1);
  slow.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("CmTimer1", false);
    runner.takes_ms = 2400;
    // The operator clicks "Sair" on the monitor while the command runs.
    QTimer::singleShot(1600, [&] {
      auto* button = qApp->findChild<QPushButton*>("Bt_Sair");
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = w->findChild<QPushButton*>("Bt_Sair")) button = b;
      }
      ASSERT_NE(button, nullptr);
      QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
      QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                          Qt::NoModifier);
      QApplication::sendEvent(button, &press);
      QApplication::sendEvent(button, &release);
    });
    ctx.run_command_line("CMD.EXE /C DEMORADO", 0).ignore();
    runner.takes_ms = 0;
    ctx.end_form();
  };
  start.on_tick = [](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("Cm_Timer", false);
    ctx.run_form_modal("99-LOG");
    ctx.run_form_modal("90-QUICK");
    ctx.run_form_modal("90-SLOW");
    ctx.end_form();
  };
  // Generous times: on a loaded machine the quick forms must still close
  // well within the delay.
  runtime.set_show_delay_ms(800);
  WindowWatch watch;
  EXPECT_EQ(runtime.run("00-MENU"), 0);
  EXPECT_THAT(watch.shown, ElementsAre("00-MENU", "90-SLOW"));
  EXPECT_NE(std::find(watch.painted.begin(), watch.painted.end(), "90-SLOW"), watch.painted.end());
  EXPECT_THAT(start.events, ElementsAre("open", "tick:Cm_Timer", "close"));  // the click never arrived
  ASSERT_EQ(runner.calls.size(), 2u);
}

}  // namespace
}  // namespace kav::ui::qt
