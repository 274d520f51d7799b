// The code pages a receipt printer is told to use for its characters (ESC t)
// and Windows-1252 text put into them. Portuguese needs "ã", "õ", "ç" and
// the acute and circumflex vowels; every page here has them, and a
// character a page lacks prints as '?'.
//
//   page      ESC t n   what it is
//   cp860     3         PC860, Portuguese: the usual page of Brazilian printers
//   cp850     2         PC850, Multilingual Latin 1
//   cp858     19        PC858, PC850 with the euro sign
//   wpc1252   16        WPC1252, Windows-1252 itself
//
// The numbers are those of the common ESC/POS command set; a printer whose
// numbering differs is given the page that reads right on its test page.
#pragma once

#include <string>
#include <string_view>

namespace kav::platform::print {

enum class CodePage { cp860, cp850, cp858, wpc1252 };

inline constexpr CodePage kCodePages[] = {CodePage::cp860, CodePage::cp850, CodePage::cp858, CodePage::wpc1252};

std::string_view code_page_name(CodePage page);
// The n of ESC t n that selects the page.
unsigned char esc_t_number(CodePage page);
// A Windows-1252 byte, or text, in the page.
char to_code_page(char cp1252, CodePage page);
std::string to_code_page(std::string_view cp1252_text, CodePage page);

}  // namespace kav::platform::print
