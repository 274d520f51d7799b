#include "app/web_host.h"

#include <cstdlib>

namespace kav::platform {

Status check_web_host(std::string_view host) {
  if (host.empty()) return {Status::kRefused, "the web host is empty"};
  if (host.size() > kMaxWebHostLength) {
    return {Status::kRefused, "the web host is longer than " + std::to_string(kMaxWebHostLength) + " characters"};
  }
  for (char c : host) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                         c == '-' || c == ':' || c == '[' || c == ']';
    if (!allowed) return {Status::kRefused, "the web host may hold only letters, digits, '.', '-', ':', '[' and ']'"};
  }
  return Status();
}

std::string web_host_from_environment() {
  const char* host = std::getenv("KAVCOMANDA_WEB_HOST");
  return host != nullptr && *host != '\0' ? std::string(host) : std::string(kDefaultWebHost);
}

}  // namespace kav::platform
