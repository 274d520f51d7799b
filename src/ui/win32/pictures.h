// The pictures that buttons name, drawn by the program itself.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string_view>

namespace kav::ui::win32 {

// "Bt_Sair" (case and trailing blanks ignored): an open door with a green
// arrow leading out, 32 x 32 with a transparent background; nullptr for a
// name the program does not ship. The caller owns the icon.
HICON make_picture(std::string_view name);

}  // namespace kav::ui::win32
