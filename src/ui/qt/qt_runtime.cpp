#include "ui/qt/qt_runtime.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <exception>
#include <iostream>
#include <thread>

#include "form/placement.h"
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
// The window of one opening of a form: its dialog and controls.

class QtRuntime::Window final : public form::Window {
 public:
  Window(QtRuntime& runtime, form::Opening& opening, QWidget* parent)
      : runtime_(runtime),
        opening_(opening),
        window_(new FormWindow(parent)),
        caption_(utf8(opening.design().caption)) {
    controls_ = build_form(opening.design(), *window_,
                           [this](int interval_ms) { return form::scaled_interval(interval_ms, runtime_.time_scale_); });
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (opening.start_form()) flags |= Qt::WindowMinimizeButtonHint;
    window_->setWindowFlags(flags);
    if (opening.design().takes_focus) {
      window_->setWindowModality(Qt::ApplicationModal);
    } else {
      // Work in the background: the operator goes on with the form below
      // (the input gate makes it wait for this one).
      window_->setWindowModality(Qt::NonModal);
      window_->setAttribute(Qt::WA_ShowWithoutActivating);
      window_->setFocusPolicy(Qt::NoFocus);
    }
    window_->on_close_button = [this] { opening_.close_button(); };
    window_->on_key = [this](QKeyEvent& event) { return key(event); };
    connect_events();
  }

  ~Window() override { delete window_; }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  FormWindow& window() { return *window_; }
  const form::Opening& opening() const { return opening_; }

  void opened() override {
    if (runtime_.form_shown_hook_) runtime_.form_shown_hook_(opening_.name(), *window_);
  }
  void show() override {
    if (!opening_.design().takes_focus) place_beside();
    window_->show();
  }
  void show_later(int ms) override {
    auto* delay = new QTimer(window_);
    delay->setSingleShot(true);
    QObject::connect(delay, &QTimer::timeout, [this] { opening_.show_now(); });
    delay->start(ms);
  }
  void closed() override {
    if (runtime_.asking_ == &opening_) {
      // Its question goes with it, unanswered.
      runtime_.asking_ = nullptr;
      if (runtime_.box_) {
        runtime_.box_->disconnect();
        runtime_.box_->close();
      }
    }
    window_->unsetCursor();
    window_->hide();
  }
  void run_events() override { loop_.exec(); }
  void quit_events() override { loop_.quit(); }

  void message_box(std::string_view text, int style) override {
    runtime_.message_box(caption_, text, style);
  }
  void ask(std::string_view text, std::string_view question) override {
    runtime_.ask(opening_, caption_, text, std::string(question));
  }
  void click_waits(const form::ControlDesign& button, bool waits) override {
    if (auto* b = qobject_cast<QAbstractButton*>(controls_.widget(button.name))) b->setDown(waits);
    waiting_ += waits ? 1 : -1;
    if (waiting_ > 0) {
      window_->setCursor(Qt::BusyCursor);
    } else {
      waiting_ = 0;
      window_->unsetCursor();
    }
    if (window_->isVisible()) window_->repaint();
  }

  void start_timer(const form::ControlDesign& timer) override { controls_.timer(timer.name)->start(); }
  void stop_timer(const form::ControlDesign& timer) override { controls_.timer(timer.name)->stop(); }
  void set_position(const form::ControlDesign& bar, int position) override {
    // The core keeps the position within the bar's ends, as a QProgressBar
    // would otherwise ignore it.
    if (auto* b = qobject_cast<QProgressBar*>(controls_.widget(bar.name))) b->setValue(position);
  }
  void add_row(const form::ControlDesign& list) override { rows(list).append_row(); }
  void drop_oldest_rows(const form::ControlDesign& list, int count) override {
    rows(list).drop_oldest(count);  // one removal: one relayout of the view
  }
  void remove_row(const form::ControlDesign& list, int row) override { rows(list).removeRows(row, 1); }
  void set_row_text(const form::ControlDesign& list, int row, int column, std::string_view text) override {
    rows(list).set_text(row, column - 1, QString::fromStdString(utf8(record::trim_right(text))));
  }
  void show_row(const form::ControlDesign& list, int row) override { view(list).show_row(row); }
  int selected_row(const form::ControlDesign& list) override { return view(list).selected_row(); }
  void select_row(const form::ControlDesign& list, int row) override { view(list).select_row(row); }
  void refresh(const form::ControlDesign& control) override {
    controls_.widget(control.name)->update();
    if (window_->isVisible()) window_->repaint();  // now, even while the form is busy in a handler
  }
  void set_visible(const form::ControlDesign& control, bool visible) override {
    controls_.widget(control.name)->setVisible(visible);
    if (window_->isVisible()) window_->repaint();
  }

 private:
  void connect_events() {
    for (const form::ControlDesign& c : opening_.design().controls) {
      if (QTimer* t = controls_.timer(c.name)) {
        QObject::connect(t, &QTimer::timeout, [this, name = c.name] { opening_.tick(name); });
      } else if (c.kind == form::ControlKind::button) {
        if (auto* b = qobject_cast<QAbstractButton*>(controls_.widget(c.name))) {
          QObject::connect(b, &QAbstractButton::clicked, [this, name = c.name] { opening_.click(name); });
        }
      }
    }
  }

  // A form that works in the background stands beside the forms open below
  // it, on the same screen, covering none of them (form/placement.h).
  void place_beside() {
    QRect taken;
    for (form::Opening* o : runtime_.core_.openings()) {
      if (o == &opening_) break;
      const QWidget& w = static_cast<Window&>(o->window()).window();
      if (w.isVisible()) taken = taken.united(w.frameGeometry());
    }
    if (taken.isNull()) return;
    const QScreen* screen = QGuiApplication::screenAt(taken.center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    const QSize size = window_->frameGeometry().size().expandedTo(window_->size());
    const form::Spot at = form::place_beside({taken.x(), taken.y(), taken.width(), taken.height()},
                                             {area.x(), area.y(), area.width(), area.height()}, size.width(),
                                             size.height());
    window_->move(at.x, at.y);
  }

  // A handler that clears the key code swallows the key; Escape never
  // reaches the dialog, which would close.
  bool key(QKeyEvent& event) {
    std::uint16_t code = virtual_key(event.key());
    const bool escape = event.key() == Qt::Key_Escape;
    if (code == 0 || !opening_.key_down(code, shift_state(static_cast<int>(event.modifiers())))) return escape;
    return code == 0 || escape;
  }

  ListView& view(const form::ControlDesign& list) const {
    return *dynamic_cast<ListView*>(controls_.widget(list.name));
  }
  ListModel& rows(const form::ControlDesign& list) { return view(list).rows(); }

  QtRuntime& runtime_;
  form::Opening& opening_;
  FormWindow* window_;
  Controls controls_;
  const std::string caption_;  // UTF-8
  QEventLoop loop_;
  int waiting_ = 0;  // clicks waiting for the form's handler
};

bool QtRuntime::InputGate::eventFilter(QObject* target, QEvent* event) {
  if (!is_input(event->type()) || !target->isWidgetType()) return false;
  auto* window = dynamic_cast<FormWindow*>(static_cast<QWidget*>(target)->window());
  if (window == nullptr) return false;
  for (form::Opening* o : runtime_.core_.openings()) {
    if (&static_cast<Window&>(o->window()).window() == window) return !o->takes_input();
  }
  return true;
}

// ---------------------------------------------------------------------------
// QtRuntime

QtRuntime::QtRuntime(form::FormSet& forms, platform::CommandRunner& commands)
    : commands_(commands), core_(forms, *this) {}

// A box still up goes with the program (its answer has no form to go to).
QtRuntime::~QtRuntime() {
  if (box_) {
    box_->disconnect();
    delete box_.data();
  }
}

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
  gate_ = std::make_unique<InputGate>(*this);
  const int result = core_.run(start_form);
  if (box_) {
    box_->disconnect();
    box_->close();
  }
  asking_ = nullptr;
  gate_.reset();
  QGuiApplication::setQuitOnLastWindowClosed(quit_on_last);
  return result;
}

std::unique_ptr<form::Window> QtRuntime::open_window(form::Opening& opening, form::Window* over) {
  QWidget* parent = over == nullptr ? nullptr : &static_cast<Window*>(over)->window();
  return std::make_unique<Window>(*this, opening, parent);
}

// With no form open nothing else runs: the box waits for its OK.
void QtRuntime::message_box(std::string_view text, int style) {
  const std::string shown = utf8(record::trim_right(text));
  if (message_box_hook_) {
    message_box_hook_(shown, style);
    return;
  }
  auto box = make_box("KavComanda", shown, style, nullptr);
  box->exec();
}

// A form's box returns at once and stays up until its OK, so that nothing an
// operator leaves open holds the monitor's timer. It belongs to the start
// form's window (the form that showed it may close meanwhile) and goes with it.
void QtRuntime::message_box(const std::string& title, std::string_view text, int style) {
  const std::string shown = utf8(record::trim_right(text));
  if (message_box_hook_) {
    message_box_hook_(shown, style);
    return;
  }
  show_box(make_box(title, shown, style, nullptr).release());
}

// "Sim" and "Não"; Escape, Return and the close button answer "Não".
void QtRuntime::ask(form::Opening& opening, const std::string& title, std::string_view text,
                    const std::string& question) {
  const std::string shown = utf8(record::trim_right(text));
  if (message_box_hook_) {  // the hook stands for an operator who says "Sim"
    message_box_hook_(shown, form::kStyleQuestion);
    opening.answer(question, true);
    return;
  }
  auto box = make_box(title, shown, form::kStyleQuestion, nullptr);
  box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box->button(QMessageBox::Yes)->setText(QStringLiteral("Sim"));
  box->button(QMessageBox::No)->setText(QString::fromUtf8("Não"));
  box->setDefaultButton(QMessageBox::No);
  box->setEscapeButton(QMessageBox::No);
  QMessageBox* raw = box.release();
  show_box(raw);  // closes the box open before, and an open question with it
  asking_ = &opening;
  QObject::connect(raw, &QMessageBox::finished, [this, raw, question] {
    form::Opening* asked = asking_;
    asking_ = nullptr;
    if (asked != nullptr) asked->answer(question, raw->clickedButton() == raw->button(QMessageBox::Yes));
  });
}

// The box stands over the innermost form, takes the keyboard (also with no
// window manager: OK, Return and Escape close it) and returns at once: the
// timers go on. It is modal only for the moment it is up, and it replaces
// the box before it, so boxes never pile up.
void QtRuntime::show_box(QMessageBox* box) {
  if (box_) {
    QMessageBox* old = box_;
    box_ = nullptr;
    old->close();  // a question closed this way answers "Não"
  }
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  box_ = box;
  box->adjustSize();
  if (!core_.openings().empty()) {
    for (auto it = core_.openings().rbegin(); it != core_.openings().rend(); ++it) {
      const QWidget& over = static_cast<Window&>((*it)->window()).window();
      if (!(*it)->design().takes_focus || !over.isVisible()) continue;
      box->move(over.frameGeometry().center() - box->rect().center());
      break;
    }
  }
  box->show();
  box->raise();
  box->activateWindow();
  if (QAbstractButton* b = box->defaultButton() != nullptr ? box->defaultButton() : box->button(QMessageBox::Ok)) {
    b->setFocus();
  }
}

std::unique_ptr<QMessageBox> QtRuntime::make_box(const std::string& title, const std::string& text, int style,
                                                 QWidget* parent) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (style & form::kStyleIconMask) {
    case form::kStyleError: icon = QMessageBox::Critical; break;
    case form::kStyleQuestion: icon = QMessageBox::Question; break;
    case form::kStyleWarning: icon = QMessageBox::Warning; break;
    case form::kStyleInformation: icon = QMessageBox::Information; break;
    default: break;
  }
  auto box = std::make_unique<QMessageBox>(icon, QString::fromStdString(title), QString::fromStdString(text),
                                           QMessageBox::Ok, parent);
  box->setTextFormat(Qt::PlainText);
  return box;
}

// The runtime's error output (form.h's failure rules): standard error.
void QtRuntime::error(std::string_view message) { std::cerr << kProgram << ": " << message << "\n"; }

std::int64_t QtRuntime::now_ms() { return clock_ms(); }

void QtRuntime::pump(bool now) {
  const std::int64_t t = clock_ms();
  if (!now && t - last_pump_ms_ < kDrawEveryMs) return;
  last_pump_ms_ = t;
  core_.show_due();
  // Paints, window-system events and timers; input is held off by the gate
  // and ticks by the busy forms themselves.
  QCoreApplication::processEvents(QEventLoop::AllEvents, kDrawEveryMs / 2);
}

// The command runs on a helper thread; the GUI thread goes on painting.
platform::Status QtRuntime::run_command(std::string_view line, int window_mode) {
  const std::string command(line);
  QEventLoop waiting;
  platform::Status result;
  std::exception_ptr failure;
  QTimer due;  // the delayed windows show during a long wait too
  QObject::connect(&due, &QTimer::timeout, [this] { core_.show_due(); });
  due.start(kDrawEveryMs);
  std::thread helper([&] {
    try {
      result = commands_.run(command, window_mode);
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

// An event loop of its own: paints and the window system's events go on;
// the busy forms take no tick and, through the gate, no input.
void QtRuntime::wait(int ms) {
  pump(true);
  QEventLoop waiting;
  QTimer::singleShot(ms, &waiting, &QEventLoop::quit);
  waiting.exec();
  core_.show_due();
}

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

int show_refusal(std::string_view caption, std::string_view text, int status, int& argc, char** argv) {
  QApplication app(argc, argv);
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(utf8(caption)),
                  QString::fromStdString(utf8(record::trim_right(text))), QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
  return status;
}

}  // namespace kav::ui::qt
