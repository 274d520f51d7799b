// Links that the file system refused to follow.
//
// No file or folder under the root is reached through a symbolic link
// (POSIX) or a reparse point (Windows): an open, a removal, a rename or a new
// folder that would pass through one fails, and the path is noted here. The
// application takes the notes after each check to alert and log them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kav::platform {

// Notes the host path of a link that was refused (kept once, at most 32
// different ones until they are taken).
void note_refused_link(std::string_view host_path);

// The links refused since the last call, oldest first, and forgets them.
std::vector<std::string> take_refused_links();

}  // namespace kav::platform
