// The bitmap resources that buttons name as their picture.
#pragma once

#include <string_view>

#include <QPixmap>

namespace kav::ui::qt {

// The picture named `name` (case ignored), or a null pixmap for a name the
// program does not ship. "Bt_Sair": an open door with an arrow leading out.
QPixmap picture(std::string_view name);

}  // namespace kav::ui::qt
