// The configuration file of the installation, C:\OrbelaTeknovarium\KAV\kavcomanda.ini:
// Portuguese sections and keys, written by the installer by hand.
//
// What the file may hold is declared, not coded: a table of sections, each
// with its keys, what values each key takes and its default (kav_settings.h
// holds the table of this program). The reader checks the file against it:
//   - a section of a declared kind is taken with its values, its keys
//     lower-cased and its chosen values lower-cased;
//   - a key the section does not declare, a value its key does not take, a
//     key given twice, a section given twice: the section is refused (its
//     values are not used: what it configures keeps its defaults) and the
//     problem is named, with its line;
//   - a section of no declared kind, a line that is not INI: named.
// No file is no problem: every default holds. Problems are Windows-1252
// lines for the day's log, in Portuguese.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace kav::settings {

inline constexpr std::string_view kConfigPath = "C:\\OrbelaTeknovarium\\KAV\\kavcomanda.ini";
inline constexpr std::string_view kConfigName = "kavcomanda.ini";

enum class ValueKind {
  choice,   // one of `choices` (case ignored)
  number,   // a whole number from `min` to `max`
  address,  // HOST:PORTA, the port 1 to 65535
  text,     // anything not empty
};

struct KeySpec {
  std::string_view name;
  ValueKind kind = ValueKind::text;
  std::span<const std::string_view> choices = {};
  long min = 0;
  long max = 0;
  std::string_view fallback = {};  // the default; empty: none
};

struct SectionSpec {
  std::string_view kind;  // "impressora", "retencao"
  bool named = false;     // "[impressora COZINHA]": the kind, a blank, a name
  std::span<const KeySpec> keys;
};

struct Section {
  std::string kind;
  std::string name;  // for a named kind: as written (Windows-1252)
  int line = 0;
  bool refused = false;
  std::map<std::string, std::string> values;  // the keys given, checked
};

struct Settings {
  bool found = false;  // the file was there
  std::vector<Section> sections;
  std::vector<std::string> problems;

  // The section of `kind` (and `name`, compared without regard to case and
  // trailing blanks, for a named kind); nothing when the file has none.
  const Section* find(std::string_view kind, std::string_view name = {}) const;
  // The value of `key` in that section when given and the section is not
  // refused; otherwise the key's declared default.
  std::string value(std::span<const SectionSpec> schema, std::string_view kind, std::string_view name,
                    std::string_view key) const;
};

Settings parse_settings(std::string_view text, std::span<const SectionSpec> schema);
// The file at kConfigPath, or defaults when there is none. A file that
// exists and cannot be read is a problem.
Settings read_settings(platform::FileSystem& files, std::span<const SectionSpec> schema);

// A whole number, or nothing.
std::optional<long> as_number(std::string_view text);
// "HOST:PORTA" split; nothing when it is not that.
struct HostPort {
  std::string host;
  int port = 0;
};
std::optional<HostPort> as_address(std::string_view text);

}  // namespace kav::settings
