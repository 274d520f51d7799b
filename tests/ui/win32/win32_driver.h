// The native runtime's driver for the shared runtime tests: the windows
// looked into the way the operator sees them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "ui/win32/win32_support.h"

namespace kav::ui::win32::testing {

struct Win32Driver {
  using Runtime = Win32Runtime;
  using Window = HWND;

  static void set_built_hook(Runtime& runtime, std::function<void(std::string_view, Window)> hook) {
    runtime.set_form_built_hook(std::move(hook));
  }
  static Window find(Window form, std::string_view control) { return find_control(form, control); }
  static std::string text(Window w) { return text_of(w); }
  static std::string column_title(Window list, int column) { return testing::column_title(list, column); }
  static int row_count(Window list) { return testing::row_count(list); }
  static std::string row_text(Window list, int row) { return testing::row_text(list, row); }
  static bool row_in_view(Window list, int row) {
    const auto top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    const auto per_page = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    return row >= top && row < top + per_page;
  }
  static bool row_out_of_view(Window list, int row) { return !row_in_view(list, row); }
  static std::uint32_t text_color(Window list) {
    const auto c = static_cast<COLORREF>(SendMessageW(list, LVM_GETTEXTCOLOR, 0, 0));
    return static_cast<std::uint32_t>(GetRValue(c)) << 16 | static_cast<std::uint32_t>(GetGValue(c)) << 8 |
           GetBValue(c);
  }
  static int progress(Window bar) { return progress_of(bar); }
  static bool visible(Window w) { return IsWindowVisible(w) != FALSE; }
  static Window owner(Window form) { return GetWindow(form, GW_OWNER); }
  static void click(Window button) { testing::click(button); }
  static void pump_events_ms(int ms) {
    MSG msg;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < static_cast<ULONGLONG>(ms)) {
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
  }
  // A called form disables its caller's window until it has closed.
  static constexpr bool kDisablesCaller = true;
  static bool enabled(Window w) { return IsWindowEnabled(w) != FALSE; }
  // The system's timer tick (about 16 ms) may shorten an interval.
  static constexpr int kTimerEarliestPercent = 90;
};

}  // namespace kav::ui::win32::testing
