// The text of an INI file, as people write one by hand: "[section]" lines,
// "key = value" lines, comments from ';' or '#' at the start of a line, blank
// lines. Only the shape of the text is read here; what a section or a key
// means, and whether it is known, is for the reader of the file.
//
// The text may come as Windows-1252 or as UTF-8 (with or without its byte
// order mark, as current editors save it): valid UTF-8 with characters
// beyond ASCII is converted to Windows-1252, otherwise the bytes are taken as
// they stand. Keys and section names keep their case; blanks around them and
// around values are dropped. A value may be written between double quotes
// (which are dropped) to keep blanks at its ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kav::record {

struct IniEntry {
  std::string key;
  std::string value;
  int line = 0;  // 1-based
};

struct IniSection {
  std::string name;  // empty for the entries before the first section line
  int line = 0;      // of its "[...]" line (0 for the unnamed one)
  std::vector<IniEntry> entries;
};

struct IniText {
  std::vector<IniSection> sections;  // in the order of the file; the first is the unnamed one
  std::vector<int> bad_lines;        // lines that are neither a section, a key, a comment nor blank
};

IniText parse_ini(std::string_view text);

}  // namespace kav::record
