#include "platform/print/spool.h"

#include <array>
#include <cctype>
#include <cstdio>

#include "record/area.h"
#include "record/digits.h"
#include "record/letter_case.h"

namespace kav::platform::print {

namespace {

bool reserved_device(std::string_view name) {
  const std::string base = record::upper(name.substr(0, name.find('.')));
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

std::string printer_of_folder(std::string_view folder) {
  std::string out;
  for (std::size_t i = 0; i < folder.size(); ++i) {
    if (folder[i] == '%' && i + 2 < folder.size() && std::isxdigit(static_cast<unsigned char>(folder[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(folder[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(folder.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += folder[i];
    }
  }
  return std::string(printer_name(out));
}

namespace {

bool ends_with_nocase(std::string_view text, std::string_view tail) {
  if (text.size() < tail.size()) return false;
  return record::same_letters(text.substr(text.size() - tail.size()), tail);
}

}  // namespace

SpoolEntry classify_spool_file(std::string_view name) {
  using Kind = SpoolEntry::Kind;
  const std::string marked = std::string(kNotDeliveredMark) + std::string(kTicketExtension);
  if (ends_with_nocase(name, marked)) return {Kind::undelivered, std::string(name.substr(0, name.size() - marked.size()))};
  if (ends_with_nocase(name, kTicketExtension)) {
    return {Kind::printed, std::string(name.substr(0, name.size() - kTicketExtension.size()))};
  }
  if (ends_with_nocase(name, kUnfinishedExtension)) {
    return {Kind::unfinished, std::string(name.substr(0, name.size() - kUnfinishedExtension.size()))};
  }
  return {Kind::other, std::string(name)};
}

}  // namespace kav::platform::print
