#include "ui/qt/qt_runtime.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <exception>
#include <iostream>
#include <limits>

#include "record/area.h"
#include "record/cp1252.h"
#include "ui/qt/form_window.h"
#include "ui/qt/key_codes.h"

namespace kav::ui::qt {

namespace {

constexpr const char* kProgram = "kavcomanda";

std::string utf8(std::string_view cp1252_text) { return record::to_utf8(cp1252_text); }

}  // namespace

// ---------------------------------------------------------------------------
// One opening of a form: its window, its controls and the operations that its
// handlers call.

class QtRuntime::OpenForm final : public form::FormContext {
 public:
  OpenForm(QtRuntime& runtime, form::Form& form, QWidget* parent, bool start_form)
      : runtime_(runtime), form_(form), start_form_(start_form), window_(new FormWindow(parent)) {
    controls_ = build_form(form.design(), *window_,
                           [this](int interval_ms) { return runtime_.scaled_interval(interval_ms); });
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (start_form_) flags |= Qt::WindowMinimizeButtonHint;
    window_->setWindowFlags(flags);
    window_->setWindowModality(Qt::ApplicationModal);
    window_->on_close_button = [this] { close_button(); };
    window_->on_key = [this](QKeyEvent& event) { return key(event); };
    connect_events();
  }

  ~OpenForm() override { delete window_; }

  OpenForm(const OpenForm&) = delete;
  OpenForm& operator=(const OpenForm&) = delete;

  FormWindow& window() { return *window_; }
  const std::string& caption() const { return caption_; }

  // Opens, runs and closes the form; returns when it has closed.
  void run() {
    caption_ = utf8(form_.design().caption);
    start_timers();
    window_->show();
    if (runtime_.form_shown_hook_) runtime_.form_shown_hook_(form_.design().name, *window_);
    handle([this] { form_.form_open(*this); });
    if (!closing_) {
      in_loop_ = true;
      window_->exec();
      in_loop_ = false;
    }
    closing_ = true;
    for (const form::ControlDesign& c : form_.design().controls) {
      if (QTimer* t = controls_.timer(c.name)) t->stop();
    }
    ++busy_;  // an EndForm during FormClose has nothing left to close
    guarded([this] { form_.form_close(*this); });
    --busy_;
    window_->hide();
  }

  // ---- FormContext

  int run_form_modal(std::string_view name) override { return runtime_.run_form_modal(name); }

  void end_form() override {
    closing_ = true;
    // The window closes when the running handler has returned (see handle()).
  }

  void show_message_box(std::string_view text, int style) override {
    runtime_.message_box(window_, caption_, text, style);
  }

  int run_command_line(std::string_view command, int window_mode) override {
    return runtime_.commands_.run(record::trim_right(command), window_mode);
  }

  void set_timer_enabled(std::string_view timer, bool on) override {
    QTimer* t = controls_.timer(timer);
    if (t == nullptr) return missing(timer);
    if (on) {
      t->start();  // (re)starts the interval
    } else {
      t->stop();
    }
  }

  void step_progress(std::string_view bar) override {
    QProgressBar* b = progress(bar);
    if (b == nullptr) return;
    // The bar stops at its ends (a QProgressBar would ignore a value outside them).
    const long long value = static_cast<long long>(b->value()) + controls_.step(bar);
    b->setValue(static_cast<int>(std::clamp<long long>(value, b->minimum(), b->maximum())));
  }

  int get_progress_value(std::string_view bar) override {
    QProgressBar* b = progress(bar);
    return b == nullptr ? 0 : b->value();
  }

  void set_progress_value(std::string_view bar, int value) override {
    QProgressBar* b = progress(bar);
    if (b == nullptr) return;
    b->setValue(std::clamp(value, b->minimum(), b->maximum()));
  }

  int add_list_row(std::string_view list, int, int) override {
    QTreeWidget* l = tree(list);
    if (l == nullptr) return -1;
    l->addTopLevelItem(new QTreeWidgetItem());
    return l->topLevelItemCount() - 1;
  }

  form::ListRow get_list_row(std::string_view list, int index) override {
    QTreeWidget* l = tree(list);
    const bool exists = l != nullptr && index >= 0 && index < l->topLevelItemCount();
    return form::ListRow{std::string(list), exists ? index : -1};
  }

  void set_list_row_text(const form::ListRow& row, std::string_view text, int column) override {
    QTreeWidgetItem* item = row_item(row);
    if (item == nullptr) return;
    const int col = column - 1;
    if (col < 0 || col >= item->treeWidget()->columnCount()) return;
    item->setText(col, QString::fromStdString(utf8(record::trim_right(text))));
  }

  void show_list_row(const form::ListRow& row) override {
    if (QTreeWidgetItem* item = row_item(row)) item->treeWidget()->scrollToItem(item);
  }

  void refresh_control(std::string_view control) override {
    QWidget* w = controls_.widget(control);
    if (w == nullptr) return missing(control);
    w->update();
    window_->repaint();  // now, even while the form is busy in a handler
  }

  void set_control_visible(std::string_view control, bool visible) override {
    QWidget* w = controls_.widget(control);
    if (w == nullptr) return missing(control);
    // The export switches its frame off after every record it reads: only
    // a real change costs a repaint.
    if (w->isHidden() != visible) return;
    w->setVisible(visible);
    window_->repaint();
  }

 private:
  void connect_events() {
    for (const form::ControlDesign& c : form_.design().controls) {
      if (QTimer* t = controls_.timer(c.name)) {
        QObject::connect(t, &QTimer::timeout, [this, name = c.name] { tick(name); });
      } else if (c.kind == form::ControlKind::button) {
        if (auto* b = qobject_cast<QAbstractButton*>(controls_.widget(c.name))) {
          QObject::connect(b, &QAbstractButton::clicked, [this, name = c.name] { click(name); });
        }
      }
    }
  }

  void start_timers() {
    for (const form::ControlDesign& c : form_.design().controls) {
      if (c.kind == form::ControlKind::timer && c.enabled) {
        if (QTimer* t = controls_.timer(c.name)) t->start();
      }
    }
  }

  // Events are delivered only while the form is neither closing nor inside a
  // handler: a tick or click that comes in meanwhile is dropped.
  bool ready() const { return !closing_ && busy_ == 0; }

  void tick(const std::string& timer) {
    if (!ready()) return;
    const QTimer* t = controls_.timer(timer);
    if (t == nullptr || !t->isActive()) return;
    handle([&] { form_.tick(*this, timer); });
  }

  void click(const std::string& button) {
    if (!ready()) return;
    handle([&] { form_.click(*this, button); });
  }

  bool key(QKeyEvent& event) {
    std::uint16_t code = virtual_key(event.key());
    if (!ready() || code == 0) return event.key() == Qt::Key_Escape;
    handle([&] { form_.key_down(*this, code, shift_state(static_cast<int>(event.modifiers()))); });
    // A handler that clears the key code swallows the key; Escape never
    // reaches the dialog, which would close.
    return code == 0 || event.key() == Qt::Key_Escape;
  }

  void close_button() {
    // Only the start form can be closed by the operator: as EndForm.
    if (!start_form_) return;
    closing_ = true;
    finish_if_done();
  }

  template <class Handler>
  void handle(Handler&& handler) {
    ++busy_;
    guarded(handler);
    --busy_;
    finish_if_done();
  }

  // A failure that escapes a handler must not unwind through the event loop:
  // it is reported and the handler counts as returned.
  template <class Handler>
  void guarded(Handler&& handler) {
    try {
      handler();
    } catch (const std::exception& e) {
      runtime_.report_failure(form_.design().name, e.what(), window_, caption_);
    } catch (...) {
      runtime_.report_failure(form_.design().name, "unknown exception", window_, caption_);
    }
  }

  void finish_if_done() {
    if (closing_ && busy_ == 0 && in_loop_) window_->done(0);
  }

  QProgressBar* progress(std::string_view bar) {
    auto* b = qobject_cast<QProgressBar*>(controls_.widget(bar));
    if (b == nullptr) missing(bar);
    return b;
  }

  QTreeWidget* tree(std::string_view list) {
    auto* l = qobject_cast<QTreeWidget*>(controls_.widget(list));
    if (l == nullptr) missing(list);
    return l;
  }

  QTreeWidgetItem* row_item(const form::ListRow& row) {
    QTreeWidget* l = tree(row.list);
    return l == nullptr || row.index < 0 ? nullptr : l->topLevelItem(row.index);
  }

  void missing(std::string_view control) const {
    std::cerr << kProgram << ": form " << form_.design().name << " has no control of that kind named \""
              << utf8(record::trim_right(control)) << "\"\n";
  }

  QtRuntime& runtime_;
  form::Form& form_;
  const bool start_form_;
  FormWindow* window_;
  Controls controls_;
  std::string caption_;
  bool closing_ = false;
  bool in_loop_ = false;
  int busy_ = 0;
};

// ---------------------------------------------------------------------------
// QtRuntime

QtRuntime::QtRuntime(form::FormSet& forms, platform::CommandRunner& commands) : forms_(forms), commands_(commands) {}

QtRuntime::~QtRuntime() = default;

int QtRuntime::run(std::string_view start_form) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    std::cerr << kProgram << ": the form runtime needs a QApplication\n";
    return 1;
  }
  // The program ends when the start form has closed, not when some window
  // happens to be the last one; a posted quit would also end the event loop
  // of a later run.
  const bool quit_on_last = QGuiApplication::quitOnLastWindowClosed();
  QGuiApplication::setQuitOnLastWindowClosed(false);
  const int result = run_form_modal(start_form);
  QGuiApplication::setQuitOnLastWindowClosed(quit_on_last);
  return result < 0 ? 1 : 0;
}

int QtRuntime::run_form_modal(std::string_view name) {
  form::Form* form = forms_.find(name);
  if (form == nullptr) {
    report_unknown_form(name);
    return -1;
  }
  QWidget* parent = open_.empty() ? nullptr : &open_.back()->window();
  OpenForm open(*this, *form, parent, open_.empty());
  open_.push_back(&open);
  open.run();
  open_.pop_back();
  return 0;
}

int QtRuntime::scaled_interval(int interval_ms) const {
  if (interval_ms <= 0) return 0;
  const double scaled = std::round(interval_ms * time_scale_);
  if (!(scaled >= 1)) return 1;  // also for a scale that is no number
  if (scaled >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(scaled);
}

void QtRuntime::message_box(QWidget* parent, const std::string& title, std::string_view text, int style) {
  const std::string shown = utf8(record::trim_right(text));
  if (message_box_hook_) {
    message_box_hook_(shown, style);
    return;
  }
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (style & 0xF0) {
    case form::kStyleError: icon = QMessageBox::Critical; break;
    case 32: icon = QMessageBox::Question; break;
    case 48: icon = QMessageBox::Warning; break;
    case form::kStyleInformation: icon = QMessageBox::Information; break;
    default: break;
  }
  QMessageBox box(icon, QString::fromStdString(title), QString::fromStdString(shown), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtRuntime::report_unknown_form(std::string_view name) {
  const std::string_view wanted = form::form_name(name);
  std::cerr << kProgram << ": RunFormModal: there is no form named \"" << utf8(wanted) << "\"\n";
  QWidget* parent = open_.empty() ? nullptr : &open_.back()->window();
  const std::string title = open_.empty() ? std::string("KavComanda") : open_.back()->caption();
  message_box(parent, title,
              record::cp1252("Formulário \"") + std::string(wanted) + record::cp1252("\" não encontrado !!!"),
              form::kStyleError);
}

void QtRuntime::report_failure(std::string_view form, const char* what, QWidget* parent, const std::string& title) {
  std::cerr << kProgram << ": form " << form << ": a handler failed: " << what << "\n";
  message_box(parent, title, record::cp1252("Erro no formulário ") + std::string(form) + " !!!", form::kStyleError);
}

// ---------------------------------------------------------------------------

int run_windowed(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form, int& argc,
                 char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("KavComanda"));
  QtRuntime runtime(forms, commands);
  return runtime.run(start_form);
}

int show_refusal(std::string_view caption, std::string_view text, int& argc, char** argv) {
  QApplication app(argc, argv);
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(utf8(caption)),
                  QString::fromStdString(utf8(record::trim_right(text))), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
  return 3;
}

}  // namespace kav::ui::qt
