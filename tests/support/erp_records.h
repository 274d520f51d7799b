// Records of the ERP's files as tests load them: a seller and a product with
// the fields the export copies.
#pragma once

#include <string>
#include <string_view>

#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"
#include "record/area.h"

namespace kav::test {

inline std::string seller_record(std::string_view code, std::string_view nome) {
  record::Area a(erpfiles::vendedo::kFile.record_length);
  a.set(erpfiles::vendedo::ven_codigo, code);
  a.set(erpfiles::vendedo::ven_nome, nome);
  return std::string(a.bytes());
}

inline std::string product_record(std::string_view code, std::string_view descricao, std::string_view preco) {
  record::Area a(erpfiles::produto::kFile.record_length);
  a.set(erpfiles::produto::pro_codigo, code);
  a.set(erpfiles::produto::pro_chave2, std::string("EAN") + std::string(code));
  a.set(erpfiles::produto::pro_descricao, descricao);
  a.set(erpfiles::produto::pro_preco, preco);
  return std::string(a.bytes());
}

}  // namespace kav::test
