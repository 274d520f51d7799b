#include "app/application.h"

#include "record/cp1252.h"

namespace kav::app {

namespace {

// A print service without reprints (tests): nothing to list, nothing printed.
class NoReprints final : public printing::Reprints {
 public:
  std::vector<printing::KeptTicket> recent(std::size_t) override { return {}; }
  platform::Status reprint(const printing::KeptTicket&) override {
    return {platform::Status::kRefused, record::cp1252("Reimpressão indisponível")};
  }
};

}  // namespace

log::Alerts::LogLine Application::log_line(platform::Platform& platform) {
  return [&platform](std::string_view text) {
    log::write_log_line(platform.files, platform.clock, text);
    log::sync_log(platform.files);  // an alert began, changed or ended
  };
}

std::function<void(std::string_view)> Application::print_report(platform::FileSystem& files, platform::Clock& clock,
                                                               log::CheckReport& report) {
  return [&files, &clock, &report](std::string_view text) {
    log::write_log_line(files, clock, text);
    report.report(text);
  };
}

Application::Application(platform::Platform& platform, std::string web_host)
    : Application(platform, std::move(web_host), nullptr, nullptr, nullptr) {}

Application::Application(platform::Platform& platform, std::string web_host, log::Alerts& alerts,
                         log::CheckReport& report)
    : Application(platform, std::move(web_host), &alerts, &report, nullptr) {}

Application::Application(platform::Platform& platform, std::string web_host, log::Alerts& alerts,
                         log::CheckReport& report, printing::Reprints& reprints)
    : Application(platform, std::move(web_host), &alerts, &report, &reprints) {}

Application::Application(platform::Platform& platform, std::string web_host, log::Alerts* alerts,
                         log::CheckReport* report, printing::Reprints* reprints)
    : printing_(platform.printing),
      files_(platform.files),
      own_alerts_(alerts != nullptr ? nullptr : std::make_unique<log::Alerts>(log_line(platform))),
      alerts_(alerts != nullptr ? *alerts : *own_alerts_),
      report_(report != nullptr ? *report : own_report_),
      no_reprints_(reprints != nullptr ? nullptr : std::make_unique<NoReprints>()),
      menu_(link_, platform.clock, alerts_, report_, platform.files),
      reprint_(reprints != nullptr ? *reprints : *no_reprints_),
      send_to_(reprints != nullptr ? *reprints : *no_reprints_),
      comandas_(link_, platform, web_host, alerts_, report_),
      kept_(platform.files, [this](std::string name, orders::ComandasForm::Settle how) { comandas_.settle(std::move(name), how); }),
      exporta_(link_, platform, web_host),
      log_(link_, platform.files, platform.clock) {
  reprint_.set_pulse([this] { menu_.pulse(); });
  reprint_.set_send_to(&send_to_);
  send_to_.set_pulse([this] { menu_.pulse(); });
  reprint_.set_today([&clock = platform.clock] { return "20" + clock.date_yymmdd(); });
  kept_.set_pulse([this] { menu_.pulse(); });
  forms_.add(menu_);
  forms_.add(reprint_);
  forms_.add(send_to_);
  forms_.add(comandas_);
  forms_.add(kept_);
  forms_.add(exporta_);
  forms_.add(log_);
}

}  // namespace kav::app
