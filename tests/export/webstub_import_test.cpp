// The stand-in web application's import page: KAVCMD.TXT checked line by line
// and taken into its tables.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "export/kavcmd_lines.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/temp_root.h"
#include "webstub/import.h"

namespace kav::webstub {
namespace {

namespace fs = std::filesystem;
using record::cp1252;
using record::padded;

const std::string kSeller = "VENDEDO;000001;" + padded(cp1252("João"), 60) + ";";
const std::string kProduct =
    "PRODUTO;000100;" + padded("789", 18) + ";" + padded(cp1252("Café"), 40) + ";00000000350;";

class WebImportTest : public ::testing::Test {
 protected:
  WebImportTest() { fs::create_directories(docroot() / "FILES"); }
  fs::path docroot() const { return root.path() / "Comandas"; }
  void put(const std::string& bytes) const {
    std::ofstream(docroot() / "FILES" / "KAVCMD.TXT", std::ios::binary) << bytes;
  }
  std::string table(const char* name) const { return test::slurp(docroot() / kTablesFolder / name); }

  test::TempRoot root;
};

TEST_F(WebImportTest, TakesSellersAndProductsAndReplacesThemOnTheNextImport) {
  // Whole 200-character lines and lines cut after the last ";", LF or CR LF.
  put(padded(kSeller, 200) + "\n" + kSeller.substr(0, 8) + "000002;" + padded("Ana", 60) + ";\r\n" +
      padded(kProduct, 200) + "\r\n");
  ImportResult r = import_exchange_file(docroot());
  EXPECT_EQ(r.answer, "OK: 2 vendedores, 1 produtos\n");
  EXPECT_EQ(r.note, "KAVCMD.TXT-2-vendedores-1-produtos");
  EXPECT_EQ(table(kSellersTable), cp1252("000001;João\n000002;Ana\n"));
  EXPECT_EQ(table(kProductsTable), cp1252("000100;789;Café;00000000350\n"));

  put(padded(kProduct, 200) + "\n");
  r = import_exchange_file(docroot());
  EXPECT_EQ(r.answer, "OK: 0 vendedores, 1 produtos\n");
  EXPECT_EQ(table(kSellersTable), "");

  put("");
  EXPECT_EQ(import_exchange_file(docroot()).answer, "OK: 0 vendedores, 0 produtos\n");
  EXPECT_EQ(table(kProductsTable), "");
}

TEST_F(WebImportTest, AnyBadLineRejectsTheWholeFile) {
  put(kSeller + "\n" + kProduct + "\n");
  ASSERT_EQ(import_exchange_file(docroot()).answer, "OK: 1 vendedores, 1 produtos\n");

  std::string extra_separator = kProduct;
  extra_separator[40] = ';';
  std::string letter_in_price = kProduct;
  letter_in_price[80] = 'x';
  const std::pair<std::string, std::string> bad[] = {
      {"CLIENTE;000001;", "tipo de registro desconhecido"},
      {kSeller.substr(0, 70), "linha curta (70 caracteres)"},
      {extra_separator, "separadores demais"},
      {letter_in_price, "campo numerico invalido na posicao 76"},
      {padded(kSeller, 200) + " ", "linha com mais de 200 caracteres"},
      {kSeller + "x", "texto depois do ultimo separador"},
      {"", "tipo de registro desconhecido"},
  };
  for (const auto& [line, why] : bad) {
    put(kSeller + "\n" + line + "\n" + kProduct + "\n");
    const ImportResult r = import_exchange_file(docroot());
    EXPECT_EQ(r.answer, "ERRO: linha 2: " + why + "\n") << line;
    EXPECT_EQ(r.note, "KAVCMD.TXT-rejected-line-2");
  }
  // The tables of the last good import stay.
  EXPECT_EQ(table(kSellersTable), cp1252("000001;João\n"));
  EXPECT_EQ(table(kProductsTable), cp1252("000100;789;Café;00000000350\n"));

  fs::remove(docroot() / "FILES" / "KAVCMD.TXT");
  EXPECT_EQ(import_exchange_file(docroot()).answer, "ERRO: FILES/KAVCMD.TXT nao encontrado\n");
}

// The export's own lines pass the stand-in's checks, whatever the ERP held.
TEST_F(WebImportTest, TheExportsLinesPass) {
  record::Area vendedo(1284, ';');
  vendedo.set({1, 6}, "000007");
  record::Area produto(869, '\'');
  produto.set({1, 6}, "000008");
  produto.set({433, 9}, "000000123");
  put(master_export::seller_line(vendedo) + "\n" + master_export::product_line(produto) + "\n");
  EXPECT_EQ(import_exchange_file(docroot()).answer, "OK: 1 vendedores, 1 produtos\n");
}

}  // namespace
}  // namespace kav::webstub
