#include "monitor/reprint_form.h"

#include <algorithm>
#include <optional>

#include "form/form_names.h"
#include "record/cp1252.h"

namespace kav::monitor {

namespace {

constexpr std::string_view kList = "Lv_Tickets";
constexpr int kRefreshEvery = 5;  // ticks
const form::Font kListFont{"Verdana", 9, false};
const form::Font kButtonFont{"Tahoma", 11, true};

bool same_ticket(const printing::KeptTicket& a, const printing::KeptTicket& b) {
  return a.folder == b.folder && a.base == b.base;
}

}  // namespace

ReprintForm::ReprintForm(printing::Reprints& reprints) : reprints_(reprints) {
  design_.name = form::kReprintForm;
  design_.caption = "Reimprimir Tickets";
  design_.width = 560;
  design_.height = 390;
  design_.closes_on_request = true;

  form::ControlDesign timer{.name = "Cm_Timer", .kind = form::ControlKind::timer};
  timer.interval_ms = 1000;
  timer.enabled = true;

  form::ControlDesign list{.name = std::string(kList), .kind = form::ControlKind::list};
  list.x = 10, list.y = 10, list.width = 540, list.height = 250;
  list.font = kListFont;
  list.columns = {{"Hora", 110}, {"Comanda", 75}, {"Impressora", 110}, {"Tipo", 110}, {record::cp1252("Situação"), 110}};

  form::ControlDesign ticket{.name = "Bt_Ticket", .kind = form::ControlKind::button};
  ticket.caption = record::cp1252("Ticket (2ª via)");
  ticket.x = 10, ticket.y = 270, ticket.width = 150, ticket.height = 50;
  ticket.font = kButtonFont;

  form::ControlDesign order{.name = "Bt_Comanda", .kind = form::ControlKind::button};
  order.caption = record::cp1252("Comanda (2ª via)");
  order.x = 170, order.y = 270, order.width = 150, order.height = 50;
  order.font = kButtonFont;

  form::ControlDesign close{.name = "Bt_Fechar", .kind = form::ControlKind::button};
  close.caption = "Fechar";
  close.x = 460, close.y = 270, close.width = 90, close.height = 50;
  close.font = kButtonFont;

  // The test page of the selected row's printer.
  form::ControlDesign test{.name = "Bt_Teste", .kind = form::ControlKind::button};
  test.caption = record::cp1252("Página teste");  // "p" in console mode: "t" is the ticket's
  test.x = 330, test.y = 270, test.width = 120, test.height = 50;
  test.font = kButtonFont;

  // The answers kept aside, to print or discard (03-RETIDAS).
  form::ControlDesign kept{.name = "Bt_Retidas", .kind = form::ControlKind::button};
  kept.caption = "Respostas retidas";
  kept.x = 10, kept.y = 330, kept.width = 200, kept.height = 50;
  kept.font = kButtonFont;

  design_.controls = {timer, list, ticket, order, test, close, kept};
}

void ReprintForm::form_open(form::FormContext& ctx) {
  shown_.clear();  // a fresh window has an empty list
  ticks_ = 0;
  show_tickets(ctx);
}

void ReprintForm::tick(form::FormContext& ctx, std::string_view timer) {
  if (timer != "Cm_Timer") return;
  ctx.set_timer_enabled("Cm_Timer", false);
  if (pulse_) pulse_();
  if (++ticks_ % kRefreshEvery == 0) show_tickets(ctx);
  ctx.set_timer_enabled("Cm_Timer", true);
}

void ReprintForm::click(form::FormContext& ctx, std::string_view button) {
  if (button == "Bt_Ticket") {
    reprint_ticket(ctx);
  } else if (button == "Bt_Comanda") {
    reprint_order(ctx);
  } else if (button == "Bt_Teste") {
    const printing::KeptTicket* t = selected(ctx);
    const platform::Status outcome =
        t == nullptr ? platform::Status{platform::Status::kRefused, "Selecione na lista um ticket da impressora."}
                     : reprints_.test_page(t->printer);
    ctx.show_message_box(outcome.message(), outcome.ok() ? form::kStyleInformation : form::kStyleError);
  } else if (button == "Bt_Retidas") {
    ctx.run_form_modal(form::kKeptAnswersForm);
  } else if (button == "Bt_Fechar") {
    ctx.end_form();
  }
}

void ReprintForm::show_tickets(form::FormContext& ctx) {
  std::vector<printing::KeptTicket> now = reprints_.recent(kRecentTickets);
  const bool same = std::equal(now.begin(), now.end(), shown_.begin(), shown_.end(),
                               [](const printing::KeptTicket& a, const printing::KeptTicket& b) {
                                 return same_ticket(a, b) && a.state == b.state;
                               });
  if (same) return;
  std::optional<printing::KeptTicket> chosen;
  if (const printing::KeptTicket* t = selected(ctx)) chosen = *t;
  // Rows are written over in place, and only where they changed: console
  // mode prints every row that gets its text.
  const int before = static_cast<int>(shown_.size());
  for (int i = before; i-- > static_cast<int>(now.size());) ctx.remove_list_row(ctx.get_list_row(kList, i));
  int keep = -1;
  const std::string today = today_ ? today_() : std::string();
  for (std::size_t i = 0; i < now.size(); ++i) {
    const printing::KeptTicket& t = now[i];
    const bool kept = i < shown_.size() && same_ticket(shown_[i], t) && shown_[i].state == t.state;
    const int index = static_cast<int>(i) < before ? static_cast<int>(i) : ctx.add_list_row(kList, 1, 1);
    const form::ListRow row = ctx.get_list_row(kList, index);
    if (!kept) {
      ctx.set_list_row_text(row, t.moment(today), 1);
      ctx.set_list_row_text(row, t.facts.order, 2);
      ctx.set_list_row_text(row, t.printer, 3);
      ctx.set_list_row_text(
          row, printing::kind_text(t.facts.kind) + (t.facts.second_copy ? record::cp1252(" (2ª via)") : ""), 4);
      ctx.set_list_row_text(row, printing::state_text(t.state), 5);
    }
    if (chosen && same_ticket(*chosen, t)) keep = row.index;
  }
  shown_ = std::move(now);
  ctx.select_list_row(ctx.get_list_row(kList, keep));  // none when its ticket left the list
  ctx.refresh_control(kList);
}

const printing::KeptTicket* ReprintForm::selected(form::FormContext& ctx) {
  const int row = ctx.get_selected_row(kList);
  return row >= 0 && row < static_cast<int>(shown_.size()) ? &shown_[static_cast<std::size_t>(row)] : nullptr;
}

void ReprintForm::reprint_ticket(form::FormContext& ctx) {
  const printing::KeptTicket* t = selected(ctx);
  if (t == nullptr) {
    ctx.show_message_box("Selecione um ticket na lista.", form::kStyleInformation);
    return;
  }
  const platform::Status outcome = reprints_.reprint(*t);
  ctx.show_message_box(outcome.message(), outcome.ok() ? form::kStyleInformation : form::kStyleError);
  show_tickets(ctx);
}

void ReprintForm::reprint_order(form::FormContext& ctx) {
  const printing::KeptTicket* t = selected(ctx);
  if (t == nullptr) {
    ctx.show_message_box("Selecione um ticket da comanda na lista.", form::kStyleInformation);
    return;
  }
  const std::vector<printing::KeptTicket> tickets = printing::tickets_of_order(shown_, *t);
  if (tickets.empty()) {
    ctx.show_message_box(record::cp1252("O ticket selecionado não tem número de comanda; use \"Ticket (2ª via)\"."),
                         form::kStyleInformation);
    return;
  }
  int sent = 0;
  std::string refused;
  for (const printing::KeptTicket& each : tickets) {
    const platform::Status outcome = reprints_.reprint(each);
    if (outcome.ok()) {
      ++sent;
    } else {
      refused += "\n" + outcome.message();
    }
  }
  const std::string text = "Comanda " + t->facts.order + ": " + std::to_string(sent) + " de " +
                           std::to_string(tickets.size()) + record::cp1252(" ticket(s) reimpresso(s) (2ª via)") +
                           refused;
  ctx.show_message_box(text, refused.empty() ? form::kStyleInformation : form::kStyleError);
  show_tickets(ctx);
}

}  // namespace kav::monitor
