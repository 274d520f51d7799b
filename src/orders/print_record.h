// REG-IMPRESSAO as the commands of 90-COMANDAS name its fields.
#pragma once

#include "platform/print_record.h"

namespace kav::orders {

using platform::kRegImpressaoLength;
using platform::prt_codigo;
using platform::prt_compl;
using platform::prt_descricao;
using platform::prt_impressora;
using platform::prt_linha_tot;
using platform::prt_numcmd;
using platform::prt_obs;
using platform::prt_pessoas;
using platform::prt_quantidade;
using platform::prt_texto;
using platform::prt_total;
using platform::prt_valor;
namespace grupo = platform::grupo;

}  // namespace kav::orders
