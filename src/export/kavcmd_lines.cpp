#include "export/kavcmd_lines.h"

#include <algorithm>

#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"

namespace kav::master_export {

namespace {

using record::Field;

// Seller line.
constexpr Field kVenTipo{1, 7};
constexpr Field kVenSep1{8, 1};
constexpr Field kVenCodigo{9, 6};
constexpr Field kVenSep2{15, 1};
constexpr Field kVenNome{16, 60};
constexpr Field kVenSep3{76, 1};

// Product line.
constexpr Field kProTipo{1, 7};
constexpr Field kProSep1{8, 1};
constexpr Field kProCodigo{9, 6};
constexpr Field kProSep2{15, 1};
constexpr Field kProChave2{16, 18};
constexpr Field kProSep3{34, 1};
constexpr Field kProDescricao{35, 40};
constexpr Field kProSep4{75, 1};
constexpr Field kProPreco{76, 11};
constexpr Field kProSep5{87, 1};

// No ";" may be left in a field copied to a line, where ";" separates the
// fields, no "'", which the web application would take for a quote, and no
// control byte (CR, LF, NUL, Ctrl-Z, TAB ...), which would split the line or
// end the file for the importer.
// Only the copied fields are cleaned: the rest of the record never reaches
// the line.
void clean(std::string& line, Field f) {
  const auto first = line.begin() + static_cast<std::ptrdiff_t>(f.pos - 1);
  const auto last = first + static_cast<std::ptrdiff_t>(f.width);
  std::replace(first, last, ';', ' ');
  std::replace(first, last, '\'', ' ');
  std::replace_if(first, last, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7F'; }, ' ');
}

// `text` moved into the field `f` of `line` (the move rule), then cleaned.
void put(std::string& line, Field f, std::string_view text) {
  const std::size_t n = std::min(text.size(), f.width);
  std::copy_n(text.begin(), n, line.begin() + static_cast<std::ptrdiff_t>(f.pos - 1));  // the rest is blank already
  clean(line, f);
}

void put_literal(std::string& line, Field f, std::string_view text) {
  std::copy(text.begin(), text.end(), line.begin() + static_cast<std::ptrdiff_t>(f.pos - 1));
}

}  // namespace

std::string seller_line(record::Area& vendedo) {
  using namespace erpfiles::vendedo;
  const std::string_view apelido = vendedo.get(ven_apelido);
  if (!record::is_blank(apelido)) vendedo.set(ven_nome, std::string(apelido));

  std::string line(kLineLength, ' ');
  put_literal(line, kVenTipo, "VENDEDO");
  put_literal(line, kVenSep1, ";");
  put(line, kVenCodigo, vendedo.get(ven_codigo));
  put_literal(line, kVenSep2, ";");
  put(line, kVenNome, vendedo.get(ven_nome));
  put_literal(line, kVenSep3, ";");
  return line;
}

std::string product_line(record::Area& produto) {
  using namespace erpfiles::produto;
  // W-PRECO: "00" and the nine characters of the price, cleaned like every
  // copied field, so that a stray ";" there cannot add a separator; digits
  // are never touched by it.
  std::string line(kLineLength, ' ');
  put_literal(line, kProTipo, "PRODUTO");
  put_literal(line, kProSep1, ";");
  put(line, kProCodigo, produto.get(pro_codigo));
  put_literal(line, kProSep2, ";");
  put(line, kProChave2, produto.get(pro_chave2));
  put_literal(line, kProSep3, ";");
  put(line, kProDescricao, produto.get(pro_descricao));
  put_literal(line, kProSep4, ";");
  put_literal(line, {kProPreco.pos, 2}, "00");
  put(line, {kProPreco.pos + 2, kProPreco.width - 2}, produto.get(pro_preco));
  put_literal(line, kProSep5, ";");
  return line;
}

std::string import_batch_line(std::string_view web_host) {
  std::string line = "\\OrbelaTeknovarium\\Kav\\WGET";
  line += " \"http://";
  line += web_host;
  line += "/Comandas/WRT_KAVCMD.php\"";
  line += " --output-document=WGET.TXT --no-cache";
  return record::padded(line, kLineLength);
}

}  // namespace kav::master_export
