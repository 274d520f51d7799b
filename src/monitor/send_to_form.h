// 04-ENVIAR: "Enviar para…" of the reprint form. The operator picks a
// printer the spooler knows (Lv_Impressoras) for a ticket not yet printed:
// "Ticket" sends the ticket chosen in the reprint form, "Comanda" every
// ticket of its order not yet printed; each goes through the monitor's
// print service (printing::Reprints::send_to), which keeps it for the new
// printer under the line "*** PARA <printer> - ENVIADO À <new> ***",
// settles the original and logs it. A box says what came of it and the form
// closes; "Cancelar" closes it without sending.
//
// Like the reprint form, its timer calls `pulse` every second so the
// monitor's checks go on while it is open.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "form/form.h"
#include "printing/reprint.h"

namespace kav::monitor {

class SendToForm final : public form::Form {
 public:
  explicit SendToForm(printing::Reprints& reprints);

  void set_pulse(std::function<void()> pulse) { pulse_ = std::move(pulse); }
  // What the form sends: the ticket chosen, and the tickets of its order
  // not yet printed (oldest first). Set before the form is run.
  void choose(printing::KeptTicket ticket, std::vector<printing::KeptTicket> order) {
    ticket_ = std::move(ticket);
    order_ = std::move(order);
  }

  const form::FormDesign& design() const override { return design_; }
  void form_open(form::FormContext& ctx) override;
  void tick(form::FormContext& ctx, std::string_view timer) override;
  void click(form::FormContext& ctx, std::string_view button) override;

 private:
  void send(form::FormContext& ctx, const std::vector<printing::KeptTicket>& tickets);

  printing::Reprints& reprints_;
  std::function<void()> pulse_;
  form::FormDesign design_;
  printing::KeptTicket ticket_;
  std::vector<printing::KeptTicket> order_;
  std::vector<std::string> printers_;  // one per row
};

}  // namespace kav::monitor
