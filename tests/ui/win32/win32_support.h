// Helpers of the native runtime's tests: looking into the windows the way the
// operator sees them, and acting inside whatever message loop is running.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <map>
#include <string>

#include "ui/win32/win32_runtime.h"

namespace kav::ui::win32::testing {

inline std::string utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// A window's text, as UTF-8.
inline std::string text_of(HWND window) {
  wchar_t buffer[512] = {};
  GetWindowTextW(window, buffer, 512);
  return utf8(buffer);
}

inline std::string class_of(HWND window) {
  wchar_t buffer[64] = {};
  GetClassNameW(window, buffer, 64);
  return utf8(buffer);
}

inline int row_count(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

inline std::string row_text(HWND list, int row, int column = 0) {
  wchar_t buffer[512] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buffer;
  item.cchTextMax = 512;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return utf8(buffer);
}

inline std::string column_title(HWND list, int column) {
  wchar_t buffer[128] = {};
  LVCOLUMNW col{};
  col.mask = LVCF_TEXT;
  col.pszText = buffer;
  col.cchTextMax = 128;
  SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col));
  return utf8(buffer);
}

inline int progress_of(HWND bar) { return static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)); }

inline SIZE client_size(HWND window) {
  RECT r{};
  GetClientRect(window, &r);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// What a button sends its form when the operator clicks it.
inline void click(HWND button) {
  SendMessageW(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
}

// Calls `step` about every millisecond inside whatever message loop is
// running (a form's, a message box's) until it returns true.
inline void poll(std::function<bool()> step) {
  static std::map<UINT_PTR, std::function<bool()>> steps;
  const UINT_PTR id = SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR timer, DWORD) {
    auto it = steps.find(timer);
    if (it == steps.end()) return;
    std::function<bool()> f = it->second;  // a step may add another poll
    if (f()) {
      KillTimer(nullptr, timer);
      steps.erase(timer);
    }
  });
  steps[id] = std::move(step);
}

}  // namespace kav::ui::win32::testing
