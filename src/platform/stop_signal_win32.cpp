#include "platform/stop_signal.h"

namespace kav::platform {

// Windows signals an end through the console's control handler and the
// windows' end-of-session messages, which the console and the windows watch
// themselves: there is no descriptor to watch.
int stop_signal_fd() { return -1; }

void drain_stop_signal() {}

}  // namespace kav::platform
