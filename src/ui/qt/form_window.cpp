#include "ui/qt/form_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QStyleFactory>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <set>

#include "record/area.h"
#include "record/cp1252.h"
#include "ui/qt/list_view.h"
#include "ui/qt/pictures.h"
#include "record/letter_case.h"

namespace kav::ui::qt {

// ---------------------------------------------------------------------------
// FormWindow

FormWindow::FormWindow(QWidget* parent) : QDialog(parent) {}

void FormWindow::reject() {
  // Escape lands here: closing a form is the form's own decision.
}

void FormWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (on_close_button) on_close_button();
}

void FormWindow::keyPressEvent(QKeyEvent* event) {
  if (on_key && on_key(*event)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

// ---------------------------------------------------------------------------
// Controls

std::string Controls::key(std::string_view name) {
  return record::lower(record::trim_right(name));
}

QWidget* Controls::widget(std::string_view name) const {
  const auto it = widgets_.find(key(name));
  return it == widgets_.end() ? nullptr : it->second;
}

QTimer* Controls::timer(std::string_view name) const {
  const auto it = timers_.find(key(name));
  return it == timers_.end() ? nullptr : it->second;
}

int Controls::step(std::string_view bar) const {
  const auto it = steps_.find(key(bar));
  return it == steps_.end() ? 1 : it->second;
}

void Controls::add(const std::string& name, QWidget* widget) { widgets_[key(name)] = widget; }
void Controls::add(const std::string& name, QTimer* timer) { timers_[key(name)] = timer; }
void Controls::set_step(const std::string& bar, int step) { steps_[key(bar)] = step; }

// ---------------------------------------------------------------------------
// Building

QString display_text(std::string_view cp1252_text) {
  return QString::fromStdString(record::to_utf8(cp1252_text));
}

QFont design_font(const form::Font& font, const QFont& base) {
  QFont f = base;
  if (!font.family.empty()) {
    QStringList families{QString::fromStdString(font.family)};
    // DejaVu Sans descends from Bitstream Vera, drawn after the same model as
    // Verdana and Tahoma; Liberation Sans and Arial are the usual sans faces.
    for (const char* alike : {"DejaVu Sans", "Bitstream Vera Sans", "Liberation Sans", "Arial"}) {
      if (families.front().compare(QLatin1String(alike), Qt::CaseInsensitive) != 0) families << alike;
    }
    f.setFamilies(families);
  }
  if (font.points > 0) f.setPointSizeF(font.points);
  if (font.bold) f.setBold(true);
  return f;
}

namespace {

// One style for every progress bar: the classic Windows look, which draws a
// bar in progress without animation (the default style would repaint it many
// times a second while the monitor is at rest).
QStyle* still_progress_style() {
  static QPointer<QStyle> style;
  if (style.isNull()) {
    style = QStyleFactory::create(QStringLiteral("Windows"));
    if (style != nullptr) style->setParent(qApp);
  }
  return style.data();
}

QWidget* make_widget(const form::ControlDesign& c, QWidget* parent) {
  switch (c.kind) {
    case form::ControlKind::list: {
      QStringList titles;
      for (const form::Column& col : c.columns) titles << display_text(col.title);
      auto* list = new ListView(titles, parent);
      for (std::size_t i = 0; i < c.columns.size(); ++i) {
        list->setColumnWidth(static_cast<int>(i), c.columns[i].width);
      }
      if (c.text_color >= 0) {
        QPalette palette = list->palette();
        palette.setColor(QPalette::Text, QColor(static_cast<QRgb>(c.text_color)));
        list->setPalette(palette);
      }
      return list;
    }
    case form::ControlKind::progress: {
      auto* bar = new QProgressBar(parent);
      if (QStyle* still = still_progress_style()) bar->setStyle(still);
      bar->setTextVisible(false);
      bar->setRange(c.minimum, std::max(c.minimum, c.maximum));
      bar->setValue(std::clamp(c.position, bar->minimum(), bar->maximum()));
      return bar;
    }
    case form::ControlKind::button: {
      auto* button = new QPushButton(display_text(c.caption), parent);
      // Enter must not press a button behind the operator's back.
      button->setAutoDefault(false);
      button->setDefault(false);
      const QPixmap pixmap = picture(c.picture);
      if (!pixmap.isNull()) {
        button->setIcon(QIcon(pixmap));
        button->setIconSize(pixmap.size());
      }
      return button;
    }
    case form::ControlKind::static_text: {
      auto* label = new QLabel(display_text(c.caption), parent);
      label->setTextFormat(Qt::PlainText);
      return label;
    }
    case form::ControlKind::frame:
      return new QGroupBox(display_text(c.caption), parent);
    case form::ControlKind::date_edit: {
      auto* edit = new QDateEdit(QDate::currentDate(), parent);
      edit->setDisplayFormat(c.format.empty() ? QStringLiteral("dd/MM/yyyy") : QString::fromStdString(c.format));
      edit->setCalendarPopup(true);
      return edit;
    }
    case form::ControlKind::timer:
      break;
  }
  return nullptr;
}

// Builds the widgets, each frame before the controls it holds.
class Builder {
 public:
  Builder(const form::FormDesign& design, FormWindow& window, Controls& controls)
      : design_(design), window_(window), controls_(controls) {}

  QWidget* build(const form::ControlDesign& c) {
    if (QWidget* done = controls_.widget(c.name)) return done;
    if (!visiting_.insert(&c).second) return nullptr;  // a frame inside itself: ignore the nesting
    QWidget* parent = &window_;
    if (!record::is_blank(c.parent)) {
      if (const form::ControlDesign* frame = find(c.parent)) {
        if (QWidget* w = build(*frame)) parent = w;
      }
    }
    QWidget* w = make_widget(c, parent);
    if (w == nullptr) return nullptr;
    w->setObjectName(QString::fromStdString(c.name));
    w->setGeometry(c.x, c.y, c.width, c.height);
    w->setFont(design_font(c.font, w->font()));
    if (!c.enabled) w->setEnabled(false);
    if (!c.visible) w->setVisible(false);
    controls_.add(c.name, w);
    return w;
  }

 private:
  // A frame is named as any control: case and trailing blanks aside.
  const form::ControlDesign* find(std::string_view name) const {
    const std::string wanted = Controls::key(name);
    for (const form::ControlDesign& c : design_.controls) {
      if (Controls::key(c.name) == wanted) return &c;
    }
    return nullptr;
  }

  const form::FormDesign& design_;
  FormWindow& window_;
  Controls& controls_;
  std::set<const form::ControlDesign*> visiting_;
};

}  // namespace

Controls build_form(const form::FormDesign& design, FormWindow& window, const std::function<int(int)>& interval) {
  Controls controls;
  window.setObjectName(QString::fromStdString(design.name));
  window.setWindowTitle(display_text(design.caption));
  Builder builder(design, window, controls);
  for (const form::ControlDesign& c : design.controls) {
    if (c.kind == form::ControlKind::timer) {
      auto* timer = new QTimer(&window);
      timer->setObjectName(QString::fromStdString(c.name));
      timer->setInterval(interval(c.interval_ms));
      controls.add(c.name, timer);
      continue;
    }
    if (c.kind == form::ControlKind::progress) controls.set_step(c.name, c.step);
    builder.build(c);
  }
  if (design.width > 0 && design.height > 0) {
    window.setFixedSize(design.width, design.height);
  } else {
    window.adjustSize();
  }
  return controls;
}

}  // namespace kav::ui::qt
