// Where the program looks for the libraries it loads after its start.
#pragma once

namespace kav::platform {

// Windows: libraries loaded later come only from the system folder and the
// program's own folder, never from the current folder or the PATH (a DLL
// dropped into the work folder, which every user may write, is never
// loaded). Returns false when the system refused the restriction. Elsewhere
// nothing to do: true.
bool restrict_library_search();

}  // namespace kav::platform
