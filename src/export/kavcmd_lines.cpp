#include "export/kavcmd_lines.h"

#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"

namespace kav::exporta {

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

// No ";" may be left in a record that becomes a line, where ";" separates the
// fields, and no "'", which the web application would take for a quote.
void clean(record::Area& area) {
  area.replace_all(';', ' ');
  area.replace_all('\'', ' ');
}

}  // namespace

std::string seller_line(record::Area& vendedo) {
  using namespace erpfiles::vendedo;
  const std::string apelido(vendedo.get(ven_apelido));
  if (!record::is_blank(apelido)) vendedo.set(ven_nome, apelido);
  clean(vendedo);

  record::Area reg(kLineLength);
  reg.set(kVenTipo, "VENDEDO");
  reg.set(kVenSep1, ";");
  reg.set(kVenCodigo, vendedo.get(ven_codigo));
  reg.set(kVenSep2, ";");
  reg.set(kVenNome, vendedo.get(ven_nome));
  reg.set(kVenSep3, ";");
  return std::string(reg.bytes());
}

std::string product_line(record::Area& produto) {
  using namespace erpfiles::produto;
  // The price is taken after the cleaning, so that a stray ";" in the price
  // field cannot add a separator; digits are never touched by it.
  clean(produto);
  const std::string w_preco = "00" + std::string(produto.get(pro_preco));

  record::Area reg(kLineLength);
  reg.set(kProTipo, "PRODUTO");
  reg.set(kProSep1, ";");
  reg.set(kProCodigo, produto.get(pro_codigo));
  reg.set(kProSep2, ";");
  reg.set(kProChave2, produto.get(pro_chave2));
  reg.set(kProSep3, ";");
  reg.set(kProDescricao, produto.get(pro_descricao));
  reg.set(kProSep4, ";");
  reg.set(kProPreco, w_preco);
  reg.set(kProSep5, ";");
  return std::string(reg.bytes());
}

std::string import_batch_line(std::string_view web_host) {
  std::string line = "\\OrbelaTeknovarium\\Kav\\WGET";
  line += " \"http://";
  line += web_host;
  line += "/Comandas/WRT_KAVCMD.php\"";
  line += " --output-document=WGET.TXT --no-cache";
  return record::padded(line, kLineLength);
}

}  // namespace kav::exporta
