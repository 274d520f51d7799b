// VENDEDO: the ERP's sellers, 1284-character records keyed by VEN-CODIGO.
#pragma once

#include "erpfiles/erp_file.h"
#include "record/area.h"

namespace kav::erpfiles::vendedo {

inline constexpr FileLayout kFile{"\\OrbelaTeknovarium\\KAV\\Arquivos\\VENDEDO.ORB", 1284, 6};

inline constexpr record::Field ven_codigo{1, 6};     // digits; prime key
inline constexpr record::Field ven_apelido{27, 20};  // short name; may be all blanks
inline constexpr record::Field ven_nome{53, 60};     // name

}  // namespace kav::erpfiles::vendedo
