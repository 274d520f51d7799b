#include <windows.h>

#include "platform/library_search.h"

namespace kav::platform {

bool restrict_library_search() {
  // The current folder leaves the search order of LoadLibrary at once ...
  const bool no_current = SetDllDirectoryW(L"") != 0;
  // ... and every later load looks only in System32 and the program's folder.
  const bool restricted =
      SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR) != 0;
  return no_current && restricted;
}

}  // namespace kav::platform
