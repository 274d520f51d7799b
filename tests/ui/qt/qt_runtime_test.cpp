#include "ui/qt/qt_runtime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateEdit>
#include <QElapsedTimer>
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
#include <stdexcept>

#include "record/area.h"
#include "record/cp1252.h"
#include "ui/qt/key_codes.h"
#include "ui/qt/scripted_form.h"

namespace kav::ui::qt {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::kav::ui::qt::fakes::RecordingRunner;
using ::kav::ui::qt::fakes::ScriptedForm;

struct Box {
  std::string text;
  int style;
};

class QtRuntimeTest : public ::testing::Test {
 protected:
  QtRuntimeTest() : runtime(forms, runner) {
    runtime.set_message_box_hook([this](const std::string& text, int style) { boxes.push_back({text, style}); });
    runtime.set_form_shown_hook([this](std::string_view form, QWidget& window) {
      shown.emplace_back(form);
      if (on_shown) on_shown(form, window);
    });
  }

  ScriptedForm& form(std::string name, std::string caption = "Test") {
    owned.push_back(std::make_unique<ScriptedForm>(std::move(name), std::move(caption)));
    forms.add(*owned.back());
    return *owned.back();
  }

  form::FormSet forms;
  RecordingRunner runner;
  QtRuntime runtime;
  std::vector<std::unique_ptr<ScriptedForm>> owned;
  std::vector<Box> boxes;
  std::vector<std::string> shown;
  std::function<void(std::string_view, QWidget&)> on_shown;
};

// What a list shows: its rows, a row's text and its column titles.
int row_count(const QAbstractItemView& list) { return list.model()->rowCount(); }
QString row_text(const QAbstractItemView& list, int row, int column = 0) {
  return list.model()->index(row, column).data().toString();
}
QString title(const QAbstractItemView& list, int column) {
  return list.model()->headerData(column, Qt::Horizontal).toString();
}

// A called form's window shows only after a while; these tests look at it at once.
void show_now(QWidget& w) { w.show(); }

// The monitor's design, as the start form lays it out.
ScriptedForm& monitor_like(ScriptedForm& f) {
  f.edit().width = 540;
  f.edit().height = 330;
  f.add_timer("Cm_Timer", 1000);
  auto& list = f.add_control("Lv_Proc", form::ControlKind::list);
  list.x = 10, list.y = 10, list.width = 518, list.height = 218;
  list.columns = {{"Status", 500}};
  list.font = {"Verdana", 9, true};
  auto& bar = f.add_control("Cm_Progress", form::ControlKind::progress);
  bar.x = 10, bar.y = 232, bar.width = 518, bar.height = 11;
  bar.minimum = 0, bar.maximum = 5, bar.step = 1, bar.position = 0;
  auto& export_button = f.add_control("Bt_Confirma7", form::ControlKind::button, "Exportar Cadastros");
  export_button.x = 10, export_button.y = 250, export_button.width = 277, export_button.height = 55;
  export_button.font = {"Tahoma", 14.25, true};
  auto& exit_button = f.add_control("Bt_Confirma8", form::ControlKind::button, "Sair");
  exit_button.x = 295, exit_button.y = 250, exit_button.width = 233, exit_button.height = 55;
  exit_button.font = {"Tahoma", 14.25, true};
  exit_button.picture = "Bt_Sair";
  return f;
}

TEST_F(QtRuntimeTest, BuildsEveryControlOfTheDesign) {
  ScriptedForm& f = monitor_like(form("00-MENU", "Monitor Comandas (19.11c)"));
  auto& frame = f.add_control("Frm_Bloq", form::ControlKind::frame, "Aguarde !!");
  frame.x = 20, frame.y = 20, frame.width = 200, frame.height = 80;
  frame.visible = false;
  auto& inside = f.add_control("CmStatic1", form::ControlKind::static_text, "Registro sendo acessado");
  inside.parent = "Frm_Bloq";
  inside.x = 5, inside.y = 25;
  f.add_control("Ed_DTSIS", form::ControlKind::date_edit).format = "dd/MM/yyyy";
  runtime.set_time_scale(0.001);

  on_shown = [&](std::string_view, QWidget& w) {
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
    EXPECT_EQ(row_count(*list), 0);
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
  f.on_tick = [](form::FormContext& ctx, std::string_view) { ctx.end_form(); };

  EXPECT_EQ(runtime.run("00-menu"), 0);
  EXPECT_THAT(shown, ElementsAre("00-MENU"));
  EXPECT_THAT(f.events, ElementsAre("open", "tick:Cm_Timer", "close"));
}

TEST_F(QtRuntimeTest, ShowsWindows1252TextAsUnicode) {
  // "Importação" and a euro sign, as the forms hold them.
  const std::string caption = "Importa\xE7\xE3o \x80 5";
  ScriptedForm& f = form("F", caption);
  f.add_control("Bt_X", form::ControlKind::button, "Exporta\xE7\xE3o");
  auto& list = f.add_control("Lv_X", form::ControlKind::list);
  list.columns = {{"Situa\xE7\xE3o", 100}};
  f.add_timer("T", 1);
  QTableView* shown_list = nullptr;
  on_shown = [&](std::string_view, QWidget& w) {
    shown_list = w.findChild<QTableView*>("Lv_X");
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Importação € 5"));
    EXPECT_EQ(w.windowTitle().at(11), QChar(0x20AC));
    EXPECT_EQ(w.findChild<QPushButton*>("Bt_X")->text(), QString::fromUtf8("Exportação"));
    EXPECT_EQ(title(*w.findChild<QTableView*>("Lv_X"), 0), QString::fromUtf8("Situação"));
  };
  QString row;
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    // The contract hands over the whole 210-character field.
    const form::ListRow r = ctx.get_list_row("Lv_X", ctx.add_list_row("Lv_X", 1, 1));
    ctx.set_list_row_text(r, record::padded("Comanda 12 \x80 ok", 210), 1);
    row = row_text(*shown_list, 0);
    ctx.show_message_box(record::padded("Fim da Exporta\xE7\xE3o dos Cadastros !!!", 210), form::kStyleInformation);
    ctx.show_message_box("Erro na abertura do VENDEDO.ORB !!!" + std::string(85, ' '), form::kStyleError);
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_EQ(row, QString::fromUtf8("Comanda 12 € ok"));
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Fim da Exportação dos Cadastros !!!");
  EXPECT_EQ(boxes[0].style, 64);
  EXPECT_EQ(boxes[1].text, "Erro na abertura do VENDEDO.ORB !!!");
  EXPECT_EQ(boxes[1].style, 16);
}

// Without the hook the operator gets a real box: the icon follows the style.
TEST_F(QtRuntimeTest, MessageBoxWithoutHookIsModalWithTheStyleIcon) {
  runtime.set_message_box_hook(nullptr);
  ScriptedForm& f = form("F");
  f.add_timer("T", 1);
  std::vector<std::pair<QMessageBox::Icon, QString>> seen;
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    for (int style : {form::kStyleError, form::kStyleInformation}) {
      // Answer the box once it is up.
      QTimer::singleShot(5, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.emplace_back(box->icon(), box->text());
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        box->button(QMessageBox::Ok)->click();
      });
      ctx.show_message_box("Aguarde !!!   ", style);
    }
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("F"), 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, QMessageBox::Critical);
  EXPECT_EQ(seen[1].first, QMessageBox::Information);
  EXPECT_EQ(seen[1].second, QStringLiteral("Aguarde !!!"));
}

TEST_F(QtRuntimeTest, ProgressBarStopsAtItsEnds) {
  ScriptedForm& f = form("F");
  auto& bar = f.add_control("Cm_Progress", form::ControlKind::progress);
  bar.minimum = 2, bar.maximum = 8, bar.step = 3, bar.position = 2;
  std::vector<int> values;
  f.on_open = [&](form::FormContext& ctx) {
    values.push_back(ctx.get_progress_value("Cm_Progress"));
    ctx.step_progress("Cm_Progress");  // 5
    values.push_back(ctx.get_progress_value("Cm_Progress"));
    ctx.step_progress("Cm_Progress");  // 8
    values.push_back(ctx.get_progress_value("Cm_Progress"));
    ctx.step_progress("Cm_Progress");  // stays at 8
    values.push_back(ctx.get_progress_value("Cm_Progress"));
    ctx.set_progress_value("Cm_Progress", 99);
    values.push_back(ctx.get_progress_value("Cm_Progress"));
    ctx.set_progress_value("Cm_Progress", -4);
    values.push_back(ctx.get_progress_value("Cm_Progress"));
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_THAT(values, ElementsAre(2, 5, 8, 8, 8, 2));
}

TEST_F(QtRuntimeTest, ListRowsAreAddedInOrderAndScrolledIntoView) {
  ScriptedForm& f = form("F");
  auto& l = f.add_control("Lv_Proc", form::ControlKind::list);
  l.width = 518, l.height = 218;
  l.columns = {{"Status", 500}};
  f.add_timer("T", 1);
  QTableView* list = nullptr;
  on_shown = [&](std::string_view, QWidget& w) { list = w.findChild<QTableView*>("Lv_Proc"); };
  std::vector<int> rows;
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    for (int i = 0; i < 60; ++i) {
      rows.push_back(ctx.add_list_row("Lv_Proc", 1, 1));
      const form::ListRow row = ctx.get_list_row("Lv_Proc", rows.back());
      ctx.set_list_row_text(row, record::padded("linha " + std::to_string(i), 210), 1);
      ctx.show_list_row(ctx.get_list_row("Lv_Proc", rows.back()));
    }
    ctx.refresh_control("Lv_Proc");
    const QModelIndex last = list->model()->index(59, 0);
    EXPECT_TRUE(list->viewport()->rect().contains(list->visualRect(last)));
    EXPECT_FALSE(list->viewport()->rect().intersects(list->visualRect(list->model()->index(0, 0))));

    // Rows that do not exist and columns the list lacks change nothing.
    EXPECT_EQ(ctx.get_list_row("Lv_Proc", 60).index, -1);
    ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", 60), "x", 1);
    ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", 0), "x", 2);
    ctx.show_list_row(form::ListRow{"Lv_Proc", -1});
    EXPECT_EQ(ctx.add_list_row("Lv_Nothing", 1, 1), -1);
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("F"), 0);
  ASSERT_EQ(rows.size(), 60u);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(rows[static_cast<std::size_t>(i)], i);
}

TEST_F(QtRuntimeTest, ARemovedRowLeavesAndTheRowsAfterItMoveUp) {
  ScriptedForm& f = form("F");
  auto& l = f.add_control("Lv_Alertas", form::ControlKind::list);
  l.width = 518, l.height = 85;
  l.columns = {{"Alertas", 500}};
  l.text_color = 0xC00000;
  f.add_timer("T", 1);
  QTableView* list = nullptr;
  on_shown = [&](std::string_view, QWidget& w) { list = w.findChild<QTableView*>("Lv_Alertas"); };
  QStringList left;
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    for (const char* text : {"a", "b", "c"}) {
      ctx.set_list_row_text(ctx.get_list_row("Lv_Alertas", ctx.add_list_row("Lv_Alertas", 1, 1)), text, 1);
    }
    ctx.remove_list_row(ctx.get_list_row("Lv_Alertas", 1));
    ctx.remove_list_row(form::ListRow{"Lv_Alertas", 2});  // no such row any more: nothing
    ctx.remove_list_row(form::ListRow{"Lv_Alertas", -1});
    ctx.set_list_row_text(ctx.get_list_row("Lv_Alertas", 1), "c2", 1);
    for (int i = 0; i < list->model()->rowCount(); ++i) left << list->model()->index(i, 0).data().toString();
    EXPECT_EQ(list->model()->index(1, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("c2"));
    EXPECT_EQ(list->palette().color(QPalette::Text), QColor(0xC0, 0, 0));
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_EQ(left, (QStringList{"a", "c2"}));
}

TEST_F(QtRuntimeTest, NestedModalFormReturnsControlToItsCaller) {
  ScriptedForm& outer = form("00-MENU");
  outer.add_timer("Cm_Timer", 1);
  ScriptedForm& inner = form("90-COMANDAS", "KAV - Importa\xE7\xE3o Comandas");
  inner.add_timer("CmTimer1", 1);
  std::vector<std::string> order;
  QWidget* outer_window = nullptr;
  QWidget* inner_window = nullptr;
  on_shown = [&](std::string_view name, QWidget& w) {
    (name == "00-MENU" ? outer_window : inner_window) = &w;
  };
  outer.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("Cm_Timer", false);
    order.push_back("outer calls");
    EXPECT_EQ(ctx.run_form_modal("90-Comandas   "), 0);
    order.push_back("outer resumes");
    EXPECT_EQ(runtime.open_forms(), 1);
    ctx.end_form();
  };
  inner.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("CmTimer1", false);
    EXPECT_EQ(runtime.open_forms(), 2);
    EXPECT_EQ(inner_window->parentWidget(), outer_window);
    // A called form that closes at once never shows its window.
    EXPECT_TRUE(outer_window->isVisible());
    EXPECT_FALSE(inner_window->isVisible());
    order.push_back("inner works");
    ctx.end_form();
  };
  inner.on_close = [&](form::FormContext&) { order.push_back("inner closed"); };
  EXPECT_EQ(runtime.run("00-MENU"), 0);
  EXPECT_THAT(order, ElementsAre("outer calls", "inner works", "inner closed", "outer resumes"));
  EXPECT_THAT(inner.events, ElementsAre("open", "tick:CmTimer1", "close"));
  EXPECT_THAT(outer.events, ElementsAre("open", "tick:Cm_Timer", "close"));
  EXPECT_EQ(runtime.open_forms(), 0);
}

// The log form's way: the work and EndForm happen in FormOpen, so the form
// closes without running its event loop; a form run twice gets a new window.
TEST_F(QtRuntimeTest, FormThatEndsInItsOpenEventClosesAtOnce) {
  ScriptedForm& log = form("99-LOG", "KAV - LOG");
  log.add_timer("T", 1);  // never gets to tick
  log.on_open = [](form::FormContext& ctx) { ctx.end_form(); };
  ScriptedForm& caller = form("F");
  caller.on_open = [&](form::FormContext& ctx) {
    EXPECT_EQ(ctx.run_form_modal("99-LOG"), 0);
    EXPECT_EQ(ctx.run_form_modal("99-log"), 0);
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_THAT(log.events, ElementsAre("open", "close", "open", "close"));
  EXPECT_THAT(shown, ElementsAre("F", "99-LOG", "99-LOG"));
}

// EndForm only marks the form: the handler runs to its end, with the
// window still there, and FormClose follows once.
TEST_F(QtRuntimeTest, EndFormTakesEffectWhenTheHandlerReturns) {
  ScriptedForm& f = form("F");
  f.add_timer("T", 1);
  f.add_control("Lv_Proc", form::ControlKind::list).columns = {{"Status", 500}};
  std::vector<int> rows;
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.end_form();
    rows.push_back(ctx.add_list_row("Lv_Proc", 1, 1));
    EXPECT_EQ(f.events.back(), "tick:T");  // not closed yet
    ctx.end_form();
    rows.push_back(ctx.add_list_row("Lv_Proc", 1, 1));
  };
  f.on_close = [](form::FormContext& ctx) { ctx.end_form(); };  // nothing left to close
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_THAT(rows, ElementsAre(0, 1));
  EXPECT_THAT(f.events, ElementsAre("open", "tick:T", "close"));
}

// While a handler of a form runs, nested event loops (a called form, a
// message box) must not deliver that form's own ticks or clicks into it.
TEST_F(QtRuntimeTest, BusyFormReceivesNoTicksOrClicks) {
  ScriptedForm& outer = form("OUTER");
  outer.add_timer("T", 1);  // left running on purpose
  outer.add_control("Bt_Go", form::ControlKind::button, "Go");
  ScriptedForm& inner = form("INNER");
  inner.add_timer("T", 1);
  QPushButton* go = nullptr;
  on_shown = [&](std::string_view name, QWidget& w) {
    if (name == "OUTER") go = w.findChild<QPushButton*>("Bt_Go");
  };
  int inner_ticks = 0;
  inner.on_tick = [&](form::FormContext& ctx, std::string_view) {
    go->click();  // the outer form is busy: dropped
    if (++inner_ticks == 20) ctx.end_form();
  };
  outer.on_tick = [&](form::FormContext& ctx, std::string_view) {
    if (inner_ticks == 0) {
      ctx.run_form_modal("INNER");
      go->click();  // still inside the outer handler: dropped
    } else {
      ctx.end_form();
    }
  };
  EXPECT_EQ(runtime.run("OUTER"), 0);
  EXPECT_EQ(inner_ticks, 20);
  EXPECT_THAT(outer.events, ElementsAre("open", "tick:T", "tick:T", "close"));
}

TEST_F(QtRuntimeTest, TimerSwitchedOffStopsTicksAndOnRestartsTheInterval) {
  ScriptedForm& f = form("F");
  f.add_timer("Slow", 100);
  f.add_timer("Fast", 5);
  f.add_timer("Off", 1, false);
  QElapsedTimer clock;
  qint64 last_restart = -1, slow_at = -1;
  int fast = 0;
  f.on_open = [&](form::FormContext&) { clock.start(); };
  f.on_tick = [&](form::FormContext& ctx, std::string_view timer) {
    if (timer == "Fast") {
      // Restarting "Slow" every 5 ms keeps it from ticking until the
      // restarts stop.
      if (++fast < 10) {
        ctx.set_timer_enabled("Slow", true);
        last_restart = clock.elapsed();
      } else {
        ctx.set_timer_enabled("Fast", false);
      }
    } else if (timer == "Slow") {
      slow_at = clock.elapsed();
      ctx.end_form();
    }
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_EQ(fast, 10);
  // Qt lets a coarse timer fire up to 5 % early.
  EXPECT_GE(slow_at, last_restart + 94);
  EXPECT_GE(last_restart, 40);
  EXPECT_THAT(f.events, ::testing::Not(::testing::Contains("tick:Off")));
}

TEST_F(QtRuntimeTest, UnknownFormIsReportedAndReturnsMinusOne) {
  ScriptedForm& f = form("F");
  int result = 0;
  f.on_open = [&](form::FormContext& ctx) {
    result = ctx.run_form_modal("01-NADA   ");
    ctx.end_form();
  };
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runtime.run("F"), 0);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, -1);
  EXPECT_THAT(err, HasSubstr("\"01-NADA\""));
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].style, form::kStyleError);
  EXPECT_THAT(boxes[0].text, HasSubstr("01-NADA"));

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runtime.run("NADA"), 1);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("\"NADA\""));
  EXPECT_EQ(boxes.size(), 2u);
}

// An exception must not unwind through Qt's event loop: it is reported and
// the form goes on receiving events.
TEST_F(QtRuntimeTest, HandlerFailureIsReportedAndTheFormGoesOn) {
  ScriptedForm& f = form("F");
  f.add_timer("T", 1);
  int ticks = 0;
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    if (++ticks == 1) throw std::runtime_error("disco cheio");
    ctx.end_form();
  };
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("disco cheio"));
  EXPECT_EQ(ticks, 2);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].style, form::kStyleError);
}

TEST_F(QtRuntimeTest, CommandLineLosesTrailingBlanksAndKeepsItsBytes) {
  ScriptedForm& f = form("F");
  runner.result = 7;
  int result = 0;
  f.on_open = [&](form::FormContext& ctx) {
    result = ctx.run_command_line(record::padded("CMD.EXE /C C:\\Temp\\A\xE7\xE3o.bat", 256), 0);
    ctx.run_command_line("   ", 1);
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_EQ(result, 7);
  ASSERT_EQ(runner.calls.size(), 2u);
  EXPECT_EQ(runner.calls[0].line, "CMD.EXE /C C:\\Temp\\A\xE7\xE3o.bat");
  EXPECT_EQ(runner.calls[0].window_mode, 0);
  EXPECT_EQ(runner.calls[1].line, "");
  EXPECT_EQ(runner.calls[1].window_mode, 1);
}

TEST_F(QtRuntimeTest, SetControlVisibleShowsAndHides) {
  ScriptedForm& f = form("01-EXPORTA");
  f.add_timer("CmTimer1", 1);
  auto& frame = f.add_control("Frm_Bloq", form::ControlKind::frame, "Aguarde a libera\xE7\xE3o do registro !!");
  frame.visible = false;
  QWidget* bloq = nullptr;
  on_shown = [&](std::string_view, QWidget& w) { bloq = w.findChild<QGroupBox*>("Frm_Bloq"); };
  std::vector<bool> states;
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("CmTimer1", false);
    states.push_back(bloq->isVisible());
    ctx.set_control_visible("Frm_Bloq", true);
    states.push_back(bloq->isVisible());
    ctx.set_control_visible("frm_bloq  ", false);
    states.push_back(bloq->isVisible());
    ::testing::internal::CaptureStderr();
    ctx.set_control_visible("Frm_Nada", true);  // reported, no harm
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr("Frm_Nada"));
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("01-Exporta"), 0);
  EXPECT_THAT(states, ElementsAre(false, true, false));
}

TEST_F(QtRuntimeTest, CloseButtonEndsOnlyTheStartFormAndEscapeClosesNothing) {
  ScriptedForm& start = form("START");
  start.add_timer("T", 1);
  ScriptedForm& called = form("CALLED");
  called.add_timer("T", 30);
  std::vector<std::pair<std::uint16_t, std::uint16_t>> keys;
  start.on_key = [&](form::FormContext&, std::uint16_t& key, std::uint16_t shift) { keys.emplace_back(key, shift); };
  QWidget* start_window = nullptr;
  on_shown = [&](std::string_view name, QWidget& w) {
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
    ctx.run_command_line("CMD.EXE /C RAPIDO", 0);
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
    ctx.run_command_line("CMD.EXE /C DEMORADO", 0);
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

// The list keeps its most recent rows; the row just added is the last.
TEST_F(QtRuntimeTest, AListKeepsItsMostRecentRows) {
  ScriptedForm& f = form("F");
  f.add_timer("T", 1);
  f.add_control("Lv_Proc", form::ControlKind::list);
  QTableView* list = nullptr;
  on_shown = [&](std::string_view, QWidget& w) { list = w.findChild<QTableView*>("Lv_Proc"); };
  int last = -1;
  f.on_tick = [&](form::FormContext& ctx, std::string_view) {
    ctx.set_timer_enabled("T", false);
    for (int i = 0; i < form::kListRowLimit + 2; ++i) {
      last = ctx.add_list_row("Lv_Proc", 1, 1);
      ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", last), std::to_string(i), 1);
    }
    ASSERT_NE(list, nullptr);
    // The full list dropped its oldest rows once, for row kListRowLimit.
    const int kept = form::kListRowLimit - form::kListRowDrop + 2;
    EXPECT_EQ(row_count(*list), kept);
    EXPECT_EQ(row_text(*list, 0), QString::number(form::kListRowDrop));
    EXPECT_EQ(row_text(*list, kept - 1), QString::number(form::kListRowLimit + 1));
    ctx.end_form();
  };
  EXPECT_EQ(runtime.run("F"), 0);
  EXPECT_EQ(last, form::kListRowLimit - form::kListRowDrop + 1);
}

}  // namespace
}  // namespace kav::ui::qt
