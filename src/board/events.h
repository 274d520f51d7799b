// The monitor's events for the system's own log (the Windows Event Log,
// journald or syslog): one event per change of state, never one per check,
// each with a fixed ID that monitoring tools filter on. The IDs are the same
// on every OS; docs/monitoring.md lists them.
//
//   1000 the monitor started     1001 the monitor ended
//   1002 the day's delivery summary of a printer
//   2xxx printing, 3xxx the web exchange, 4xxx files: every kind of alert
//   has an ID for its beginning (a text that changes is said again under
//   it) and the next ID for its end.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kav::log {

enum class EventLevel { information, warning, error };

inline constexpr int kEventStart = 1000;
inline constexpr int kEventEnd = 1001;
inline constexpr int kEventSummary = 1002;
// An alert of no kind below (a key no one declared): said all the same.
inline constexpr int kEventOtherAlert = 1900;

// The key prefixes of the alerts, one kind each.
namespace alert_key {
inline constexpr std::string_view web = "web";                             // the web application unreachable
inline constexpr std::string_view web_page = "web.";                       // + command: a page's HTTP error
inline constexpr std::string_view answer_kept = "resposta";                // answers kept aside, not printed
inline constexpr std::string_view answers_limit = "limite.respostas.";     // + command
inline constexpr std::string_view items_limit = "limite.itens.";           // + command.order
inline constexpr std::string_view printers_limit = "limite.impressoras.";  // + command.order
inline constexpr std::string_view disk = "disco";                          // a file could not be written
inline constexpr std::string_view config = "configuracao";                 // kavcomanda.ini refused in part (+ what)
inline constexpr std::string_view printer_waiting = "impressao-pendente:";  // + printer: away, out of paper
inline constexpr std::string_view printer_old = "impressao-antiga:";        // + printer: past the redelivery limit
inline constexpr std::string_view printer_spool = "impressao-spool:";       // + printer: the spool refused a ticket
inline constexpr std::string_view printer_queue = "impressao-fila:";        // + printer: its queue unreadable
inline constexpr std::string_view printer_state = "impressora-estado:";     // + printer: a network printer not ready
inline constexpr std::string_view printer_backup = "impressao-reserva:";    // + printer: away, its tickets on its backup
inline constexpr std::string_view printer_uncertain = "impressao-incerta:"; // + printer: tickets of unknown fate
inline constexpr std::string_view config_printers = "configuracao-impressoras";  // printers sent back to driver
inline constexpr std::string_view printer_folder = "pasta:";                // + printer: its spool folder cannot be made
inline constexpr std::string_view link_refused = "ligacao:";               // + path: a planted link refused
}  // namespace alert_key

struct AlertEvent {
  std::string_view key;    // the key, or the prefix of the keys, of the kind
  bool prefix = false;     // keys that start with `key` (else the key itself)
  std::string_view name;   // the kind in English snake_case (metrics' label)
  int begin_id = 0;        // begun or changed; the end is begin_id + 1
  EventLevel level = EventLevel::warning;
};

// Every kind of alert, with its event.
std::span<const AlertEvent> alert_events();
// The kind of an alert's key; nothing for a key of no declared kind.
const AlertEvent* alert_event_of(std::string_view key);

}  // namespace kav::log
