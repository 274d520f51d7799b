#include "platform/library_search.h"

namespace kav::platform {

// The dynamic loader searches only the fixed paths of the system and of the
// program (no current folder unless someone sets LD_LIBRARY_PATH, which a
// user can only do for programs of his own).
bool restrict_library_search() { return true; }

}  // namespace kav::platform
