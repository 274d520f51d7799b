// Whether windows can be shown is asked before the toolkit starts, which
// would end the process when its display does not answer.
#include "ui/qt/display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace kav::ui::qt {
namespace {

// Sets environment variables for one test and puts them back after it.
class Environment {
 public:
  void set(const char* name, const char* value) {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name);
      saved_[name] = old == nullptr ? std::nullopt : std::optional<std::string>(old);
    }
    if (value == nullptr) {
      ::unsetenv(name);
    } else {
      ::setenv(name, value, 1);
    }
  }
  ~Environment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(DisplayTest, ADisplayWithoutAServerIsNotAvailableAndOffscreenAlwaysIs) {
  Environment env;
  env.set("WAYLAND_DISPLAY", nullptr);
  env.set("DISPLAY", ":97");  // no X server listens there
  env.set("QT_QPA_PLATFORM", nullptr);
  EXPECT_FALSE(display_available());
  env.set("QT_QPA_PLATFORM", "xcb");
  EXPECT_FALSE(display_available());
  env.set("DISPLAY", nullptr);
  EXPECT_FALSE(display_available());
  env.set("WAYLAND_DISPLAY", "kav-no-such-socket");
  env.set("QT_QPA_PLATFORM", "wayland");
  EXPECT_FALSE(display_available());
  env.set("QT_QPA_PLATFORM", "offscreen");
  EXPECT_TRUE(display_available());
}

}  // namespace
}  // namespace kav::ui::qt
