// Keys as the forms see them in KeyDown: Windows virtual-key codes and the
// shift state (1 Shift, 2 Ctrl, 4 Alt).
#pragma once

#include <cstdint>

namespace kav::ui::qt {

inline constexpr std::uint16_t kShiftKey = 1;
inline constexpr std::uint16_t kCtrlKey = 2;
inline constexpr std::uint16_t kAltKey = 4;

// The virtual-key code of a Qt key (Qt::Key), or 0 for a key without one.
std::uint16_t virtual_key(int qt_key);

// The shift state of Qt keyboard modifiers (Qt::KeyboardModifiers as int).
std::uint16_t shift_state(int qt_modifiers);

}  // namespace kav::ui::qt
