#include "settings/kav_settings.h"

namespace kav::settings {

namespace {

constexpr std::string_view kModes[] = {"driver", "escpos", "escpos-rede"};
constexpr std::string_view kColumns[] = {"32", "42", "48"};
constexpr std::string_view kCodePages[] = {"cp860", "cp850", "cp858", "wpc1252"};
constexpr std::string_view kCuts[] = {"parcial", "total", "nao"};
constexpr std::string_view kBuzzers[] = {"nao", "esc-b", "esc-parenteses-a", "bel"};
constexpr std::string_view kYesNo[] = {"sim", "nao"};

constexpr KeySpec kPrinterKeys[] = {
    {key::modo, ValueKind::choice, kModes, 0, 0, "driver"},
    {key::colunas, ValueKind::choice, kColumns, 0, 0, "48"},
    {key::pagina_codigo, ValueKind::choice, kCodePages, 0, 0, "cp860"},
    {key::corte, ValueKind::choice, kCuts, 0, 0, "parcial"},
    {key::avanco, ValueKind::number, {}, 0, 20, "4"},
    {key::aviso_sonoro, ValueKind::choice, kBuzzers, 0, 0, "nao"},
    {key::numero_grande, ValueKind::choice, kYesNo, 0, 0, "sim"},
    {key::copias, ValueKind::number, {}, 1, 5, "1"},
    {key::endereco, ValueKind::address, {}, 0, 0, ""},
    {key::reserva, ValueKind::text, {}, 0, 0, ""},
    {key::minutos_reserva, ValueKind::number, {}, 1, 60, "2"},
    {key::minutos_atraso, ValueKind::number, {}, 1, 60, "3"},
};

constexpr KeySpec kMonitoringKeys[] = {
    {key::pasta_metricas, ValueKind::text, {}, 0, 0, ""},
};

constexpr KeySpec kRetentionKeys[] = {
    {key::dias_tickets, ValueKind::number, {}, 0, 3650, "90"},
    {key::dias_log, ValueKind::number, {}, 0, 3650, "365"},
};

constexpr SectionSpec kSchema[] = {
    {kPrinterSection, true, kPrinterKeys},
    {kMonitoringSection, false, kMonitoringKeys},
    {kRetentionSection, false, kRetentionKeys},
};

}  // namespace

std::span<const SectionSpec> kav_schema() { return kSchema; }

}  // namespace kav::settings
