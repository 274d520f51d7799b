// A site for the monitoring's tests: the spooling print service on an
// in-memory disk with a fake spooler, the alert board, and the monitoring
// with a system log that records its events (or one given).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/monitoring.h"
#include "board/alerts.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/print/print_fakes.h"
#include "platform/system_log.h"
#include "printing/spooling_print_service.h"
#include "record/area.h"

namespace kav::test {

class RecordedSystemLog final : public platform::SystemLog {
 public:
  struct Event {
    int id;
    platform::SystemLogLevel level;
    std::string text;
  };
  bool write(int event_id, platform::SystemLogLevel level, std::string_view text) override {
    events.push_back({event_id, level, std::string(text)});
    return !refuse;
  }
  int count(int id) const {
    int n = 0;
    for (const auto& e : events) n += e.id == id ? 1 : 0;
    return n;
  }
  std::vector<Event> events;
  bool refuse = false;
};

// Tickets whose first line reads "Comanda NNNN" print that order.
class OrderLayout final : public platform::TicketLayout {
 public:
  bool is_form(std::string_view print_form) const override { return record::trim_right(print_form) == "FCOMANDA"; }
  std::optional<std::vector<std::string>> lines(std::string_view, std::string_view print_record,
                                                std::string_view) const override {
    return std::vector<std::string>{std::string(record::trim_right(print_record))};
  }
  platform::TicketFacts facts(std::string_view ticket) const override {
    platform::TicketFacts f;
    if (ticket.starts_with("Comanda ")) f.order = std::string(ticket.substr(8, 4));
    return f;
  }
};

inline constexpr std::string_view kMetricsFolder = "C:\\Metricas";
inline constexpr std::string_view kMetricsFile = "C:\\Metricas\\kavcomanda.prom";

struct MonitoredSite {
  explicit MonitoredSite(platform::MemoryFileSystem& disk, platform::SystemLog* system_log = nullptr)
      : files(disk),
        service(files, clock, layout, std::unique_ptr<platform::print::PrinterOutlet>(outlet), [](std::string_view) {},
                &board),
        monitoring(files, clock, board, system_log != nullptr ? system_log : &recorded,
                   {std::string(kMetricsFolder), [this] { return unix_now; }, [this] {
                      std::map<std::string, int> waiting;
                      for (const auto& t : service.waiting()) ++waiting[t.printer];
                      return waiting;
                    }}) {
    EXPECT_EQ(files.create_directory(kMetricsFolder), platform::Status::kOk);
    service.watch_deliveries([this](const printing::Delivered& d) { monitoring.delivered(d.printer, d.order, d.seconds); });
    service.start({});
    monitoring.started();
  }

  ~MonitoredSite() { service.watch_deliveries({}); }
  MonitoredSite(const MonitoredSite&) = delete;
  MonitoredSite& operator=(const MonitoredSite&) = delete;

  // One answer of the web application with a ticket of order `order` for
  // `printer`, kept now.
  void answer(std::string_view printer, std::string_view order) {
    service.begin_work(service.new_work_id());
    files.put("C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT",
              "* Orbela Teknovarium Ltda - Comanda\nPRTID        \"Comanda\"\nPRTDRV       \"" + std::string(printer) +
                  "\"\nFORMSIZE      A4\n");
    EXPECT_TRUE(service.open("FCOMANDA", "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT").ok());
    EXPECT_TRUE(service.write("TRACO   ", "Comanda " + std::string(order)).ok());
    EXPECT_TRUE(service.close().ok());
    service.end_work();
  }

  // A check `seconds` after the last: the web application answered (or
  // not), the spooler looked at.
  void check(double seconds = 5, bool web_reached = true) {
    clock.advance_ms(static_cast<std::int64_t>(seconds * 1000));
    unix_now += static_cast<std::int64_t>(seconds);
    monitoring.exchange(web_reached);
    service.follow_up();
    monitoring.after_check();
  }

  platform::MemoryFileSystem& files;
  platform::ManualClock clock{2019, 11, 27, 8, 0, 0};
  std::int64_t unix_now = 1'574'841'600;
  FakeOutlet* outlet = new FakeOutlet;
  OrderLayout layout;
  log::Alerts board;
  RecordedSystemLog recorded;
  printing::SpoolingPrintService service;
  app::Monitoring monitoring;
};

// The value of a sample line of the metrics text ("name{labels} value").
inline std::string metric(const std::string& text, const std::string& series) {
  const std::size_t at = text.find("\n" + series + " ");
  if (at == std::string::npos) return "absent";
  const std::size_t from = at + series.size() + 2;
  return text.substr(from, text.find('\n', from) - from);
}

}  // namespace kav::test
