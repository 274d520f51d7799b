// The application: its five forms and the one L-LINK area they share.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "export/exporta_form.h"
#include "board/alerts.h"
#include "board/check_report.h"
#include "log/l_link.h"
#include "log/log_form.h"
#include "form/form.h"
#include "form/form_names.h"
#include "monitor/menu_form.h"
#include "monitor/reprint_form.h"
#include "monitor/send_to_form.h"
#include "orders/comandas_form.h"
#include "orders/kept_answers_form.h"
#include "platform/platform.h"
#include "printing/reprint.h"

namespace kav::app {

inline constexpr std::string_view kStartForm = form::kMenuForm;

class Application {
 public:
  // With an alert board and a check report of its own; the board's lines go
  // to the day's log.
  Application(platform::Platform& platform, std::string web_host);
  // With the board `alerts` and the check report `report`, made before the
  // services that raise alerts and report on them (the print service) and
  // outliving the application; without reprints the reprint form lists
  // nothing.
  Application(platform::Platform& platform, std::string web_host, log::Alerts& alerts, log::CheckReport& report);
  // With the reprints of the print service as well (`reprints` outlives the
  // application).
  Application(platform::Platform& platform, std::string web_host, log::Alerts& alerts, log::CheckReport& report,
              printing::Reprints& reprints);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  form::FormSet& forms() { return forms_; }
  log::LLink& link() { return link_; }
  // The failures that stand, which the monitor shows.
  log::Alerts& alerts() { return alerts_; }
  // What the running check did, which the monitor shows below its row.
  log::CheckReport& check_report() { return report_; }
  platform::PrintService& print_service() { return printing_; }
  platform::FileSystem& files() { return files_; }
  // Who hears of each processing run's exchanges and of its end.
  void watch_runs(orders::ComandasForm::Watch watch) { comandas_.watch(std::move(watch)); }

  // The board's lines to the day's log of `platform`.
  static log::Alerts::LogLine log_line(platform::Platform& platform);
  // The print service's reports: a line in the day's log, and its failures
  // on the monitor below the check that met them.
  static std::function<void(std::string_view)> print_report(platform::FileSystem& files, platform::Clock& clock,
                                                            log::CheckReport& report);

 private:
  Application(platform::Platform& platform, std::string web_host, log::Alerts* alerts, log::CheckReport* report,
              printing::Reprints* reprints);

  log::LLink link_;
  platform::PrintService& printing_;
  platform::FileSystem& files_;
  std::unique_ptr<log::Alerts> own_alerts_;  // when no board is given
  log::Alerts& alerts_;
  log::CheckReport own_report_;  // when none is given
  log::CheckReport& report_;
  std::unique_ptr<printing::Reprints> no_reprints_;  // when none are given
  monitor::MenuForm menu_;
  monitor::ReprintForm reprint_;
  monitor::SendToForm send_to_;
  orders::ComandasForm comandas_;
  orders::KeptAnswersForm kept_;
  master_export::ExportaForm exporta_;
  log::LogForm log_;
  form::FormSet forms_;
};

}  // namespace kav::app
