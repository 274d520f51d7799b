// Windows-1252, the character set of every text inside the system.
//
// Texts live as single bytes; conversion happens only at the edges (the
// window toolkit, the terminal, host file names). Source files are UTF-8, so
// the system's own texts are converted once with `cp1252()`.
#pragma once

#include <string>
#include <string_view>

namespace kav::record {

// Windows-1252 bytes to UTF-8. The five bytes that Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls, as Windows does.
std::string to_utf8(std::string_view cp1252_text);

// UTF-8 to Windows-1252. A character the set lacks, or a malformed sequence,
// becomes '?'.
std::string cp1252(std::string_view utf8_text);

// Text for the command-line tools' terminal or pipe, and their arguments
// back: UTF-8 on POSIX hosts; on Windows the bytes as they stand (the
// programs' ANSI code page there is Windows-1252).
std::string to_terminal(std::string_view cp1252_text);
std::string from_terminal(std::string_view text);

// The Windows-1252 byte of a Unicode code point; false when the set lacks it.
bool cp1252_of(char32_t code_point, char& byte);

}  // namespace kav::record
