#include "board/events.h"

namespace kav::log {

namespace {

namespace k = alert_key;

// Longer prefixes before the shorter ones they begin with ("web." before
// "web").
constexpr AlertEvent kAlertEvents[] = {
    {k::printer_waiting, true, "printer_not_taking_tickets", 2010, EventLevel::error},
    {k::printer_old, true, "tickets_past_redelivery_limit", 2020, EventLevel::error},
    {k::printer_spool, true, "spool_write_failed", 2030, EventLevel::error},
    {k::printer_queue, true, "printer_queue_unreadable", 2040, EventLevel::warning},
    {k::printer_state, true, "printer_not_ready", 2050, EventLevel::error},
    {k::printer_folder, true, "printer_folder_blocked", 2060, EventLevel::error},
    {k::printer_backup, true, "printer_away_on_backup", 2070, EventLevel::warning},
    {k::printer_uncertain, true, "tickets_of_unknown_fate", 2080, EventLevel::warning},
    {k::web_page, true, "web_page_failed", 3020, EventLevel::error},
    {k::web, false, "web_unreachable", 3010, EventLevel::error},
    {k::answer_kept, false, "answer_kept_unprinted", 3030, EventLevel::error},
    {k::answers_limit, true, "answers_past_run_limit", 3040, EventLevel::warning},
    {k::items_limit, true, "order_items_left_out", 3050, EventLevel::warning},
    {k::printers_limit, true, "order_printers_left_out", 3060, EventLevel::warning},
    {k::disk, false, "disk_write_failed", 4010, EventLevel::error},
    {k::config, false, "configuration_refused", 4020, EventLevel::warning},
    {k::config_printers, false, "printer_profiles_refused", 4030, EventLevel::warning},
    {k::link_refused, true, "link_refused", 4040, EventLevel::error},
};

}  // namespace

std::span<const AlertEvent> alert_events() { return kAlertEvents; }

const AlertEvent* alert_event_of(std::string_view key) {
  for (const auto& e : kAlertEvents) {
    if (e.prefix ? key.starts_with(e.key) : key == e.key) return &e;
  }
  return nullptr;
}

}  // namespace kav::log
