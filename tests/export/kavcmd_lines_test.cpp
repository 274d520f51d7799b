// The lines of KAVCMD.TXT, byte for byte, against the way they were first
// made: the whole record area cleaned of ";", "'" and control bytes, then the
// fields copied.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"
#include "export/kavcmd_lines.h"
#include "record/area.h"

namespace kav::master_export {
namespace {

using record::Area;

std::string reference_seller(Area a) {
  using namespace erpfiles::vendedo;
  const std::string apelido(a.get(ven_apelido));
  if (!record::is_blank(apelido)) a.set(ven_nome, apelido);
  a.replace_all(';', ' ');
  a.replace_all('\'', ' ');
  for (int c = 0; c < 0x20; ++c) a.replace_all(static_cast<char>(c), ' ');
  a.replace_all('\x7F', ' ');
  Area reg(kLineLength);
  reg.set({1, 7}, "VENDEDO");
  reg.set({8, 1}, ";");
  reg.set({9, 6}, a.get(ven_codigo));
  reg.set({15, 1}, ";");
  reg.set({16, 60}, a.get(ven_nome));
  reg.set({76, 1}, ";");
  return std::string(reg.bytes());
}

std::string reference_product(Area a) {
  using namespace erpfiles::produto;
  a.replace_all(';', ' ');
  a.replace_all('\'', ' ');
  for (int c = 0; c < 0x20; ++c) a.replace_all(static_cast<char>(c), ' ');
  a.replace_all('\x7F', ' ');
  Area reg(kLineLength);
  reg.set({1, 7}, "PRODUTO");
  reg.set({8, 1}, ";");
  reg.set({9, 6}, a.get(pro_codigo));
  reg.set({15, 1}, ";");
  reg.set({16, 18}, a.get(pro_chave2));
  reg.set({34, 1}, ";");
  reg.set({35, 40}, a.get(pro_descricao));
  reg.set({75, 1}, ";");
  reg.set({76, 11}, "00" + std::string(a.get(pro_preco)));
  reg.set({87, 1}, ";");
  return std::string(reg.bytes());
}

// Records of bytes drawn mostly from the troublesome ones: separators,
// quotes, blanks (whole blank short names too), digits and accented letters.
std::string random_record(std::mt19937& rng, std::size_t length, bool blank_apelido) {
  static const std::string alphabet = std::string(";;;'''    0123456789AZaz\xE7\xE3\xC9\"\t") + std::string(1, '\0');
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string r(length, ' ');
  for (char& c : r) c = alphabet[pick(rng)];
  if (blank_apelido) std::fill(r.begin() + 26, r.begin() + 46, ' ');
  return r;
}

TEST(KavcmdLinesTest, EveryByteAsTheWholeRecordCleaningMadeIt) {
  std::mt19937 rng(20191127);
  for (int i = 0; i < 3000; ++i) {
    Area vendedo(erpfiles::vendedo::kFile.record_length);
    vendedo.raw() = random_record(rng, vendedo.size(), i % 3 == 0);
    const std::string expected_seller = reference_seller(vendedo);
    ASSERT_EQ(seller_line(vendedo), expected_seller) << i;

    Area produto(erpfiles::produto::kFile.record_length);
    produto.raw() = random_record(rng, produto.size(), false);
    const std::string expected_product = reference_product(produto);
    const std::string line = product_line(produto);
    ASSERT_EQ(line, expected_product) << i;
    ASSERT_EQ(std::count(line.begin(), line.end(), ';'), 5);
  }
}

}  // namespace
}  // namespace kav::master_export
