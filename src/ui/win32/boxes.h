// The boxes of the windowed runtime. One at a time: a box that shows first
// closes the one that is up (a question: "Não"). Each runs on a thread of
// its own and returns at once, so that nothing an operator leaves open holds
// the monitor's timer; it is owned by no window (an owner would be disabled
// while it is up, and would take the box along when its form closes).
#pragma once

#include <string>

#include "ui/win32/form_window.h"

namespace kav::ui::win32 {

// A box with its OK; `flags` as MessageBox takes them.
void show_box(std::wstring body, std::wstring caption, UINT flags);

// A question whose buttons say "Sim" and "Não" whatever the system's
// language; the answer reaches `window` as kAnswerMessage.
void ask_box(std::wstring body, std::wstring caption, HWND window);

// Has every visible window of `thread` but `except` painted anew, frame and
// controls: what a box or a form that went away leaves uncovered is drawn
// again rather than left as the picture of what stood over it. Any thread.
void redraw_windows(DWORD thread, HWND except = nullptr);

}  // namespace kav::ui::win32
