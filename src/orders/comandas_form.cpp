#include "orders/comandas_form.h"

#include "record/cp1252.h"

namespace kav::orders {

ComandasForm::ComandasForm(log::LLink& link, platform::Platform& platform, std::string web_host)
    : link_(link), platform_(platform), web_host_(std::move(web_host)) {
  design_.name = "90-COMANDAS";
  design_.caption = record::cp1252("KAV - Importação Comandas");
  design_.width = 538;
  design_.height = 260;
  ui::ControlDesign timer{.name = "CmTimer1", .kind = ui::ControlKind::timer};
  timer.interval_ms = 1;
  design_.controls = {timer};
}

void ComandasForm::tick(ui::FormContext& ctx, std::string_view timer) {
  if (timer != "CmTimer1") return;
  ctx.set_timer_enabled("CmTimer1", false);
  ctx.end_form();
}

}  // namespace kav::orders
