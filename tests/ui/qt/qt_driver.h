// The Qt runtime's driver for the shared runtime tests: widgets looked into
// the way the operator sees them.
#pragma once

#include <QAbstractItemView>
#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/qt/qt_runtime.h"

namespace kav::ui::qt::testing {

struct QtDriver {
  using Runtime = QtRuntime;
  using Window = QWidget*;

  static void set_built_hook(Runtime& runtime, std::function<void(std::string_view, Window)> hook) {
    runtime.set_form_shown_hook([hook = std::move(hook)](std::string_view form, QWidget& w) { hook(form, &w); });
  }
  static Window find(Window form, std::string_view control) {
    return form->findChild<QWidget*>(QString::fromUtf8(control.data(), static_cast<qsizetype>(control.size())));
  }
  static std::string text(Window w) {
    if (w->isWindow()) return w->windowTitle().toStdString();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title().toStdString();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
    return {};
  }
  static QAbstractItemView& list_of(Window w) { return *qobject_cast<QAbstractItemView*>(w); }
  static std::string column_title(Window list, int column) {
    return list_of(list).model()->headerData(column, Qt::Horizontal).toString().toStdString();
  }
  static int row_count(Window list) { return list_of(list).model()->rowCount(); }
  static std::string row_text(Window list, int row) {
    return list_of(list).model()->index(row, 0).data().toString().toStdString();
  }
  // The operator's selection, as a click on the row leaves it.
  static void select(Window list, int row) {
    list_of(list).selectionModel()->select(list_of(list).model()->index(row, 0),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
  static int selected(Window list) {
    const auto rows = list_of(list).selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
  }
  static std::string cell_text(Window list, int row, int column) {
    return list_of(list).model()->index(row, column).data().toString().toStdString();
  }
  static std::string row_tip(Window list, int row) {
    return list_of(list).model()->index(row, 0).data(Qt::ToolTipRole).toString().toStdString();
  }
  static QRect row_rect(Window list, int row) { return list_of(list).visualRect(list_of(list).model()->index(row, 0)); }
  static bool row_in_view(Window list, int row) { return list_of(list).viewport()->rect().contains(row_rect(list, row)); }
  static bool row_out_of_view(Window list, int row) {
    return !list_of(list).viewport()->rect().intersects(row_rect(list, row));
  }
  static std::uint32_t text_color(Window list) { return list->palette().color(QPalette::Text).rgb() & 0xFFFFFFu; }
  static int progress(Window bar) { return qobject_cast<QProgressBar*>(bar)->value(); }
  static std::pair<int, int> progress_range(Window bar) {
    auto* b = qobject_cast<QProgressBar*>(bar);
    return {b->minimum(), b->maximum()};
  }
  // Every value the bar takes, as it takes it.
  static void on_progress(Window bar, std::function<void(int)> seen) {
    QObject::connect(qobject_cast<QProgressBar*>(bar), &QProgressBar::valueChanged, std::move(seen));
  }
  static int column_width(Window list, int column) { return qobject_cast<QTableView*>(list)->columnWidth(column); }
  static bool has_picture(Window button) { return !qobject_cast<QAbstractButton*>(button)->icon().isNull(); }
  struct Rect {
    int top, bottom;  // bottom exclusive
  };
  static Rect rect(Window control) { return {control->y(), control->y() + control->height()}; }
  static int client_height(Window form) { return form->height(); }
  static void save_picture(Window form, const char* path) { form->grab().save(QString::fromLocal8Bit(path)); }
  // Calls `step` every millisecond, inside whatever event loop is running,
  // until it returns true or the form's window is gone.
  static void poll(Window form, std::function<bool()> step) {
    auto* timer = new QTimer(form);
    QObject::connect(timer, &QTimer::timeout, [timer, step = std::move(step)] {
      if (step()) timer->stop();
    });
    timer->start(1);
  }
  static bool visible(Window w) { return w->isVisible(); }
  // Whether showing it takes the focus: the offscreen platform activates
  // every window it shows, so what is looked at is what the window asks for.
  static bool active(Window form) { return !form->testAttribute(Qt::WA_ShowWithoutActivating); }
  static Window owner(Window form) { return form->parentWidget(); }
  static void click(Window button) { qobject_cast<QAbstractButton*>(button)->click(); }
  static void pump_events_ms(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  static std::vector<QMessageBox*> boxes() {
    std::vector<QMessageBox*> up;
    for (QWidget* w : QApplication::allWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) up.push_back(box);
    }
    return up;
  }
  static std::vector<std::string> open_boxes(Runtime&) {
    std::vector<std::string> texts;
    for (QMessageBox* box : boxes()) texts.push_back(box->text().toStdString());
    return texts;
  }
  // Closes every box; a question is answered "Sim".
  static void close_boxes(Runtime&) {
    for (QMessageBox* box : boxes()) {
      QAbstractButton* yes = box->button(QMessageBox::Yes);
      (yes != nullptr ? yes : box->button(QMessageBox::Ok))->click();
    }
  }
  // Qt blocks a caller through the called form's modality, not by disabling it.
  static constexpr bool kDisablesCaller = false;
  static bool enabled(Window w) { return w->isEnabled(); }
  // Qt lets a coarse timer fire up to 5 % early.
  static constexpr int kTimerEarliestPercent = 94;
  static std::int64_t now_ms(Runtime&) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace kav::ui::qt::testing
