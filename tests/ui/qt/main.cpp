// The Qt runtime's tests need one QApplication for the whole program.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "ui/qt/display.h"

// Run on a real display, the D-Bus library that Qt loads keeps a buffer
// for the life of the process; LeakSanitizer would report it at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

int main(int argc, char** argv) {
  // Run without a display unless told otherwise.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  kav::ui::qt::prepare_toolkit_environment();
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
