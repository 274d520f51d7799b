#include "platform/print/fcomanda.h"

#include <array>
#include <cctype>

#include "platform/print_record.h"
#include "record/area.h"

namespace kav::platform::print {

namespace {

using record::Field;

// The items of the form, at their places in the print record.
constexpr Field kNumcmd = prt_numcmd;
constexpr Field kCompl = prt_compl;
constexpr Field kTexto = prt_texto;
constexpr Field kPessoas = prt_pessoas;
constexpr Field kDescricao = prt_descricao;
constexpr Field kObs = prt_obs;
constexpr Field kImpressora = prt_impressora;
constexpr Field kCodigo = prt_codigo;
constexpr Field kQuantidade = prt_quantidade;
constexpr Field kValor = prt_valor;
constexpr Field kTotal = prt_total;
constexpr Field kLinhaTot{prt_linha_tot.pos, prt_linha_tot.width - 1};  // the last position is always blank
constexpr Field kNone{0, 0};

// One piece of a printed line: a fixed text or a field, from a column on.
struct Cell {
  std::size_t column = 0;  // 1-based; 0 ends the line's cells
  std::string_view text;
  Field field = kNone;
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
    // group     only when filled  cells: {column, text, field}
    {"CABEC",  false, {{{1, kDoubleRule}}}},
    {"CABEC",  false, {{{15, "*** COMANDA "}, {27, {}, kNumcmd}, {31, " ***"}}}},
    {"CABEC",  false, {{{1, kDoubleRule}}}},
    {"CABEC",  true,  {{{1, "Impressora: "}, {13, {}, kImpressora}}}},
    {"CABCMD", true,  {{{1, {}, kTexto}}}},
    {"CABCMD", true,  {{{1, {}, kCompl}, {29, {}, kPessoas}}}},
    {"ITECMD", false, {{{1, {}, kDescricao}}}},
    {"OBSITE", false, {{{5, "Obs.: "}, {11, {}, kObs}}}},
    {"VALCMD", false, {{{3, {}, kCodigo}, {10, {}, kQuantidade}, {23, {}, kValor}, {37, {}, kTotal}}}},
    {"SUBTOT", false, {{{19, {}, kLinhaTot}}}},
    {"TRACO",  false, {{{1, kRule}}}},
    {"CANC",   false, {{{1, kStars}}}},
    {"CANC",   false, {{{1, "***"}, {11, "I T E M   C A N C E L A D O"}, {46, "***"}}}},
    {"CANC",   false, {{{1, kStars}}}},
    {"ORBELA", false, {{{7, "KavComanda - Orbela Teknovarium Ltda"}}}},
};
// clang-format on

std::string printable(std::string_view field) {
  std::string out(field);
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = ' ';
  }
  return out;
}

// A field's characters; a record shorter than the form reads as blanks.
std::string field_text(std::string_view rec, Field f) {
  const std::string_view part = f.pos - 1 < rec.size() ? rec.substr(f.pos - 1, f.width) : std::string_view{};
  return printable(record::padded(part, f.width));
}

// The printed line, or nothing when the line is left out.
std::optional<std::string> render(const Line& line, std::string_view rec) {
  std::string out;
  bool any_field = false;
  bool filled = false;
  for (const Cell& cell : line.cells) {
    if (cell.column == 0) break;
    std::string text;
    if (cell.field.width > 0) {
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

}  // namespace

bool is_fcomanda(std::string_view form) {
  const std::string_view name = trimmed(form);
  static constexpr std::string_view kName = "FCOMANDA";
  if (name.size() != kName.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != kName[i]) return false;
  }
  return true;
}

std::optional<std::vector<std::string>> render_fcomanda(std::string_view group, std::string_view print_record) {
  const std::string_view name = trimmed(group);
  std::optional<std::vector<std::string>> lines;
  for (const Line& line : kForm) {
    if (line.group != name) continue;
    if (!lines) lines.emplace();
    if (auto text = render(line, print_record)) lines->push_back(std::move(*text));
  }
  return lines;
}

}  // namespace kav::platform::print
