// The window of one opening of a form, built from the form's design with the
// Common Controls (version 6, through the program's manifest).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "form/form.h"

namespace kav::ui::win32 {

// Windows-1252 text of the contract as UTF-16 for the window system; the
// five bytes the set leaves undefined become the C1 controls, as Windows maps them.
std::wstring wide(std::string_view cp1252_text);

// One control of a built window. Timers have no window of their own.
struct Control {
  std::string name;
  form::ControlKind kind = form::ControlKind::static_text;
  int id = 0;                // control id, and the timer id of a timer
  HWND window = nullptr;     // a frame: the panel that holds its controls
  int interval_ms = 0;       // timers, as scaled
  bool timer_on = false;
  int minimum = 0, maximum = 0, step = 1;  // progress bars
  int columns = 0;           // lists
};

// The events of a form's window as the runtime handles them: the window
// procedure forwards WM_TIMER, WM_COMMAND, WM_CLOSE and WM_ENDSESSION here.
class WindowEvents {
 public:
  virtual ~WindowEvents() = default;
  virtual void timer(UINT_PTR id) = 0;
  virtual void command(int id, int code) = 0;
  virtual void close_button() = 0;
  // The session ends (WM_ENDSESSION): the process may end when this returns.
  virtual void session_ends() = 0;
  // The answer to a question of the form's (kAnswerMessage: wParam 1 for "Sim").
  virtual void answered(bool /*yes*/) {}
};

// Posted to a form's window by the thread of its question box.
inline constexpr UINT kAnswerMessage = WM_APP + 34;

// A form's window and its controls. The window is created hidden; the
// caller decides when to show it. Destroying the object destroys the window
// and the fonts and pictures it used.
class FormWindow {
 public:
  FormWindow(const form::FormDesign& design, HWND owner, bool start_form, WindowEvents& events);
  ~FormWindow();
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  // By control name, case and trailing blanks ignored; nullptr when absent.
  Control* find(std::string_view name);
  Control* find(int id);
  std::vector<Control>& controls() { return controls_; }
  WindowEvents& events() { return events_; }

 private:
  void build(const form::FormDesign& design);
  HWND build_control(const form::FormDesign& design, std::size_t index, std::vector<int>& state);
  HFONT font(const form::Font& f);

  WindowEvents& events_;
  HWND hwnd_ = nullptr;
  std::vector<Control> controls_;
  std::vector<HFONT> fonts_;
  HFONT default_font_ = nullptr;
  HICON picture_ = nullptr;
};

// Registers the window classes and loads the Common Controls once.
void register_classes();

}  // namespace kav::ui::win32
