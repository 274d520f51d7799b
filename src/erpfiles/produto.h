// PRODUTO: the ERP's products, 869-character records keyed by PRO-CODIGO.
#pragma once

#include "erpfiles/erp_file.h"
#include "record/area.h"

namespace kav::erpfiles::produto {

inline constexpr FileLayout kFile{"\\OrbelaTeknovarium\\KAV\\Arquivos\\PRODUTO.ORB", 869, 6};

inline constexpr record::Field pro_codigo{1, 6};       // digits; prime key
inline constexpr record::Field pro_chave2{25, 18};     // the product's 18-character code
inline constexpr record::Field pro_descricao{43, 40};  // description
inline constexpr record::Field pro_preco{433, 9};      // digits; price

}  // namespace kav::erpfiles::produto
