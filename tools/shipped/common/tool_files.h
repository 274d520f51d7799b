// What the operator's tools (kav-answer, kav-spool) read: a regular file
// only, never more of it than `limit` bytes. A folder, a device (/dev/zero
// never ends), a FIFO (an open that never returns) or a file larger than
// any the monitor makes is refused with a sentence in Portuguese, and the
// tool exits 2.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace kav::tools {

enum class FileCheck { ok, unreadable, not_a_file, link, too_large };

inline constexpr int kExitRefused = 2;

// Whether `path` may be read: a regular file of at most `limit` bytes. A
// symbolic link is followed only when `follow_links` (the operator named
// the file; files a tool finds in the monitor's folders are never read
// through a link).
FileCheck check_file(const std::filesystem::path& path, std::uint64_t limit, bool follow_links);

// Reads `path` whole into `bytes` after check_file; never more than
// `limit` + 1 bytes, even when the file grows meanwhile.
FileCheck read_file(const std::filesystem::path& path, std::uint64_t limit, bool follow_links, std::string& bytes);

// The refusal, Windows-1252: "não é um arquivo comum; recusado", "maior que
// N bytes, <bound>; recusado" (`bound`: what the limit is, "o limite de uma
// resposta").
std::string refusal_text(FileCheck check, std::uint64_t limit, std::string_view bound);

}  // namespace kav::tools
