#include "ui/win32/form_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "record/area.h"
#include "record/letter_case.h"
#include "ui/win32/pictures.h"
#include "ui/win32/win32_runtime.h"

namespace kav::ui::win32 {

namespace {

constexpr const wchar_t* kFormClass = L"KavComandaForm";
constexpr const wchar_t* kPanelClass = L"KavComandaPanel";
constexpr int kFirstId = 100;

std::string lower_name(std::string_view name) {
  return record::lower(record::trim_right(name));
}

LRESULT CALLBACK form_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (auto* window = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
    switch (msg) {
      case WM_TIMER: window->events().timer(wp); return 0;
      case WM_COMMAND:
        if (lp != 0) window->events().command(LOWORD(wp), HIWORD(wp));
        return 0;
      case WM_CLOSE: window->events().close_button(); return 0;
      case kAnswerMessage: window->events().answered(wp != 0); return 0;
      // Logoff or shutdown: the program agrees, and ends before it answers
      // the end itself, since Windows may end the process then.
      case WM_QUERYENDSESSION: return TRUE;
      case WM_ENDSESSION:
        if (wp != 0) window->events().session_ends();
        return 0;
      default: break;
    }
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// A frame's panel holds the frame's controls; what they report goes up to the form.
LRESULT CALLBACK panel_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
      return SendMessageW(GetParent(hwnd), msg, wp, lp);
    default: return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

std::wstring wide(std::string_view cp1252_text) {
  if (cp1252_text.empty()) return {};
  const int n = static_cast<int>(cp1252_text.size());
  std::wstring out(cp1252_text.size(), L'\0');
  const int written = MultiByteToWideChar(1252, 0, cp1252_text.data(), n, out.data(), n);
  out.resize(static_cast<std::size_t>(std::max(written, 0)));
  return out;
}

void register_classes() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES |
                                              ICC_DATE_CLASSES};
    InitCommonControlsEx(&icc);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = form_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    RegisterClassExW(&wc);
    wc.lpfnWndProc = panel_proc;
    wc.hIcon = nullptr;
    wc.lpszClassName = kPanelClass;
    RegisterClassExW(&wc);
    return true;
  }();
  (void)done;
}

// ---------------------------------------------------------------------------

FormWindow::FormWindow(const form::FormDesign& design, HWND owner, bool start_form, WindowEvents& events)
    : events_(events) {
  register_classes();
  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | (start_form ? WS_OVERLAPPED | WS_MINIMIZEBOX : WS_POPUP);
  const DWORD ex_style = WS_EX_CONTROLPARENT | (start_form ? WS_EX_APPWINDOW : WS_EX_DLGMODALFRAME);
  int width = design.width, height = design.height;
  if (width <= 0 || height <= 0) {
    for (const form::ControlDesign& c : design.controls) {
      if (record::is_blank(c.parent)) {
        width = std::max(width, c.x + c.width + 10);
        height = std::max(height, c.y + c.height + 10);
      }
    }
  }
  RECT frame{0, 0, std::max(width, 120), std::max(height, 40)};
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  const int outer_w = frame.right - frame.left, outer_h = frame.bottom - frame.top;
  RECT around{};
  if (owner == nullptr || !GetWindowRect(owner, &around)) {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &around, 0);
  }
  const int x = std::max(0, static_cast<int>(around.left + (around.right - around.left - outer_w) / 2));
  const int y = std::max(0, static_cast<int>(around.top + (around.bottom - around.top - outer_h) / 2));

  hwnd_ = CreateWindowExW(ex_style, kFormClass, wide(design.caption).c_str(), style, x, y, outer_w, outer_h, owner,
                          nullptr, GetModuleHandleW(nullptr), this);
  if (hwnd_ == nullptr) return;

  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    default_font_ = CreateFontIndirectW(&metrics.lfMessageFont);
  }
  build(design);
}

FormWindow::~FormWindow() {
  if (hwnd_ != nullptr) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  for (HFONT f : fonts_) DeleteObject(f);
  if (default_font_ != nullptr) DeleteObject(default_font_);
  if (picture_ != nullptr) DestroyIcon(picture_);
}

Control* FormWindow::find(std::string_view name) {
  const std::string wanted = lower_name(name);
  for (Control& c : controls_) {
    if (lower_name(c.name) == wanted) return &c;
  }
  return nullptr;
}

Control* FormWindow::find(int id) {
  for (Control& c : controls_) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

HFONT FormWindow::font(const form::Font& f) {
  if (f.family.empty() && f.points <= 0 && !f.bold) return default_font_;
  LOGFONTW lf{};
  if (default_font_ != nullptr) GetObjectW(default_font_, sizeof(lf), &lf);
  if (!f.family.empty()) {
    const std::wstring face = wide(f.family);
    lf.lfFaceName[face.copy(lf.lfFaceName, LF_FACESIZE - 1)] = L'\0';
  }
  if (f.points > 0) {
    const HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    lf.lfHeight = -static_cast<LONG>(std::lround(f.points * dpi / 72.0));
  }
  if (f.bold) lf.lfWeight = FW_BOLD;
  lf.lfQuality = CLEARTYPE_QUALITY;
  HFONT made = CreateFontIndirectW(&lf);
  if (made == nullptr) return default_font_;
  fonts_.push_back(made);
  return made;
}

void FormWindow::build(const form::FormDesign& design) {
  controls_.resize(design.controls.size());
  for (std::size_t i = 0; i < design.controls.size(); ++i) {
    const form::ControlDesign& c = design.controls[i];
    Control& control = controls_[i];
    control.name = c.name;
    control.kind = c.kind;
    control.id = kFirstId + static_cast<int>(i);
    control.interval_ms = c.interval_ms;
    control.minimum = c.minimum;
    control.maximum = std::max(c.minimum, c.maximum);
    control.step = c.step;
    control.columns = std::max<int>(1, static_cast<int>(c.columns.size()));
  }
  std::vector<int> state(design.controls.size(), 0);  // 0 to build, 1 building, 2 built
  for (std::size_t i = 0; i < design.controls.size(); ++i) build_control(design, i, state);
}

namespace {

// A list with report columns (one column the width of the list when the
// design names none).
HWND make_list(const form::ControlDesign& c, DWORD style, HWND parent, HMENU menu_id, HINSTANCE instance, HFONT f) {
  style |= WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER;
  if (c.columns.empty()) style |= LVS_NOCOLUMNHEADER;
  HWND w = CreateWindowExW(0, WC_LISTVIEWW, L"", style, c.x, c.y, c.width, c.height, parent, menu_id, instance, nullptr);
  if (w == nullptr) return nullptr;
  // A row wider than its column shows its whole text when pointed at.
  SendMessageW(w, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
  if (c.text_color >= 0) {
    const auto rgb = static_cast<unsigned>(c.text_color);
    SendMessageW(w, LVM_SETTEXTCOLOR, 0, static_cast<LPARAM>(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF)));
  }
  SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
  std::vector<form::Column> columns = c.columns;
  if (columns.empty()) columns.push_back({"", std::max(c.width - 4, 10)});
  for (std::size_t i = 0; i < columns.size(); ++i) {
    std::wstring title = wide(columns[i].title);
    LVCOLUMNW col{};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    col.pszText = title.data();
    col.cx = columns[i].width;
    col.iSubItem = static_cast<int>(i);
    SendMessageW(w, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&col));
  }
  return w;
}

}  // namespace

// Builds control `index`, its frame first; returns the window that holds the
// controls of a frame (the form's window for anything else).
HWND FormWindow::build_control(const form::FormDesign& design, std::size_t index, std::vector<int>& state) {
  const form::ControlDesign& c = design.controls[index];
  Control& control = controls_[index];
  if (state[index] != 0) return state[index] == 2 && control.window != nullptr ? control.window : hwnd_;
  state[index] = 1;  // a frame inside itself stays on the form
  if (c.kind == form::ControlKind::timer) {
    state[index] = 2;
    return hwnd_;
  }
  HWND parent = hwnd_;
  if (!record::is_blank(c.parent)) {
    const std::string wanted = lower_name(c.parent);
    for (std::size_t j = 0; j < design.controls.size(); ++j) {
      if (j != index && design.controls[j].kind == form::ControlKind::frame && lower_name(design.controls[j].name) == wanted) {
        parent = build_control(design, j, state);
        break;
      }
    }
  }
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  const std::wstring caption = wide(c.caption);
  DWORD style = WS_CHILD | (c.visible ? WS_VISIBLE : 0) | (c.enabled ? 0 : WS_DISABLED);
  const auto menu_id = reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id));
  HWND w = nullptr;
  const HFONT f = font(c.font);
  switch (c.kind) {
    case form::ControlKind::list:
      w = make_list(c, style, parent, menu_id, instance, f);
      break;
    case form::ControlKind::progress:
      w = CreateWindowExW(0, PROGRESS_CLASSW, L"", style, c.x, c.y, c.width, c.height, parent, menu_id, instance,
                          nullptr);
      if (w == nullptr) break;
      SendMessageW(w, PBM_SETRANGE32, static_cast<WPARAM>(control.minimum), control.maximum);
      SendMessageW(w, PBM_SETPOS, static_cast<WPARAM>(std::clamp(c.position, control.minimum, control.maximum)), 0);
      break;
    case form::ControlKind::button:
      w = CreateWindowExW(0, L"BUTTON", caption.c_str(), style | WS_TABSTOP | BS_PUSHBUTTON, c.x, c.y, c.width,
                          c.height, parent, menu_id, instance, nullptr);
      if (w == nullptr) break;
      if (HICON icon = make_picture(c.picture)) {
        if (picture_ != nullptr) DestroyIcon(picture_);  // one picture per form is all the design has
        picture_ = icon;
        SendMessageW(w, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
      }
      break;
    case form::ControlKind::static_text:
      w = CreateWindowExW(0, L"STATIC", caption.c_str(), style | SS_LEFT | SS_NOPREFIX, c.x, c.y, c.width, c.height,
                          parent, menu_id, instance, nullptr);
      break;
    case form::ControlKind::frame: {
      // The panel holds the frame's controls, so hiding the frame hides them.
      w = CreateWindowExW(WS_EX_CONTROLPARENT, kPanelClass, L"", style, c.x, c.y, c.width, c.height, parent, menu_id,
                          instance, nullptr);
      if (w == nullptr) break;
      HWND box = CreateWindowExW(0, L"BUTTON", caption.c_str(), WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 0, 0, c.width,
                                 c.height, w, nullptr, instance, nullptr);
      SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
      break;
    }
    case form::ControlKind::date_edit:
      w = CreateWindowExW(0, DATETIMEPICK_CLASSW, L"", style | WS_TABSTOP | DTS_SHORTDATEFORMAT, c.x, c.y, c.width,
                          c.height, parent, menu_id, instance, nullptr);
      if (w != nullptr && !c.format.empty()) {
        const std::wstring format = wide(c.format);  // dd/MM/yyyy reads the same here
        SendMessageW(w, DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(format.c_str()));
      }
      break;
    case form::ControlKind::timer: break;
  }
  if (w != nullptr && c.kind != form::ControlKind::list) SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
  control.window = w;
  state[index] = 2;
  return w != nullptr ? w : hwnd_;
}

HWND find_control(HWND form, std::string_view name) {
  wchar_t class_name[32] = {};
  GetClassNameW(form, class_name, 32);
  if (std::wstring_view(class_name) != kFormClass) return nullptr;
  auto* window = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(form, GWLP_USERDATA));
  const Control* c = window == nullptr ? nullptr : window->find(name);
  return c == nullptr ? nullptr : c->window;
}

}  // namespace kav::ui::win32
