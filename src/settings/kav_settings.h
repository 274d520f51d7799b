// What kavcomanda.ini may hold: the sections and keys of this program, with
// their values and defaults. A new setting is a new row here (and its
// reader beside the code it configures); the reader of the file
// (config_file.h) needs no change.
//
//   [impressora NOME]   one printer, NOME as the web application names it
//     modo           driver | escpos | escpos-rede          [driver]
//     colunas        32 | 42 | 48                           [48]
//     pagina_codigo  cp860 | cp850 | cp858 | wpc1252        [cp860]
//     corte          parcial | total | nao                  [parcial]
//     avanco         0 to 20 lines fed before the cut       [4]
//     aviso_sonoro   nao | esc-b | esc-parenteses-a | bel   [nao]
//     numero_grande  sim | nao                              [sim]
//     copias         1 to 5                                 [1]
//     endereco       HOST:PORTA (escpos-rede only)
//     reserva        the printer that takes its tickets when it is away   [none]
//     minutos_reserva  minutes away before the backup takes them, 1 to 60 [2]
//     minutos_atraso   minutes after which a ticket prints "ATRASADO", 1 to 60 [3]
//
//   [monitoramento]
//     pasta_metricas  folder of the metrics file kavcomanda.prom   [none: no file]
//
//   [retencao]      (printing/retention.h; 0 keeps forever)
//     dias_tickets   days a delivered ticket stays in the spool   [90]
//     dias_log       days a day's log file is kept                [365]
#pragma once

#include <span>
#include <string_view>

#include "settings/config_file.h"

namespace kav::settings {

inline constexpr std::string_view kPrinterSection = "impressora";
inline constexpr std::string_view kMonitoringSection = "monitoramento";
inline constexpr std::string_view kRetentionSection = "retencao";

namespace key {
inline constexpr std::string_view modo = "modo";
inline constexpr std::string_view colunas = "colunas";
inline constexpr std::string_view pagina_codigo = "pagina_codigo";
inline constexpr std::string_view corte = "corte";
inline constexpr std::string_view avanco = "avanco";
inline constexpr std::string_view aviso_sonoro = "aviso_sonoro";
inline constexpr std::string_view numero_grande = "numero_grande";
inline constexpr std::string_view copias = "copias";
inline constexpr std::string_view endereco = "endereco";
inline constexpr std::string_view reserva = "reserva";
inline constexpr std::string_view minutos_reserva = "minutos_reserva";
inline constexpr std::string_view minutos_atraso = "minutos_atraso";
inline constexpr std::string_view pasta_metricas = "pasta_metricas";
inline constexpr std::string_view dias_tickets = "dias_tickets";
inline constexpr std::string_view dias_log = "dias_log";
}  // namespace key

// Every section this program reads.
std::span<const SectionSpec> kav_schema();

// The file of this installation, read against kav_schema().
inline Settings read_kav_settings(platform::FileSystem& files) { return read_settings(files, kav_schema()); }

}  // namespace kav::settings
