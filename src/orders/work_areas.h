// The answer work areas shared by the three commands of 90-COMANDAS: the
// header of the current answer, the item table TAB-ITENS, the printer table
// TAB-IMPRESSORAS and their indexes. Every exchange resets them.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace kav::orders {

// The answer header (CMD- fields).
struct AnswerHeader {
  std::string numero;   // 4 digits; zero or "9999" is the end marker
  std::string codigo;   // 6
  std::string texto;    // 40
  std::string pessoas;  // 2 digits
  std::string compl_;   // 20 (CMD-COMPL)
  std::string servico;  // 2 digits, read by the closing of orders only

  void reset() {
    numero = "0000";
    codigo = "000000";
    texto.assign(40, ' ');
    pessoas = "00";
    compl_.assign(20, ' ');
    servico = "00";
  }
};

// One row of TAB-ITENS (108 characters).
struct Item {
  std::string numcmd;      // 4 digits
  std::string codigo;      // 6
  std::string descricao;   // 40
  std::string quantidade;  // 9 digits, 3 of them decimals
  std::string valor;       // 9 digits, 2 of them decimals
  std::string obs;         // 20
  std::string impressora;  // 20

  void reset() {
    numcmd = "0000";
    codigo = "000000";
    descricao.assign(40, ' ');
    quantidade.assign(9, '0');
    valor.assign(9, '0');
    obs.assign(20, ' ');
    impressora.assign(20, ' ');
  }
};

inline constexpr std::size_t kTabItensRows = 200;
inline constexpr std::size_t kTabImpressorasEntries = 20;
inline constexpr std::size_t kPrinterNameWidth = 20;

struct WorkAreas {
  AnswerHeader cmd;
  std::array<Item, kTabItensRows> tab_itens;
  std::array<std::string, kTabImpressorasEntries> tab_impressoras;
  std::size_t w_item = 0;  // item records read into TAB-ITENS (1-based row of the last)
  std::size_t w_ind = 0;   // entry of TAB-IMPRESSORAS (1-based)

  WorkAreas() { reset(); }

  void reset() {
    cmd.reset();
    for (Item& row : tab_itens) row.reset();
    for (std::string& entry : tab_impressoras) entry.assign(kPrinterNameWidth, ' ');
    w_item = 0;
  }

  // Row `n` of TAB-ITENS, 1-based.
  Item& row(std::size_t n) { return tab_itens.at(n - 1); }
  std::string& impressora(std::size_t n) { return tab_impressoras.at(n - 1); }
};

}  // namespace kav::orders
