// 02-REIMPRIME: the recent tickets and their reprint, opened by the
// monitor's "Reimprimir".
//
// The list Lv_Tickets shows the newest tickets of the spool, newest first:
// Hora, Comanda, Impressora, Tipo (itens, cancelamento, conta) and Situação
// (impresso, aguardando, não entregue, não entregue (atrasado), sem
// situação). For a ticket too old to go by itself, or of unknown fate,
// "Ticket (2ª via)" prints the ticket itself with its late (or possible
// copy) line instead of a copy. "Ticket (2ª via)" prints the selected
// ticket again, "Comanda (2ª via)" its order's tickets of its kind (a bill's
// copy is the bill; see printing::tickets_of_order_like), "Toda a comanda
// (2ª via)" every ticket of its order, all through the monitor's print
// service (printing::Reprints), which marks, logs and follows each copy; a
// box says what came of it. "Página teste" sends the test page of the
// selected row's printer (printing/test_page.h). "Enviar para…" sends a
// ticket not yet printed (or its order's) to another printer (04-ENVIAR,
// send_to_form.h). "Fechar" (or the window's close button) closes the form.
//
// The kitchen does not wait while the operator browses: the form's timer
// calls `pulse` every second, which goes on with the monitor's own timer
// (its progress bar and its checks, every fifth second); every fifth
// second too (tickets come with checks) the list is brought up to date when
// the spool has changed, the selection kept on its ticket.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "form/browser.h"
#include "form/form.h"
#include "printing/reprint.h"

namespace kav::monitor {

class SendToForm;

// How many tickets the list shows.
inline constexpr std::size_t kRecentTickets = 200;

class ReprintForm final : public form::Form {
 public:
  explicit ReprintForm(printing::Reprints& reprints);

  // What the form's timer calls every second (the monitor's own tick).
  void set_pulse(std::function<void()> pulse) { pulse_.set(std::move(pulse)); }
  // The form "Enviar para…" opens (04-ENVIAR); none: the button says so.
  void set_send_to(class SendToForm* form) { send_to_ = form; }
  // Today's date (YYYYMMDD): a ticket of another day shows its date too.
  void set_today(std::function<std::string()> today) { today_ = std::move(today); }

  const form::FormDesign& design() const override { return design_; }
  void form_open(form::FormContext& ctx) override;
  void tick(form::FormContext& ctx, std::string_view timer) override;
  void click(form::FormContext& ctx, std::string_view button) override;

 private:
  // Brings the list in line with the spool, the selection kept on its ticket.
  void show_tickets(form::FormContext& ctx);
  const printing::KeptTicket* selected(form::FormContext& ctx);
  void reprint_ticket(form::FormContext& ctx);
  // The selected ticket's order: its tickets of its kind, or all of them when `whole`.
  void reprint_order(form::FormContext& ctx, bool whole);
  void send_elsewhere(form::FormContext& ctx);

  printing::Reprints& reprints_;
  form::BrowserPulse pulse_;
  std::function<std::string()> today_;
  form::FormDesign design_;
  std::vector<printing::KeptTicket> shown_;  // one per row, in the list's order
  SendToForm* send_to_ = nullptr;
};

}  // namespace kav::monitor
