// FCOMANDA, the print form of the comanda tickets: where each print group
// prints and which fields of the 296-character print record it shows.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "printing/print_service.h"

namespace kav::orders {

// The form's name, as the print file is bound to it.
inline constexpr std::string_view kFcomanda = "FCOMANDA";

// Every line of the form fits in this many columns of a fixed-pitch font.
inline constexpr std::size_t kTicketWidth = 48;

// True when `form` (blanks after it ignored, case ignored) names FCOMANDA.
bool is_fcomanda(std::string_view form);

// The lines that group `group` (blanks after the name ignored) prints with
// the field values of `print_record`, without trailing blanks. Control
// characters in a field print as blanks, so a field can never break a line.
// CABEC prints the moment the ticket is made, `made_at` (a stamp
// "YYYYMMDD-HHMMSScc"), as "dd/mm/yyyy hh:mm" under the order's number; the
// line is left out when `made_at` is not a stamp. Empty when the form has no
// such group.
std::optional<std::vector<std::string>> render_fcomanda(std::string_view group, std::string_view print_record,
                                                        std::string_view made_at = {});

// The mark of a reprinted ticket: a line of its own, centred, under the
// order's number.
inline constexpr std::string_view kSecondCopyMark = "2\xAA via";

// What a kept ticket of FCOMANDA is: the number of "*** COMANDA nnnn ***";
// a bill when it has the line "Total de Produtos", a cancellation when it
// has "I T E M   C A N C E L A D O", an item ticket otherwise (unknown
// without the order's line); a second copy when it has the mark.
platform::TicketFacts fcomanda_facts(std::string_view ticket);
// The ticket with the mark under the order's line (on top when there is
// none); a ticket already marked is returned as it is.
std::string fcomanda_second_copy(std::string_view ticket, std::string_view line_end);
// The ticket with `mark` centred on a line of its own under the order's line
// (on top when there is none), unless a line of it already reads so.
std::string fcomanda_with_mark(std::string_view ticket, std::string_view mark, std::string_view line_end);

// FCOMANDA as the ticket layout that the print service is given.
const platform::TicketLayout& fcomanda_layout();

}  // namespace kav::orders
