// The import page WRT_KAVCMD.php: the web application takes in the exchange
// file FILES/KAVCMD.TXT of its document folder (sellers and products written
// by the monitor's export). The monitor never reads the page's answer; GNU
// Wget stores it in WGET.TXT.
//
// Every line is checked: a seller line "VENDEDO;<6 digits>;<60>;" or a
// product line "PRODUTO;<6 digits>;<18>;<40>;<11 digits>;", with no other
// ";", blanks after the last ";" up to position 200 (written or not), LF or
// CR LF line ends. A file whose lines all pass replaces the stand-in's two
// tables, kept as text under the document folder:
//   tabelas/vendedores.txt   code;name            (one line per seller)
//   tabelas/produtos.txt     code;code2;description;price
// with the fields' trailing blanks dropped, Windows-1252 as exported. A file
// with any bad line changes nothing; the answer names the first bad line.
#pragma once

#include <filesystem>
#include <string>

namespace kav::webstub {

struct ImportResult {
  std::string answer;  // body of the page
  std::string note;    // short note for the request log, one line
};

inline constexpr const char* kTablesFolder = "tabelas";
inline constexpr const char* kSellersTable = "vendedores.txt";
inline constexpr const char* kProductsTable = "produtos.txt";

// Reads FILES/KAVCMD.TXT under `docroot` (names matched without regard to
// case) and, when every line is good, replaces the tables.
//   missing file:  "ERRO: FILES/KAVCMD.TXT nao encontrado\n", note "KAVCMD.TXT-missing"
//   a bad line:    "ERRO: linha N: <why>\n", note "KAVCMD.TXT-rejected-line-N"
//   imported:      "OK: V vendedores, P produtos\n", note "KAVCMD.TXT-V-vendedores-P-produtos"
ImportResult import_exchange_file(const std::filesystem::path& docroot);

}  // namespace kav::webstub
