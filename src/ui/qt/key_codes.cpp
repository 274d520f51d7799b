#include "ui/qt/key_codes.h"

#include <Qt>

namespace kav::ui::qt {

std::uint16_t virtual_key(int qt_key) {
  // Letters and digits share their codes with the virtual keys.
  if ((qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) || (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9)) {
    return static_cast<std::uint16_t>(qt_key);
  }
  if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F24) {
    return static_cast<std::uint16_t>(0x70 + (qt_key - Qt::Key_F1));
  }
  switch (qt_key) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    default: return 0;
  }
}

std::uint16_t shift_state(int qt_modifiers) {
  std::uint16_t state = 0;
  if (qt_modifiers & Qt::ShiftModifier) state |= kShiftKey;
  if (qt_modifiers & Qt::ControlModifier) state |= kCtrlKey;
  if (qt_modifiers & Qt::AltModifier) state |= kAltKey;
  return state;
}

}  // namespace kav::ui::qt
