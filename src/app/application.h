// The application: its four forms and the one L-LINK area they share.
#pragma once

#include <string>
#include <string_view>

#include "export/exporta_form.h"
#include "log/alerts.h"
#include "log/l_link.h"
#include "log/log_form.h"
#include "form/form.h"
#include "form/form_names.h"
#include "monitor/menu_form.h"
#include "orders/comandas_form.h"
#include "platform/platform.h"

namespace kav::app {

inline constexpr std::string_view kStartForm = form::kMenuForm;

class Application {
 public:
  Application(platform::Platform& platform, std::string web_host);
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  form::FormSet& forms() { return forms_; }
  log::LLink& link() { return link_; }
  // The failures that stand, which the monitor shows.
  log::Alerts& alerts() { return alerts_; }

 private:
  log::LLink link_;
  log::Alerts alerts_;
  monitor::MenuForm menu_;
  orders::ComandasForm comandas_;
  master_export::ExportaForm exporta_;
  log::LogForm log_;
  form::FormSet forms_;
};

}  // namespace kav::app
