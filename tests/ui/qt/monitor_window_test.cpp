// The monitor's shared tests, on Qt widgets.
#include "ui/monitor_window_tests.h"

#include "ui/qt/qt_driver.h"

namespace kav::ui::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Qt, MonitorWindowTest, ::kav::ui::qt::testing::QtDriver);
}  // namespace kav::ui::contract
