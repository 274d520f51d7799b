#include "ui/win32/pictures.h"

#include <vector>

#include "record/area.h"
#include "record/letter_case.h"

namespace kav::ui::win32 {

HICON make_picture(std::string_view name) {
  if (!record::same_letters(record::trim_right(name), "Bt_Sair")) return nullptr;
  constexpr int kSize = 32;
  constexpr COLORREF kKey = RGB(255, 0, 255);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = kSize;
  info.bmiHeader.biHeight = -kSize;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HDC screen = GetDC(nullptr);
  HBITMAP color = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  if (color == nullptr || dc == nullptr) {
    if (color != nullptr) DeleteObject(color);
    if (dc != nullptr) DeleteDC(dc);
    return nullptr;
  }
  const HGDIOBJ old_bitmap = SelectObject(dc, color);
  auto fill = [&](COLORREF pen_color, COLORREF brush_color, auto draw) {
    HPEN pen = CreatePen(PS_SOLID, 1, pen_color);
    HBRUSH brush = CreateSolidBrush(brush_color);
    const HGDIOBJ old_pen = SelectObject(dc, pen);
    const HGDIOBJ old_brush = SelectObject(dc, brush);
    draw();
    SelectObject(dc, old_pen);
    SelectObject(dc, old_brush);
    DeleteObject(pen);
    DeleteObject(brush);
  };
  fill(kKey, kKey, [&] { Rectangle(dc, 0, 0, kSize, kSize); });
  // The frame and the dark opening.
  fill(RGB(0x5a, 0x3a, 0x1e), RGB(0x2b, 0x2b, 0x2b), [&] { Rectangle(dc, 3, 2, 19, 30); });
  // The open door and its knob.
  const POINT door[] = {{4, 3}, {11, 6}, {11, 31}, {4, 29}};
  fill(RGB(0x5a, 0x3a, 0x1e), RGB(0xb0, 0x72, 0x38), [&] { Polygon(dc, door, 4); });
  fill(RGB(0xf0, 0xd0, 0x40), RGB(0xf0, 0xd0, 0x40), [&] { Ellipse(dc, 8, 17, 11, 20); });
  // The arrow, pointing out to the right.
  const POINT arrow[] = {{13, 14}, {22, 14}, {22, 9}, {31, 17}, {22, 25}, {22, 20}, {13, 20}};
  fill(RGB(0x1e, 0x6b, 0x1e), RGB(0x3c, 0xb0, 0x3c), [&] { Polygon(dc, arrow, 7); });
  GdiFlush();
  SelectObject(dc, old_bitmap);
  DeleteDC(dc);

  // The key colour becomes transparent: alpha 0 and set in the mask.
  std::vector<BYTE> mask_bits(static_cast<std::size_t>(kSize * kSize / 8), 0);
  auto* pixels = static_cast<DWORD*>(bits);
  for (int i = 0; i < kSize * kSize; ++i) {
    const DWORD p = pixels[i] & 0x00FFFFFF;
    if (p == 0x00FF00FF) {  // BGRA of the key
      pixels[i] = 0;
      mask_bits[static_cast<std::size_t>(i / 8)] = static_cast<BYTE>(mask_bits[static_cast<std::size_t>(i / 8)] | (0x80 >> (i % 8)));
    } else {
      pixels[i] = p | 0xFF000000;
    }
  }
  HBITMAP mask = CreateBitmap(kSize, kSize, 1, 1, mask_bits.data());
  ICONINFO icon_info{TRUE, 0, 0, mask, color};
  HICON icon = CreateIconIndirect(&icon_info);
  DeleteObject(mask);
  DeleteObject(color);
  return icon;
}

}  // namespace kav::ui::win32
