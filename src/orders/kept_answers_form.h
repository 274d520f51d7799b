// 03-RETIDAS: the answers kept aside, for the operator to settle; opened by
// "Retidas" of the reprint form.
//
// The list Lv_Retidas shows them newest first: Hora, Comando, Comanda and
// Motivo (the record and field that broke the answer). "Imprimir" prints
// what the monitor reads of the selected one, each ticket carrying the line
// "VERIFICAR: resposta retida"; "Descartar" removes it; both are done by the
// order form at the next check (within seconds), which logs them and ends
// the alert when no kept answer is left. "Fechar" closes the form. Its timer
// goes on with the monitor's checks while it is open, as the reprint form's
// does, and brings the list up to date.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "form/browser.h"
#include "form/form.h"
#include "orders/comandas_form.h"
#include "orders/kept_answers.h"
#include "platform/file_system.h"

namespace kav::orders {

class KeptAnswersForm final : public form::Form {
 public:
  using SettleFn = std::function<void(std::string name, ComandasForm::Settle how)>;
  KeptAnswersForm(platform::FileSystem& files, SettleFn settle);

  void set_pulse(std::function<void()> pulse) { pulse_.set(std::move(pulse)); }

  const form::FormDesign& design() const override { return design_; }
  void form_open(form::FormContext& ctx) override;
  void tick(form::FormContext& ctx, std::string_view timer) override;
  void click(form::FormContext& ctx, std::string_view button) override;

 private:
  void show_answers(form::FormContext& ctx);
  void settle_selected(form::FormContext& ctx, ComandasForm::Settle how);

  platform::FileSystem& files_;
  SettleFn settle_;
  form::BrowserPulse pulse_;
  form::FormDesign design_;
  std::vector<std::string> shown_;  // the files' names, one per row
};

}  // namespace kav::orders
