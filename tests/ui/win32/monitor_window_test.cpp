// The monitor's shared tests, on native windows.
//
// KAV_MONITOR_SCREENSHOT=Z:\\tmp\\monitor.bmp (a Windows path) makes the test
// ChecksShowWhatTheyDidBelowTheirRow write the monitor window as it stands
// after a check with work; that is how docs/monitor-windows.png is taken
// under Wine (then made a PNG).
#include "ui/monitor_window_tests.h"

#include "ui/win32/win32_driver.h"

namespace kav::ui::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, MonitorWindowTest, ::kav::ui::win32::testing::Win32Driver);
}  // namespace kav::ui::contract
