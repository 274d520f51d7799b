#include "platform/print/page_setup.h"
#include "record/letter_case.h"

#include <cctype>
#include <cstdio>

namespace kav::platform::print {

namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string upper_trimmed(std::string_view s) {
  return record::upper(trimmed(s));
}

// A number as CUPS's options take it: at most two decimals, no trailing zeros.
std::string number(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

// The margins on a roll, in points: 4 mm, as an 80 mm roll prints 72 mm.
constexpr double kRollMargin = 11.34;

}  // namespace

PageSetup page_setup(const PrinterSettings& settings) {
  PageSetup page;
  page.continuous = upper_trimmed(settings.form_kind) == "C";
  if (!page.continuous) page.form_size = std::string(trimmed(settings.form_size));
  page.font_face = settings.font_face;
  page.font_size = settings.font_size;
  return page;
}

TicketFont ticket_font(const PageSetup& page) {
  TicketFont font;
  font.face = page.font_face.empty() ? std::string(kDefaultFontFace) : page.font_face;
  font.points = page.font_size > 0 ? page.font_size : page.continuous ? kRollFontPoints : kSheetFontPoints;
  return font;
}

std::vector<std::pair<std::string, std::string>> cups_text_options(const PageSetup& page) {
  std::vector<std::pair<std::string, std::string>> options;
  if (page.continuous) {
    for (const char* side : {"page-left", "page-right", "page-top", "page-bottom"}) {
      options.emplace_back(side, number(kRollMargin));
    }
  } else if (!page.form_size.empty()) {
    options.emplace_back("media", page.form_size);
  }
  // A fixed-pitch character is 0.6 em wide; lines are one em apart.
  const double points = ticket_font(page).points;
  options.emplace_back("cpi", number(72.0 / (0.6 * points)));
  options.emplace_back("lpi", number(72.0 / points));
  return options;
}

short windows_paper(const PageSetup& page) {
  if (page.continuous) return 0;
  struct Paper {
    std::string_view name;
    short number;
  };
  // DMPAPER_LETTER, DMPAPER_LEGAL, DMPAPER_A3, DMPAPER_A4, DMPAPER_A5
  static constexpr Paper kPapers[] = {{"LETTER", 1}, {"LEGAL", 5}, {"A3", 8}, {"A4", 9}, {"A5", 11}};
  const std::string size = upper_trimmed(page.form_size);
  for (const Paper& p : kPapers) {
    if (p.name == size) return p.number;
  }
  return 0;
}

}  // namespace kav::platform::print
