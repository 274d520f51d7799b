#include "ui/qt/qt_runtime.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <iostream>
#include <limits>
#include <thread>

#include "record/area.h"
#include "record/cp1252.h"
#include "ui/qt/display.h"
#include "ui/qt/form_window.h"
#include "ui/qt/key_codes.h"
#include "ui/qt/list_view.h"

namespace kav::ui::qt {

namespace {

constexpr const char* kProgram = "kavcomanda";

std::string utf8(std::string_view cp1252_text) { return record::to_utf8(cp1252_text); }

std::int64_t clock_ms() {
  static const QElapsedTimer started = [] {
    QElapsedTimer t;
    t.start();
    return t;
  }();
  return started.elapsed();
}

bool is_input(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
      return true;
    default:
      return false;
  }
}

}  // namespace

QtRuntime* QtRuntime::running_ = nullptr;

// Mouse and key input reaches a form's window only when that form is the
// innermost one and none of its handlers runs (message boxes and other
// windows are not touched).
class QtRuntime::InputGate final : public QObject {
 public:
  explicit InputGate(QtRuntime& runtime) : runtime_(runtime) { qApp->installEventFilter(this); }
  ~InputGate() override { qApp->removeEventFilter(this); }
  InputGate(const InputGate&) = delete;
  InputGate& operator=(const InputGate&) = delete;

  bool eventFilter(QObject* target, QEvent* event) override;

 private:
  QtRuntime& runtime_;
};

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
  const std::string& name() const { return form_.design().name; }
  // Whether the form takes input now: open, and in none of its handlers.
  bool ready() const { return !closing_ && busy_ == 0; }

  // Closes the form as EndForm from outside its handlers.
  void end_now() {
    closing_ = true;
    finish_if_done();
  }

  void show_window() {
    if (shown_ || closing_) return;
    shown_ = true;
    window_->show();
  }
  // Shows the window of a form open longer than `delay_ms`.
  void show_if_due(int delay_ms) {
    if (!shown_ && !closing_ && clock_ms() - opened_ms_ >= delay_ms) show_window();
  }

  // Opens, runs and closes the form; returns when it has closed.
  void run() {
    caption_ = utf8(form_.design().caption);
    opened_ms_ = clock_ms();
    start_timers();
    if (start_form_) {
      show_window();
    } else {
      // Shown only if still open after the delay; a form busy in a handler
      // meanwhile is shown by the runtime's pump.
      auto* delay = new QTimer(window_);
      delay->setSingleShot(true);
      QObject::connect(delay, &QTimer::timeout, [this] { show_window(); });
      delay->start(runtime_.show_delay_ms_);
    }
    if (runtime_.form_shown_hook_) runtime_.form_shown_hook_(form_.design().name, *window_);
    handle([this] { form_.form_open(*this); });
    if (!closing_) {
      in_loop_ = true;
      loop_.exec();
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

  int run_form_modal(std::string_view name) override {
    runtime_.pump(false);
    return runtime_.run_form_modal(name);
  }

  void end_form() override {
    closing_ = true;
    // The window closes when the running handler has returned (see handle()).
  }

  void show_message_box(std::string_view text, int style) override {
    show_window();  // the box belongs to a window the operator can see
    runtime_.message_box(window_, caption_, text, style);
  }

  int run_command_line(std::string_view command, int window_mode) override {
    const std::string line(record::trim_right(command));
    platform::CommandRunner& commands = runtime_.commands_;
    return runtime_.run_drawn([&] { return commands.run(line, window_mode); });
  }

  void set_timer_enabled(std::string_view timer, bool on) override {
    runtime_.pump(false);
    QTimer* t = controls_.timer(timer);
    if (t == nullptr) return missing(timer);
    if (on) {
      t->start();  // (re)starts the interval
    } else {
      t->stop();
    }
  }

  void step_progress(std::string_view bar) override {
    runtime_.pump(false);
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
    runtime_.pump(false);
    ListModel* rows = list_rows(list);
    if (rows == nullptr) return -1;
    // The oldest rows leave in one removal: one relayout of the view.
    if (rows->rows() >= form::kListRowLimit) rows->drop_oldest(form::kListRowDrop);
    return rows->append_row();
  }

  form::ListRow get_list_row(std::string_view list, int index) override {
    const ListModel* rows = list_rows(list);
    const bool exists = rows != nullptr && index >= 0 && index < rows->rows();
    return form::ListRow{std::string(list), exists ? index : -1};
  }

  void set_list_row_text(const form::ListRow& row, std::string_view text, int column) override {
    ListModel* rows = list_rows(row.list);
    if (rows == nullptr) return;
    rows->set_text(row.index, column - 1, QString::fromStdString(utf8(record::trim_right(text))));
  }

  void remove_list_row(const form::ListRow& row) override {
    runtime_.pump(false);
    ListModel* rows = list_rows(row.list);
    if (rows == nullptr || row.index < 0 || row.index >= rows->rows()) return;
    rows->removeRows(row.index, 1);
  }

  void show_list_row(const form::ListRow& row) override {
    if (ListView* view = list_view(row.list)) view->show_row(row.index);
  }

  void refresh_control(std::string_view control) override {
    QWidget* w = controls_.widget(control);
    if (w == nullptr) return missing(control);
    w->update();
    if (window_->isVisible()) window_->repaint();  // now, even while the form is busy in a handler
  }

  void set_control_visible(std::string_view control, bool visible) override {
    runtime_.pump(false);
    QWidget* w = controls_.widget(control);
    if (w == nullptr) return missing(control);
    // The export switches its frame off after every record it reads: only
    // a real change costs a repaint.
    if (w->isHidden() != visible) return;
    w->setVisible(visible);
    if (window_->isVisible()) window_->repaint();
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
    runtime_.apply_stop();
  }

  // A failure that escapes a handler must not unwind through the event loop:
  // it is reported and the handler counts as returned.
  template <class Handler>
  void guarded(Handler&& handler) {
    try {
      handler();
      return;
    } catch (const std::exception& e) {
      runtime_.report_failure(form_.design().name, e.what(), window_, caption_);
    } catch (...) {
      runtime_.report_failure(form_.design().name, "unknown exception", window_, caption_);
    }
    // A called form whose handler failed closes, so that its caller goes on.
    if (!start_form_) closing_ = true;
  }

  void finish_if_done() {
    if (closing_ && busy_ == 0 && in_loop_) loop_.quit();
  }

  QProgressBar* progress(std::string_view bar) {
    auto* b = qobject_cast<QProgressBar*>(controls_.widget(bar));
    if (b == nullptr) missing(bar);
    return b;
  }

  ListView* list_view(std::string_view list) {
    auto* view = dynamic_cast<ListView*>(controls_.widget(list));
    if (view == nullptr) missing(list);
    return view;
  }

  ListModel* list_rows(std::string_view list) {
    ListView* view = list_view(list);
    return view == nullptr ? nullptr : &view->rows();
  }

  void missing(std::string_view control) const { runtime_.report_unknown_control(form_.design().name, control); }

  QtRuntime& runtime_;
  form::Form& form_;
  const bool start_form_;
  FormWindow* window_;
  Controls controls_;
  std::string caption_;
  QEventLoop loop_;
  std::int64_t opened_ms_ = 0;
  bool shown_ = false;
  bool closing_ = false;
  bool in_loop_ = false;
  int busy_ = 0;
};

bool QtRuntime::InputGate::eventFilter(QObject* target, QEvent* event) {
  if (!is_input(event->type()) || !target->isWidgetType()) return false;
  auto* window = dynamic_cast<FormWindow*>(static_cast<QWidget*>(target)->window());
  if (window == nullptr) return false;
  const auto& open = runtime_.open_;
  const bool innermost = !open.empty() && &open.back()->window() == window;
  return !(innermost && open.back()->ready());
}

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
  QtRuntime* const outer = running_;
  running_ = this;
  gate_ = std::make_unique<InputGate>(*this);
  const int result = run_form_modal(start_form);
  gate_.reset();
  running_ = outer;
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
  apply_stop();
  return 0;
}

void QtRuntime::request_stop() {
  stop_requested_ = true;
  apply_stop();
}

void QtRuntime::apply_stop() {
  if (stop_requested_ && open_.size() == 1 && open_.back()->ready()) open_.back()->end_now();
}

int QtRuntime::scaled_interval(int interval_ms) const {
  if (interval_ms <= 0 || time_scale_ == 0) return 0;
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
  switch (style & form::kStyleIconMask) {
    case form::kStyleError: icon = QMessageBox::Critical; break;
    case form::kStyleQuestion: icon = QMessageBox::Question; break;
    case form::kStyleWarning: icon = QMessageBox::Warning; break;
    case form::kStyleInformation: icon = QMessageBox::Information; break;
    default: break;
  }
  QMessageBox box(icon, QString::fromStdString(title), QString::fromStdString(shown), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void QtRuntime::report_unknown_form(std::string_view name) {
  error(form::unknown_form_error(name));
  QWidget* parent = open_.empty() ? nullptr : &open_.back()->window();
  if (!open_.empty()) open_.back()->show_window();
  const std::string title = open_.empty() ? std::string("KavComanda") : open_.back()->caption();
  message_box(parent, title, form::unknown_form_text(name), form::kStyleError);
}

void QtRuntime::report_failure(std::string_view form, const char* what, QWidget* parent, const std::string& title) {
  error(form::handler_failure_error(form, what));
  if (!open_.empty()) open_.back()->show_window();
  message_box(parent, title, form::handler_failure_text(form), form::kStyleError);
}

void QtRuntime::report_unknown_control(std::string_view form, std::string_view control) {
  std::string key = std::string(form) + '\n' + std::string(record::trim_right(control));
  for (char& c : key) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (std::find(reported_.begin(), reported_.end(), key) != reported_.end()) return;
  reported_.push_back(std::move(key));
  error(form::unknown_control_error(form, control));
}

void QtRuntime::error(const std::string& message) {
  if (error_hook_) {
    error_hook_(message);
  } else {
    std::cerr << kProgram << ": " << message << "\n";
  }
}

void QtRuntime::pump(bool now) {
  const std::int64_t t = clock_ms();
  if (!now && t - last_pump_ms_ < kDrawEveryMs) return;
  last_pump_ms_ = t;
  for (OpenForm* f : open_) f->show_if_due(show_delay_ms_);
  // Paints, window-system events and timers; input is held off by the gate
  // and ticks by the busy forms themselves.
  QCoreApplication::processEvents(QEventLoop::AllEvents, kDrawEveryMs / 2);
}

int QtRuntime::run_drawn(const std::function<int()>& work) {
  QEventLoop waiting;
  int result = 0;
  std::exception_ptr failure;
  QTimer due;  // the delayed windows show during a long wait too
  due.setSingleShot(true);
  QObject::connect(&due, &QTimer::timeout, [this] {
    for (OpenForm* f : open_) f->show_if_due(show_delay_ms_);
  });
  due.start(show_delay_ms_);
  std::thread helper([&] {
    try {
      result = work();
    } catch (...) {
      failure = std::current_exception();
    }
    QMetaObject::invokeMethod(&waiting, "quit", Qt::QueuedConnection);
  });
  waiting.exec();
  helper.join();
  if (failure) std::rethrow_exception(failure);
  return result;
}

void QtRuntime::keep_drawn() {
  if (running_ != nullptr) running_->pump(false);
}

void QtRuntime::wait_drawn(int ms) {
  if (running_ == nullptr || ms <= 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0)));
    return;
  }
  running_->pump(true);
  QEventLoop waiting;
  QTimer::singleShot(ms, &waiting, &QEventLoop::quit);
  waiting.exec();
  for (OpenForm* f : running_->open_) f->show_if_due(running_->show_delay_ms_);
}

// ---------------------------------------------------------------------------
// DrawnKeyedFiles

namespace {

class DrawnKeyedFile final : public platform::KeyedFile {
 public:
  explicit DrawnKeyedFile(std::unique_ptr<platform::KeyedFile> file) : file_(std::move(file)) {}
  std::string open_input() override { return file_->open_input(); }
  std::string start(std::string_view key) override { return file_->start(key); }
  std::string read_next(std::string& area) override {
    QtRuntime::keep_drawn();
    return file_->read_next(area);
  }
  std::string unlock() override { return file_->unlock(); }
  std::string close() override { return file_->close(); }

 private:
  std::unique_ptr<platform::KeyedFile> file_;
};

}  // namespace

std::unique_ptr<platform::KeyedFile> DrawnKeyedFiles::file(std::string_view windows_path, std::size_t record_length,
                                                           std::size_t key_length) {
  auto f = files_.file(windows_path, record_length, key_length);
  if (f == nullptr) return nullptr;
  return std::make_unique<DrawnKeyedFile>(std::move(f));
}

void DrawnKeyedFiles::pause_ms(int ms) { QtRuntime::wait_drawn(ms); }

// ---------------------------------------------------------------------------

int run_windowed(form::FormSet& forms, platform::CommandRunner& commands, std::string_view start_form, int& argc,
                 char** argv) {
  prepare_toolkit_environment();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("KavComanda"));
  QtRuntime runtime(forms, commands);
  on_stop_signal(app, [&runtime] { runtime.request_stop(); });
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
