// Two-character file statuses, as every file operation of the system reports them.
#pragma once

#include <string_view>

namespace kav::platform::status {

inline constexpr std::string_view ok = "00";
inline constexpr std::string_view at_end = "10";         // read past the last record
inline constexpr std::string_view no_record = "23";      // start found no record
inline constexpr std::string_view failed = "30";         // permanent I/O error
inline constexpr std::string_view not_found = "35";      // open of a missing file
inline constexpr std::string_view denied = "37";         // open not allowed
inline constexpr std::string_view bad_file = "39";       // file of another layout
inline constexpr std::string_view not_open = "42";       // close of a file not open
inline constexpr std::string_view read_not_open = "47";  // read of a file not open for input
inline constexpr std::string_view write_not_open = "48"; // write to a file not open for output
inline constexpr std::string_view locked = "99";         // record locked by another program

}  // namespace kav::platform::status
