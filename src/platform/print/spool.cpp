#include "platform/print/spool.h"

#include <array>
#include <cctype>
#include <cstdio>

#include "record/area.h"
#include "record/digits.h"

namespace kav::platform::print {

namespace {

bool reserved_device(std::string_view name) {
  std::string base;
  for (char c : name.substr(0, name.find('.'))) base += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (std::string_view r : {"CON", "PRN", "AUX", "NUL"}) {
    if (base == r) return true;
  }
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' &&
         base[3] <= '9';
}

bool unsafe(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x20 || b == 0x7F || std::string_view("<>:\"/\\|?*%").find(c) != std::string_view::npos;
}

std::string escaped(char c) {
  std::array<char, 4> buf{};
  std::snprintf(buf.data(), buf.size(), "%%%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
  return buf.data();
}

}  // namespace

std::string_view printer_name(std::string_view printer) { return record::trim_right(printer); }

std::string spool_folder_name(std::string_view printer) {
  const std::string_view name = printer_name(printer);
  if (name.empty()) return escaped(' ');
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool last = i + 1 == name.size();
    if (unsafe(c) || (i == 0 && c == ' ') || (last && c == '.') || (i == 0 && reserved_device(name))) {
      out += escaped(c);
    } else {
      out += c;
    }
  }
  return out;
}

std::string ticket_base_name(std::string_view yyyymmdd, std::string_view hhmmsscc, unsigned long sequence) {
  return std::string(yyyymmdd) + "-" + std::string(hhmmsscc) + "-" + record::to_digits(sequence, 6);
}

}  // namespace kav::platform::print
