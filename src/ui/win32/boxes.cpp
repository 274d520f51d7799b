#include "ui/win32/boxes.h"

#include <atomic>
#include <thread>
#include <utility>

namespace kav::ui::win32 {

namespace {

// The buttons of a question box say "Sim" and "Não" whatever the system's
// language: a hook of the box's own thread names them as the box appears.
thread_local HHOOK question_hook = nullptr;

LRESULT CALLBACK name_question_buttons(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_ACTIVATE) {
    const auto box = reinterpret_cast<HWND>(wp);
    SetDlgItemTextW(box, IDYES, L"Sim");
    SetDlgItemTextW(box, IDNO, L"N\u00E3o");
    UnhookWindowsHookEx(question_hook);
    question_hook = nullptr;
    return 0;
  }
  return CallNextHookEx(question_hook, code, wp, lp);
}

// The thread of the box that is up, and how to close it (a question: "Não").
std::atomic<DWORD> box_thread{0};
std::atomic<bool> box_asks{false};

BOOL CALLBACK close_box(HWND window, LPARAM answer) {
  PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(answer), 0);
  return TRUE;
}

// One box at a time: the box up goes before another shows.
void close_open_box() {
  const DWORD thread = box_thread.exchange(0);
  if (thread != 0) EnumThreadWindows(thread, close_box, box_asks ? IDNO : IDOK);
}

BOOL CALLBACK redraw_window(HWND window, LPARAM except) {
  if (window != reinterpret_cast<HWND>(except) && IsWindowVisible(window) != FALSE) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  }
  return TRUE;
}

}  // namespace

void redraw_windows(DWORD thread, HWND except) {
  EnumThreadWindows(thread, redraw_window, reinterpret_cast<LPARAM>(except));
}

// The forms' windows belong to the thread that shows the box: they are
// painted again when it closes.
void show_box(std::wstring body, std::wstring caption, UINT flags) {
  close_open_box();
  const DWORD forms = GetCurrentThreadId();
  std::thread([body = std::move(body), caption = std::move(caption), flags, forms] {
    box_thread = GetCurrentThreadId();
    box_asks = false;
    MessageBoxW(nullptr, body.c_str(), caption.c_str(), flags);
    DWORD self = GetCurrentThreadId();
    box_thread.compare_exchange_strong(self, 0);
    redraw_windows(forms);
  }).detach();
}

void ask_box(std::wstring body, std::wstring caption, HWND window) {
  close_open_box();
  const DWORD forms = GetCurrentThreadId();
  std::thread([body = std::move(body), caption = std::move(caption), window, forms] {
    box_thread = GetCurrentThreadId();
    box_asks = true;
    question_hook = SetWindowsHookExW(WH_CBT, name_question_buttons, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxW(nullptr, body.c_str(), caption.c_str(),
                                   MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND | MB_TOPMOST);
    if (question_hook != nullptr) UnhookWindowsHookEx(question_hook);
    DWORD self = GetCurrentThreadId();
    box_thread.compare_exchange_strong(self, 0);
    redraw_windows(forms);
    PostMessageW(window, kAnswerMessage, answer == IDYES ? 1 : 0, 0);
  }).detach();
}

}  // namespace kav::ui::win32
