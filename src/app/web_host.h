// The host name of the local web server, from KAVCOMANDA_WEB_HOST.
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace kav::platform {

inline constexpr std::string_view kDefaultWebHost = "localhost";

// The longest host that still fits the 200-character batch lines.
inline constexpr std::size_t kMaxWebHostLength = 49;

// Checks a host or host:port for the batch files: letters, digits, '.', '-',
// ':' and the brackets of an IPv6 address only, and not too long. Refused
// (Status::kRefused) with an explanation as its message.
Status check_web_host(std::string_view host);

// KAVCOMANDA_WEB_HOST, or the default when it is unset or empty.
std::string web_host_from_environment();

}  // namespace kav::platform
