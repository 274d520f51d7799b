// The native runtime's driver for the shared runtime tests: the windows
// looked into the way the operator sees them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <fstream>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/win32/win32_support.h"

namespace kav::ui::win32::testing {

// Writes what `window` shows (frame included) as a 24-bit BMP.
inline void save_bmp(HWND window, const char* path) {
  RECT r{};
  GetWindowRect(window, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  HDC source = GetWindowDC(window);
  BitBlt(dc, 0, 0, w, h, source, 0, 0, SRCCOPY);
  ReleaseDC(window, source);
  GdiFlush();
  const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
  const DWORD size = stride * static_cast<DWORD>(h);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) + size, 0, 0,
                        static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER))};
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof(file));
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
  out.write(static_cast<const char*>(bits), size);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

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
  // The operator's selection, as a click on the row leaves it.
  static void select(Window list, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  }
  static int selected(Window list) {
    return static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }
  static std::string cell_text(Window list, int row, int column) { return testing::row_text(list, row, column); }
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
  static std::pair<int, int> progress_range(Window bar) {
    return {static_cast<int>(SendMessageW(bar, PBM_GETRANGE, TRUE, 0)),
            static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0))};
  }
  static int column_width(Window list, int column) {
    return static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
  }
  // The picture beside a button's caption.
  static bool has_picture(Window button) { return SendMessageW(button, BM_GETIMAGE, IMAGE_ICON, 0) != 0; }
  struct Rect {
    int top, bottom;  // bottom exclusive
  };
  static Rect rect(Window control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetAncestor(control, GA_ROOT), reinterpret_cast<POINT*>(&r), 2);
    return {r.top, r.bottom};
  }
  static int client_height(Window form) { return client_size(form).cy; }
  static void save_picture(Window form, const char* path) {
    RedrawWindow(form, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    save_bmp(form, path);
  }
  // Calls `step` about every millisecond inside whatever message loop is
  // running, until it returns true or the form's window is gone.
  static void poll(Window form, std::function<bool()> step) {
    testing::poll([form, step = std::move(step)] { return IsWindow(form) == FALSE || step(); });
  }
  static bool visible(Window w) { return IsWindowVisible(w) != FALSE; }
  static bool active(Window form) { return GetActiveWindow() == form || GetForegroundWindow() == form; }
  static Window owner(Window form) { return GetWindow(form, GW_OWNER); }
  static void click(Window button) { testing::click(button); }
  static void pump_events_ms(int ms) {
    MSG msg;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < static_cast<ULONGLONG>(ms)) {
      if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
  }
  // The message boxes of this process (dialogs of the system's class).
  static std::vector<HWND> boxes() {
    std::vector<HWND> up;
    EnumWindows(
        [](HWND w, LPARAM found) {
          DWORD process = 0;
          GetWindowThreadProcessId(w, &process);
          wchar_t kind[16] = {};
          GetClassNameW(w, kind, 16);
          if (process == GetCurrentProcessId() && IsWindowVisible(w) && std::wstring_view(kind) == L"#32770") {
            reinterpret_cast<std::vector<HWND>*>(found)->push_back(w);
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&up));
    return up;
  }
  static std::vector<std::string> open_boxes(Runtime&) {
    std::vector<std::string> texts;
    for (HWND box : boxes()) {
      HWND text = GetDlgItem(box, 0xFFFF);
      texts.push_back(text == nullptr ? std::string() : text_of(text));
    }
    return texts;
  }
  // Closes every box; a question is answered "Sim".
  static void close_boxes(Runtime&) {
    for (HWND box : boxes()) PostMessageW(box, WM_COMMAND, GetDlgItem(box, IDYES) != nullptr ? IDYES : IDOK, 0);
    for (int i = 0; i < 200 && !boxes().empty(); ++i) Sleep(10);
  }
  // A called form disables its caller's window until it has closed.
  static constexpr bool kDisablesCaller = true;
  static bool enabled(Window w) { return IsWindowEnabled(w) != FALSE; }
  // The system's timer tick (about 16 ms) may shorten an interval.
  static constexpr int kTimerEarliestPercent = 90;
  static std::int64_t now_ms(Runtime&) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace kav::ui::win32::testing
