// The line end written after every record of a text file: the platform's own.
#pragma once

#include <string_view>

namespace kav::platform {

#ifdef _WIN32
inline constexpr std::string_view kLineEnd = "\r\n";
#else
inline constexpr std::string_view kLineEnd = "\n";
#endif

}  // namespace kav::platform
