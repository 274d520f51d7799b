#include "ui/qt/display.h"

namespace kav::ui::qt {

bool display_available() { return true; }

void prepare_toolkit_environment() {}

void on_stop_signal(QObject&, std::function<void()>) {}

}  // namespace kav::ui::qt
