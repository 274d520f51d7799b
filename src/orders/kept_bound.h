// The bound of the answers kept aside (Temp\KAVFALHA-*.RET), together.
//
// Each kept answer is an order the staff enter again by hand; a restaurant
// meets a few in a bad week. What fills Temp is a page gone wrong: one that
// cuts every answer (a file per check, up to the 4 MiB of an answer each)
// or hands out a new damaged order at every request (a file per request).
// So that such a page never fills the disk (on Windows the system's C:),
// the kept answers are bounded together:
//   - kMaxKeptAnswers files: far more than an operator settles, and more
//     than the list of kept answers is meant to hold;
//   - kMaxKeptBytes: sixteen answers of the largest size one may have, a
//     thousand orders of the usual size; nothing to a disk.
// Past either bound the oldest go first (their order numbers are in the
// log line of their keeping, and of their removal).
//
// The same answer kept again (a page that answers the same damaged order at
// every request, the same error page at every check) is not kept twice: one
// copy says all of it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace kav::orders {

inline constexpr std::size_t kMaxKeptAnswers = 200;
inline constexpr std::uint64_t kMaxKeptBytes = 64u * 1024u * 1024u;

class KeptBound {
 public:
  explicit KeptBound(platform::FileSystem& files) : files_(files) {}

  // The kept answer (its name) of `command` that holds exactly `bytes`.
  std::optional<std::string> same_as(std::string_view command, std::string_view bytes);
  // A kept answer of `size` bytes has just been kept as `name`.
  void kept(const std::string& name, std::uint64_t size) { sizes_[name] = size; }
  // The kept answers to remove, oldest first, so that the rest is within
  // both bounds; never `newest`.
  std::vector<std::string> over_bound(std::string_view newest);

 private:
  // The kept answers' names, oldest first, with their sizes (measured once).
  std::vector<std::pair<std::string, std::uint64_t>> current();

  platform::FileSystem& files_;
  std::map<std::string, std::uint64_t> sizes_;
};

}  // namespace kav::orders
