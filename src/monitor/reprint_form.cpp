#include "monitor/reprint_form.h"

#include <algorithm>
#include <optional>

#include "form/browser.h"
#include "form/form_names.h"
#include "monitor/send_to_form.h"
#include "record/cp1252.h"

namespace kav::monitor {

namespace {

constexpr std::string_view kList = "Lv_Tickets";
const form::Font kListFont{"Verdana", 9, false};
const form::Font kButtonFont{"Tahoma", 11, true};

bool same_ticket(const printing::KeptTicket& a, const printing::KeptTicket& b) {
  return a.folder == b.folder && a.base == b.base;
}

}  // namespace

ReprintForm::ReprintForm(printing::Reprints& reprints) : reprints_(reprints) {
  design_.name = form::kReprintForm;
  design_.caption = "Reimprimir Tickets";
  design_.width = 640;
  design_.height = 450;
  design_.closes_on_request = true;

  form::ControlDesign list{.name = std::string(kList), .kind = form::ControlKind::list};
  list.x = 10, list.y = 10, list.width = 620, list.height = 250;
  list.font = kListFont;
  // Wide enough for another day's "dd/mm HH:MM:SS" and the longest words,
  // "cancelamento (2ª via)" and "não entregue (atrasado)", beside the scroll bar.
  list.columns = {{"Hora", 110}, {"Comanda", 70}, {"Impressora", 120}, {"Tipo", 170}, {record::cp1252("Situação"), 125}};

  design_.controls = {
      form::BrowserPulse::timer(),
      list,
      form::push_button("Bt_Ticket", record::cp1252("Ticket (2ª via)"), 10, 270, 150, 50, kButtonFont),
      form::push_button("Bt_Comanda", record::cp1252("Comanda (2ª via)"), 170, 270, 150, 50, kButtonFont),
      // The test page of the selected row's printer; "p" in console mode: "t" is the ticket's.
      form::push_button("Bt_Teste", record::cp1252("Página teste"), 330, 270, 160, 50, kButtonFont),
      form::push_button("Bt_Fechar", "Fechar", 540, 270, 90, 50, kButtonFont),
      // The answers kept aside, to print or discard (03-RETIDAS).
      form::push_button("Bt_Retidas", "Respostas retidas", 10, 330, 200, 50, kButtonFont),
      // Every ticket of the order, whatever the selected row's kind; "toda"
      // in console mode.
      form::push_button("Bt_Todos", record::cp1252("Toda a comanda (2ª via)"), 220, 330, 230, 50, kButtonFont),
      // A ticket not yet printed, or its order's, to another printer (04-ENVIAR).
      form::push_button("Bt_Enviar", record::cp1252("Enviar para…"), 10, 390, 200, 50, kButtonFont)};
}

void ReprintForm::form_open(form::FormContext& ctx) {
  shown_.clear();  // a fresh window has an empty list
  pulse_.restart();
  show_tickets(ctx);
}

void ReprintForm::tick(form::FormContext& ctx, std::string_view timer) {
  pulse_.tick(ctx, timer, [&] { show_tickets(ctx); });
}

void ReprintForm::click(form::FormContext& ctx, std::string_view button) {
  if (button == "Bt_Ticket") {
    reprint_ticket(ctx);
  } else if (button == "Bt_Comanda") {
    reprint_order(ctx, false);
  } else if (button == "Bt_Todos") {
    reprint_order(ctx, true);
  } else if (button == "Bt_Teste") {
    const printing::KeptTicket* t = selected(ctx);
    const platform::Status outcome =
        t == nullptr ? platform::Status{platform::Status::kRefused, "Selecione na lista um ticket da impressora."}
                     : reprints_.test_page(t->printer);
    ctx.show_message_box(outcome.message(), outcome.ok() ? form::kStyleInformation : form::kStyleError);
  } else if (button == "Bt_Enviar") {
    send_elsewhere(ctx);
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
          row,
          printing::kind_text(t.facts.kind) + (t.facts.second_copy     ? record::cp1252(" (2ª via)")
                                               : t.facts.possible_copy ? record::cp1252(" (possível 2ª via)")
                                                                       : ""),
          4);
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

void ReprintForm::reprint_order(form::FormContext& ctx, bool whole) {
  const printing::KeptTicket* t = selected(ctx);
  if (t == nullptr) {
    ctx.show_message_box("Selecione um ticket da comanda na lista.", form::kStyleInformation);
    return;
  }
  const std::vector<printing::KeptTicket> tickets =
      whole ? printing::tickets_of_order(shown_, *t) : printing::tickets_of_order_like(shown_, *t);
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
  const std::string which = whole ? std::string("todos os tickets") : printing::kind_text(t->facts.kind);
  const std::string text = "Comanda " + t->facts.order + " (" + which + "): " + std::to_string(sent) + " de " +
                           std::to_string(tickets.size()) + record::cp1252(" ticket(s) reimpresso(s) (2ª via)") +
                           refused;
  ctx.show_message_box(text, refused.empty() ? form::kStyleInformation : form::kStyleError);
  show_tickets(ctx);
}

void ReprintForm::send_elsewhere(form::FormContext& ctx) {
  const printing::KeptTicket* t = selected(ctx);
  if (t == nullptr || send_to_ == nullptr) {
    ctx.show_message_box("Selecione um ticket na lista.", form::kStyleInformation);
    return;
  }
  if (t->state == printing::TicketState::printed || t->state == printing::TicketState::waiting) {
    ctx.show_message_box(record::cp1252("Este ticket já foi entregue à impressora; use \"Ticket (2ª via)\"."),
                         form::kStyleInformation);
    return;
  }
  std::vector<printing::KeptTicket> order;
  for (const auto& each : printing::tickets_of_order(shown_, *t)) {
    if (each.state != printing::TicketState::printed && each.state != printing::TicketState::waiting) {
      order.push_back(each);
    }
  }
  send_to_->choose(*t, std::move(order));
  ctx.run_form_modal(form::kSendToForm);
  show_tickets(ctx);
}

}  // namespace kav::monitor
