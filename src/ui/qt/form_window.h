// The window of one opening of a form, built from the form's design.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include <QDialog>
#include <QFont>
#include <QStringList>

#include "form/form.h"

class QTimer;

namespace kav::ui::qt {

// A form's window. The forms close themselves (EndForm): Escape never closes
// the window, and its close button only reports the wish to `on_close_button`.
class FormWindow : public QDialog {
 public:
  explicit FormWindow(QWidget* parent);

  std::function<void()> on_close_button;
  // A key pressed in the window; returns true when the key is consumed.
  std::function<bool(QKeyEvent&)> on_key;

  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
};

// The controls of a built window, found by control name (case and trailing
// blanks ignored). Widgets carry the control name as objectName.
class Controls {
 public:
  // A control name as the controls are matched by: lower case, trailing blanks removed.
  static std::string key(std::string_view name);
  QWidget* widget(std::string_view name) const;
  QTimer* timer(std::string_view name) const;
  // The step of a progress bar (1 when the bar has none).
  int step(std::string_view bar) const;

  void add(const std::string& name, QWidget* widget);
  void add(const std::string& name, QTimer* timer);
  void set_step(const std::string& bar, int step);

 private:
  std::map<std::string, QWidget*> widgets_;
  std::map<std::string, QTimer*> timers_;
  std::map<std::string, int> steps_;
};

// Builds every control of `design` into `window` and sets the window's caption
// and size. Timers get the interval that `interval` makes of the designed one
// and are left stopped. Text arrives as Windows-1252 bytes.
Controls build_form(const form::FormDesign& design, FormWindow& window, const std::function<int(int)>& interval);

// The designed font on top of `base`: the family first, then look-alikes that
// are commonly installed, so a machine without the family still shows a
// similar face in the designed size and weight.
QFont design_font(const form::Font& font, const QFont& base);

// Text of the contract (Windows-1252) for display.
QString display_text(std::string_view cp1252_text);

}  // namespace kav::ui::qt
