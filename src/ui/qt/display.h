// Whether windows can be shown at all, asked before the toolkit starts (the
// toolkit ends the process when it cannot open its display).
#pragma once

#include <functional>

class QObject;

namespace kav::ui::qt {

// True when the display that the toolkit would use can be opened: an X
// server that accepts a connection, a Wayland socket, or a platform that
// needs no display (offscreen). Always true on Windows.
bool display_available();

// Prepares the process environment for the toolkit: on POSIX a private
// runtime folder when XDG_RUNTIME_DIR is not set, so that the toolkit has no
// reason to warn on a normal start.
void prepare_toolkit_environment();

// Calls `stop` on the GUI thread when the process receives SIGINT or SIGTERM
// (POSIX; the first one only: a second one ends the process at once).
void on_stop_signal(QObject& parent, std::function<void()> stop);

}  // namespace kav::ui::qt
