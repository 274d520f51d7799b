#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <QSocketNotifier>

#include "ui/qt/display.h"

#include "platform/stop_signal.h"

namespace kav::ui::qt {

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v == nullptr ? std::string() : std::string(v);
}

bool x_server_answers() {
  if (env("DISPLAY").empty()) return false;
  int screen = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screen);
  const bool ok = c != nullptr && xcb_connection_has_error(c) == 0;
  if (c != nullptr) xcb_disconnect(c);
  return ok;
}

bool wayland_socket_answers() {
  std::string name = env("WAYLAND_DISPLAY");
  if (name.empty()) return false;
  if (name.front() != '/') {
    const std::string dir = env("XDG_RUNTIME_DIR");
    if (dir.empty()) return false;
    name = dir + "/" + name;
  }
  sockaddr_un addr{};
  if (name.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, name.c_str(), name.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

void on_stop_signal(QObject& parent, std::function<void()> stop) {
  const int fd = platform::stop_signal_fd();
  if (fd < 0) return;
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &parent);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, stop = std::move(stop)] {
    platform::drain_stop_signal();
    notifier->setEnabled(false);
    stop();
  });
}

bool display_available() {
  const std::string platform = env("QT_QPA_PLATFORM");
  const std::string_view first = std::string_view(platform).substr(0, platform.find(';'));
  if (!first.empty() && first.substr(0, 3) != "xcb" && first.substr(0, 7) != "wayland") return true;
  if (first.substr(0, 3) == "xcb") return x_server_answers();
  return wayland_socket_answers() || x_server_answers();
}

void prepare_toolkit_environment() {
  if (!env("XDG_RUNTIME_DIR").empty()) return;
  // The folder the toolkit would fall back to, made private as it wants it.
  std::string dir = env("TMPDIR");
  if (dir.empty()) dir = "/tmp";
  dir += "/runtime-" + std::to_string(::getuid());
  struct stat st {};
  if (::mkdir(dir.c_str(), 0700) != 0 && (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
                                           st.st_uid != ::getuid() || (st.st_mode & 077) != 0)) {
    return;  // not ours, or not private: leave the toolkit to judge it
  }
  ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 0);
}

}  // namespace kav::ui::qt
