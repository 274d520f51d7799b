#include "board/metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "board/events.h"
#include "record/cp1252.h"

namespace kav::log {

namespace {

// A label value: UTF-8 with backslash, quote and line end escaped.
std::string label(std::string_view cp1252_text) {
  std::string out;
  for (const char c : record::to_utf8(cp1252_text)) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string number(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.17g", value);
  return buf;
}

void head(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void sample(std::string& out, std::string_view name, std::string_view labels, std::string_view value) {
  out += name;
  if (!labels.empty()) {
    out += '{';
    out += labels;
    out += '}';
  }
  out += ' ';
  out += value;
  out += '\n';
}

// "12,3 s": seconds with one decimal, the Brazilian way.
std::string seconds_text(double seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", seconds);
  std::string out = buf;
  std::replace(out.begin(), out.end(), '.', ',');
  return out + " s";
}

}  // namespace

void Metrics::check_done() {
  std::lock_guard lock(mutex_);
  ++checks_;
}

void Metrics::exchange(bool reached, std::int64_t unix_seconds) {
  std::lock_guard lock(mutex_);
  ++exchanges_;
  if (reached) {
    last_reached_ = unix_seconds;
  } else {
    ++exchanges_failed_;
  }
}

void Metrics::delivered(std::string_view printer, std::string_view order, double seconds) {
  std::lock_guard lock(mutex_);
  Printer& p = printers_[std::string(printer)];
  ++p.delivered;
  p.sum += seconds;
  for (std::size_t i = 0; i < std::size(kBuckets); ++i) {
    if (seconds <= kBuckets[i]) ++p.buckets[i];
  }
  day_[std::string(printer)].push_back({seconds, std::string(order)});
}

void Metrics::set_waiting(const std::map<std::string, int>& by_printer) {
  std::lock_guard lock(mutex_);
  for (auto& [name, p] : printers_) p.waiting = 0;
  for (const auto& [name, count] : by_printer) printers_[name].waiting = count;
}

std::string Metrics::render(const std::vector<Alerts::Alert>& alerts) const {
  std::lock_guard lock(mutex_);
  std::string out;
  head(out, "kavcomanda_checks_total", "counter", "Checks run since the monitor started.");
  sample(out, "kavcomanda_checks_total", {}, std::to_string(checks_));
  head(out, "kavcomanda_web_exchanges_total", "counter", "Exchanges with the web application since the start.");
  sample(out, "kavcomanda_web_exchanges_total", {}, std::to_string(exchanges_));
  head(out, "kavcomanda_web_exchanges_failed_total", "counter",
       "Exchanges that did not reach the web application since the start.");
  sample(out, "kavcomanda_web_exchanges_failed_total", {}, std::to_string(exchanges_failed_));
  head(out, "kavcomanda_last_web_success_timestamp_seconds", "gauge",
       "Unix time of the last exchange that reached the web application (0: none since the start).");
  sample(out, "kavcomanda_last_web_success_timestamp_seconds", {}, std::to_string(last_reached_.value_or(0)));

  head(out, "kavcomanda_tickets_printed_total", "counter", "Tickets their printer finished, since the start.");
  for (const auto& [name, p] : printers_) {
    sample(out, "kavcomanda_tickets_printed_total", "printer=\"" + label(name) + "\"", std::to_string(p.delivered));
  }
  head(out, "kavcomanda_tickets_undelivered", "gauge", "Tickets kept in the spool and not yet finished by their printer.");
  for (const auto& [name, p] : printers_) {
    sample(out, "kavcomanda_tickets_undelivered", "printer=\"" + label(name) + "\"", std::to_string(p.waiting));
  }

  head(out, "kavcomanda_alerts_active", "gauge", "Alerts standing, by kind.");
  std::map<std::string_view, int> by_kind;
  for (const auto& e : alert_events()) by_kind[e.name] = 0;
  by_kind["other"] = 0;
  for (const auto& a : alerts) {
    const AlertEvent* e = alert_event_of(a.key);
    ++by_kind[e != nullptr ? e->name : std::string_view("other")];
  }
  for (const auto& [kind, count] : by_kind) {
    sample(out, "kavcomanda_alerts_active", "kind=\"" + std::string(kind) + "\"", std::to_string(count));
  }

  head(out, "kavcomanda_ticket_delivery_seconds", "histogram",
       "Seconds from an answer kept to its ticket finished by the printer.");
  for (const auto& [name, p] : printers_) {
    const std::string printer = "printer=\"" + label(name) + "\"";
    for (std::size_t i = 0; i < std::size(kBuckets); ++i) {
      sample(out, "kavcomanda_ticket_delivery_seconds_bucket", printer + ",le=\"" + number(kBuckets[i]) + "\"",
             std::to_string(p.buckets[i]));
    }
    sample(out, "kavcomanda_ticket_delivery_seconds_bucket", printer + ",le=\"+Inf\"", std::to_string(p.delivered));
    sample(out, "kavcomanda_ticket_delivery_seconds_sum", printer, number(p.sum));
    sample(out, "kavcomanda_ticket_delivery_seconds_count", printer, std::to_string(p.delivered));
  }
  return out;
}

double Metrics::median(std::vector<double> seconds) {
  if (seconds.empty()) return 0;
  std::sort(seconds.begin(), seconds.end());
  const std::size_t n = seconds.size();
  return n % 2 == 1 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
}

double Metrics::percentile95(std::vector<double> seconds) {
  if (seconds.empty()) return 0;
  std::sort(seconds.begin(), seconds.end());
  const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(seconds.size())));
  return seconds[std::max<std::size_t>(rank, 1) - 1];
}

std::vector<std::string> Metrics::take_summary(std::size_t width) {
  std::map<std::string, std::vector<DayTicket>> day;
  {
    std::lock_guard lock(mutex_);
    day.swap(day_);
  }
  std::vector<std::string> lines;
  for (const auto& [printer, tickets] : day) {
    std::vector<double> seconds;
    const DayTicket* slowest = &tickets.front();
    for (const auto& t : tickets) {
      seconds.push_back(t.seconds);
      if (t.seconds > slowest->seconds) slowest = &t;
    }
    std::string figures = ": " + std::to_string(tickets.size()) + " tickets, mediana " +
                          seconds_text(median(seconds)) + ", p95 " + seconds_text(percentile95(seconds)) +
                          ", mais lento " + seconds_text(slowest->seconds) +
                          (slowest->order.empty() ? std::string() : " (comanda " + slowest->order + ")");
    std::string start = "Resumo " + printer;
    const std::size_t room = width > figures.size() ? width - figures.size() : 0;
    if (start.size() > room) start.resize(room);
    lines.push_back((start + figures).substr(0, width));
  }
  return lines;
}

}  // namespace kav::log
