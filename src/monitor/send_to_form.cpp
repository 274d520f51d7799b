#include "monitor/send_to_form.h"

#include "form/form_names.h"
#include "platform/print/spool_store.h"
#include "record/cp1252.h"

namespace kav::monitor {

namespace {
constexpr std::string_view kList = "Lv_Impressoras";
const form::Font kButtonFont{"Tahoma", 11, true};
}  // namespace

SendToForm::SendToForm(printing::Reprints& reprints) : reprints_(reprints) {
  design_.name = form::kSendToForm;
  design_.caption = record::cp1252("Enviar para…");
  design_.width = 400;
  design_.height = 330;
  design_.closes_on_request = true;

  form::ControlDesign timer{.name = "Cm_Timer", .kind = form::ControlKind::timer};
  timer.interval_ms = 1000;
  timer.enabled = true;

  form::ControlDesign list{.name = std::string(kList), .kind = form::ControlKind::list};
  list.x = 10, list.y = 10, list.width = 380, list.height = 250;
  list.font = {"Verdana", 9, false};
  list.columns = {{"Impressora", 360}};

  form::ControlDesign ticket{.name = "Bt_Ticket", .kind = form::ControlKind::button};
  ticket.caption = "Ticket";
  ticket.x = 10, ticket.y = 270, ticket.width = 110, ticket.height = 50;
  ticket.font = kButtonFont;

  form::ControlDesign order{.name = "Bt_Comanda", .kind = form::ControlKind::button};
  order.caption = "Comanda";
  order.x = 130, order.y = 270, order.width = 120, order.height = 50;
  order.font = kButtonFont;

  form::ControlDesign cancel{.name = "Bt_Cancelar", .kind = form::ControlKind::button};
  cancel.caption = "Cancelar";
  cancel.x = 280, cancel.y = 270, cancel.width = 110, cancel.height = 50;
  cancel.font = kButtonFont;

  design_.controls = {timer, list, ticket, order, cancel};
}

void SendToForm::form_open(form::FormContext& ctx) {
  printers_.clear();
  for (auto& name : reprints_.printers()) {
    if (!platform::print::same_printer(name, ticket_.printer)) printers_.push_back(std::move(name));
  }
  for (const auto& name : printers_) {
    const form::ListRow row = ctx.get_list_row(kList, ctx.add_list_row(kList, 1, 1));
    ctx.set_list_row_text(row, name, 1);
  }
  ctx.refresh_control(kList);
}

void SendToForm::tick(form::FormContext& ctx, std::string_view timer) {
  if (timer != "Cm_Timer") return;
  ctx.set_timer_enabled("Cm_Timer", false);
  if (pulse_) pulse_();
  ctx.set_timer_enabled("Cm_Timer", true);
}

void SendToForm::click(form::FormContext& ctx, std::string_view button) {
  if (button == "Bt_Ticket") {
    send(ctx, {ticket_});
  } else if (button == "Bt_Comanda") {
    send(ctx, order_);
  } else if (button == "Bt_Cancelar") {
    ctx.end_form();
  }
}

void SendToForm::send(form::FormContext& ctx, const std::vector<printing::KeptTicket>& tickets) {
  const int row = ctx.get_selected_row(kList);
  if (row < 0 || row >= static_cast<int>(printers_.size())) {
    ctx.show_message_box("Selecione na lista a impressora.", form::kStyleInformation);
    return;
  }
  if (tickets.empty()) {
    ctx.show_message_box(record::cp1252("A comanda não tem tickets por imprimir."), form::kStyleInformation);
    return;
  }
  const std::string& printer = printers_[static_cast<std::size_t>(row)];
  std::string text;
  bool all = true;
  for (const auto& t : tickets) {
    const platform::Status outcome = reprints_.send_to(t, printer);
    all = all && outcome.ok();
    text += (text.empty() ? "" : "\n") + outcome.message();
  }
  ctx.show_message_box(text, all ? form::kStyleInformation : form::kStyleError);
  ctx.end_form();
}

}  // namespace kav::monitor
