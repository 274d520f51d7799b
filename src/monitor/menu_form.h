// 00-MENU: the start form. Its timer drives all automatic work: four ticks
// step the progress bar, the fifth shows and logs "Checando Comandas ..." and
// runs the order-processing form. Its buttons run the export and end the program.
#pragma once

#include <string>

#include "log/alerts.h"
#include "log/l_link.h"
#include "form/form.h"
#include "platform/clock.h"

namespace kav::monitor {

class MenuForm final : public form::Form {
 public:
  MenuForm(log::LLink& link, platform::Clock& clock, log::Alerts& alerts);

  const form::FormDesign& design() const override { return design_; }
  void tick(form::FormContext& ctx, std::string_view timer) override;
  void click(form::FormContext& ctx, std::string_view button) override;

  // The status line as placed in L-LINK-TEXTO: HH:MM:SS, " - ", W-MSG.
  static std::string status_line(std::string_view w_hora, std::string_view w_msg);

 private:
  void ciclo_timer(form::FormContext& ctx);
  void mostra_status(form::FormContext& ctx);

  log::LLink& link_;
  platform::Clock& clock_;
  log::Alerts& alerts_;
  form::FormDesign design_;
  std::string w_hora_;
  std::string w_msg_;
  int w_item_lista_ = 0;
};

}  // namespace kav::monitor
