// PARAMET: the ERP's parameters, 6192-character records keyed by their first
// character. Declared by the order-processing form, never read.
#pragma once

#include "erpfiles/erp_file.h"

namespace kav::erpfiles::paramet {

inline constexpr FileLayout kFile{"\\OrbelaTeknovarium\\KAV\\Arquivos\\PARAMET.ORB", 6192, 1};

}  // namespace kav::erpfiles::paramet
