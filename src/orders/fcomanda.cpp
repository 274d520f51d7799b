#include "orders/fcomanda.h"

#include <array>
#include <cctype>

#include "orders/print_record.h"
#include "platform/clock.h"
#include "record/area.h"
#include "record/letter_case.h"

namespace kav::orders {

namespace {

using record::Field;

// The total line as printed: its last position is always blank.
constexpr Field kLinhaTotPrinted{prt_linha_tot.pos, prt_linha_tot.width - 1};
constexpr Field kNone{0, 0};

// One piece of a printed line: a fixed text, a field, or the moment the
// ticket is made, from a column on.
struct Cell {
  std::size_t column = 0;  // 1-based; 0 ends the line's cells
  std::string_view text;
  Field field = kNone;
  bool made_at = false;  // "dd/mm/yyyy hh:mm"
};

struct Line {
  std::string_view group;
  bool only_when_filled;  // left out when every field on the line is blank
  std::array<Cell, 4> cells;
};

constexpr std::string_view kDoubleRule = "================================================";
constexpr std::string_view kRule = "------------------------------------------------";
constexpr std::string_view kStars = "************************************************";

// The form, group by group, line by line. Amounts on item lines (VALCMD) and
// on total lines (SUBTOT) end in the last column, so their values align.
// clang-format off
constexpr Line kForm[] = {
    // group      only when filled  cells: {column, text, field, made_at}
    {grupo::cabec,  false, {{{1, kDoubleRule}}}},
    {grupo::cabec,  false, {{{15, "*** COMANDA "}, {27, {}, prt_numcmd}, {31, " ***"}}}},
    {grupo::cabec,  true,  {{{17, {}, kNone, true}}}},
    {grupo::cabec,  false, {{{1, kDoubleRule}}}},
    {grupo::cabec,  true,  {{{1, "Impressora: "}, {13, {}, prt_impressora}}}},
    {grupo::cabcmd, true,  {{{1, {}, prt_texto}}}},
    {grupo::cabcmd, true,  {{{1, {}, prt_compl}, {29, {}, prt_pessoas}}}},
    {grupo::itecmd, false, {{{1, {}, prt_descricao}}}},
    {grupo::obsite, false, {{{5, "Obs.: "}, {11, {}, prt_obs}}}},
    {grupo::valcmd, false, {{{3, {}, prt_codigo}, {10, {}, prt_quantidade}, {23, {}, prt_valor}, {37, {}, prt_total}}}},
    {grupo::subtot, false, {{{19, {}, kLinhaTotPrinted}}}},
    {grupo::traco,  false, {{{1, kRule}}}},
    {grupo::canc,   false, {{{1, kStars}}}},
    {grupo::canc,   false, {{{1, "***"}, {11, "I T E M   C A N C E L A D O"}, {46, "***"}}}},
    {grupo::canc,   false, {{{1, kStars}}}},
    {grupo::orbela, false, {{{7, "KavComanda - Orbela Teknovarium Ltda"}}}},
};
// clang-format on

// A field's characters; a record shorter than the form reads as blanks.
std::string field_text(std::string_view rec, Field f) {
  const std::string_view part = f.pos - 1 < rec.size() ? rec.substr(f.pos - 1, f.width) : std::string_view{};
  return record::blank_controls(record::padded(part, f.width));
}

// "dd/mm/yyyy hh:mm" of a stamp "YYYYMMDD-HHMMSScc"; blanks when it is none.
std::string date_time(std::string_view stamp) {
  if (!platform::stamp_centis(stamp)) return {};
  std::string out;
  out.append(stamp.substr(6, 2)).append("/").append(stamp.substr(4, 2)).append("/").append(stamp.substr(0, 4));
  out.append(" ").append(stamp.substr(9, 2)).append(":").append(stamp.substr(11, 2));
  return out;
}

// The printed line, or nothing when the line is left out.
std::optional<std::string> render(const Line& line, std::string_view rec, std::string_view made_at) {
  std::string out;
  bool any_field = false;
  bool filled = false;
  for (const Cell& cell : line.cells) {
    if (cell.column == 0) break;
    std::string text;
    if (cell.made_at) {
      text = date_time(made_at);
      any_field = true;
      filled = filled || !text.empty();
    } else if (cell.field.width > 0) {
      text = field_text(rec, cell.field);
      any_field = true;
      filled = filled || !record::is_blank(text);
    } else {
      text = cell.text;
    }
    if (out.size() < cell.column - 1) out.resize(cell.column - 1, ' ');
    out.replace(cell.column - 1, std::min(text.size(), out.size() - (cell.column - 1)), text);
  }
  if (line.only_when_filled && any_field && !filled) return std::nullopt;
  return std::string(record::trim_right(out));
}

std::string_view trimmed(std::string_view s) { return record::trim_right(s); }

// ITEQTD: the quantity as edited, without its blanks, " x " and the
// description ("3 x Caipirinha de limão", "0,350 x Picanha"). A line that
// would pass the form's width breaks at its last blank (or at the width, in
// a word longer than a line), and the description goes on under itself.
std::vector<std::string> item_with_quantity(std::string_view rec) {
  const std::string qty = field_text(rec, prt_quantidade);
  const std::size_t first = qty.find_first_not_of(' ');
  const std::string prefix = (first == std::string::npos ? std::string("0") : std::string(trimmed(qty.substr(first)))) + " x ";
  std::string rest(trimmed(field_text(rec, prt_descricao)));
  std::vector<std::string> lines;
  std::string line = prefix;
  for (;;) {
    const std::size_t room = kTicketWidth - line.size();
    if (rest.size() <= room) {
      lines.emplace_back(trimmed(line + rest));
      return lines;
    }
    std::size_t cut = rest.rfind(' ', room);
    if (cut == std::string::npos || cut == 0) cut = room;
    lines.emplace_back(trimmed(line + rest.substr(0, cut)));
    rest.erase(0, rest.find_first_not_of(' ', cut) == std::string::npos ? rest.size() : rest.find_first_not_of(' ', cut));
    line.assign(prefix.size(), ' ');
  }
}

}  // namespace

bool is_fcomanda(std::string_view form) {
  return record::same_letters(trimmed(form), kFcomanda);
}

std::optional<std::vector<std::string>> render_fcomanda(std::string_view group, std::string_view print_record,
                                                        std::string_view made_at) {
  const std::string_view name = trimmed(group);
  if (name == grupo::iteqtd) return item_with_quantity(print_record);
  std::optional<std::vector<std::string>> lines;
  for (const Line& line : kForm) {
    if (line.group != name) continue;
    if (!lines) lines.emplace();
    if (auto text = render(line, print_record, made_at)) lines->push_back(std::move(*text));
  }
  return lines;
}

namespace {

constexpr std::string_view kOrderHead = "*** COMANDA ";

// Calls `f(line, end)` for each line of a ticket, `end` the offset past
// its line end; stops when `f` returns true.
template <class F>
void each_line(std::string_view text, F&& f) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t nl = text.find('\n', at);
    const std::size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
    std::string_view line = text.substr(at, (nl == std::string_view::npos ? text.size() : nl) - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (f(line, end)) return;
    at = end;
  }
}

std::string_view trim_both(std::string_view s) {
  s = trimmed(s);
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

}  // namespace

platform::TicketFacts fcomanda_facts(std::string_view ticket) {
  using Kind = platform::TicketFacts::Kind;
  platform::TicketFacts facts;
  bool bill = false;
  bool cancellation = false;
  bool head = false;
  each_line(ticket, [&](std::string_view line, std::size_t) {
    const std::string_view text = trim_both(line);
    if (!head && text.starts_with(kOrderHead)) {
      std::string_view number = text.substr(kOrderHead.size());
      if (const auto stars = number.find(" ***"); stars != std::string_view::npos) number = number.substr(0, stars);
      facts.order = std::string(trim_both(number));
      head = true;
    } else if (text == kSecondCopyMark) {
      facts.second_copy = true;
    } else if (text == platform::kPossibleCopyMark) {
      facts.possible_copy = true;
    } else if (text.starts_with(platform::kLateMark)) {
      facts.late = true;
    } else if (text.starts_with("Total de Produtos")) {
      bill = true;
    } else if (text.find("I T E M   C A N C E L A D O") != std::string_view::npos) {
      cancellation = true;
    }
    return false;
  });
  if (bill) {
    facts.kind = Kind::bill;
  } else if (cancellation) {
    facts.kind = Kind::cancellation;
  } else if (head) {
    facts.kind = Kind::items;
  }
  return facts;
}

std::string fcomanda_with_mark(std::string_view ticket, std::string_view mark, std::string_view line_end) {
  bool there = false;
  each_line(ticket, [&](std::string_view line, std::size_t) { return there = trim_both(line) == trim_both(mark); });
  if (there) return std::string(ticket);
  const std::string text(mark.substr(0, kTicketWidth));
  const std::string line = std::string((kTicketWidth - text.size()) / 2, ' ') + text + std::string(line_end);
  std::size_t after_head = 0;
  each_line(ticket, [&](std::string_view each, std::size_t end) {
    if (!trim_both(each).starts_with(kOrderHead)) return false;
    after_head = end;
    return true;
  });
  std::string out(ticket);
  out.insert(after_head, line);
  return out;
}

std::string fcomanda_second_copy(std::string_view ticket, std::string_view line_end) {
  return fcomanda_with_mark(ticket, kSecondCopyMark, line_end);
}

const platform::TicketLayout& fcomanda_layout() {
  class Fcomanda final : public platform::TicketLayout {
   public:
    bool is_form(std::string_view print_form) const override { return is_fcomanda(print_form); }
    std::optional<std::vector<std::string>> lines(std::string_view group, std::string_view print_record,
                                                  std::string_view made_at) const override {
      return render_fcomanda(group, print_record, made_at);
    }
    platform::TicketFacts facts(std::string_view ticket) const override { return fcomanda_facts(ticket); }
    std::string second_copy(std::string_view ticket, std::string_view line_end) const override {
      return fcomanda_second_copy(ticket, line_end);
    }
    std::string with_mark(std::string_view ticket, std::string_view mark, std::string_view line_end) const override {
      return fcomanda_with_mark(ticket, mark, line_end);
    }
  };
  static const Fcomanda layout;
  return layout;
}

}  // namespace kav::orders
