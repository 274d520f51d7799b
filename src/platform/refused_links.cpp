#include "platform/refused_links.h"

#include <algorithm>
#include <mutex>

namespace kav::platform {

namespace {

constexpr std::size_t kMaxNoted = 32;

std::mutex& notes_mutex() {
  static std::mutex m;
  return m;
}

std::vector<std::string>& notes() {
  static std::vector<std::string> v;
  return v;
}

}  // namespace

void note_refused_link(std::string_view host_path) {
  const std::lock_guard<std::mutex> guard(notes_mutex());
  std::vector<std::string>& v = notes();
  if (v.size() >= kMaxNoted || std::find(v.begin(), v.end(), host_path) != v.end()) return;
  v.emplace_back(host_path);
}

std::vector<std::string> take_refused_links() {
  const std::lock_guard<std::mutex> guard(notes_mutex());
  std::vector<std::string> out;
  out.swap(notes());
  return out;
}

}  // namespace kav::platform
