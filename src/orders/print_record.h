// REG-IMPRESSAO: the record of the print file IMPRESSAO, 296 characters that
// hold every field of the print form FCOMANDA. Each field is preceded by the
// 5-character item control area of the form, which the program never writes.
// The record is never cleared as a whole: a field keeps its value from the
// previous write, and from the previous job, until a command moves into it.
#pragma once

#include <cstddef>
#include <string_view>

#include "record/area.h"

// The print form fills it; the ticket layout FCOMANDA lays it out.
namespace kav::orders {

inline constexpr std::size_t kRegImpressaoLength = 296;

inline constexpr record::Field prt_numcmd{6, 4};         // order (comanda) number
inline constexpr record::Field prt_compl{15, 20};        // second header text
inline constexpr record::Field prt_texto{40, 40};        // header text
inline constexpr record::Field prt_pessoas{85, 20};      // "Pessoas :" and the people, or blanks
inline constexpr record::Field prt_descricao{110, 40};   // item description
inline constexpr record::Field prt_obs{155, 20};         // item observation
inline constexpr record::Field prt_impressora{180, 20};  // printer name, or blanks
inline constexpr record::Field prt_codigo{205, 6};       // item code
inline constexpr record::Field prt_quantidade{216, 11};  // edited quantity
inline constexpr record::Field prt_valor{232, 12};       // edited unit value
inline constexpr record::Field prt_total{249, 12};       // edited line value
inline constexpr record::Field prt_linha_tot{266, 31};   // total line: label 18, edited value 12, blank

// The print groups of FCOMANDA, as the commands move them into W-GRUPO.
namespace grupo {
inline constexpr std::string_view cabec = "CABEC";
inline constexpr std::string_view cabcmd = "CABCMD";
inline constexpr std::string_view itecmd = "ITECMD";
// An item line with its quantity (PRT-QUANTIDADE, PRT-DESCRICAO): item and
// cancellation tickets, for a quantity other than zero or one.
inline constexpr std::string_view iteqtd = "ITEQTD";
inline constexpr std::string_view obsite = "OBSITE";
inline constexpr std::string_view valcmd = "VALCMD";
inline constexpr std::string_view subtot = "SUBTOT";
inline constexpr std::string_view traco = "TRACO";
inline constexpr std::string_view canc = "CANC";
inline constexpr std::string_view orbela = "ORBELA";
}  // namespace grupo

}  // namespace kav::orders
