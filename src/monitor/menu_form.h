// 00-MENU: the start form. Its timer drives all automatic work: four ticks
// step the progress bar, the fifth shows and logs "Checando Comandas ..." and
// runs the order-processing form. Its buttons run the export, open the
// reprint form and end the program. A check that logged anything besides its
// first line syncs the day's log when it ends (log/log_form.h), and so does
// the way out.
//
// The checks go on while the reprint form is open: that form's timer calls
// pulse(), which does what this form's timer does (the progress bar, and a
// check every fifth second) on this form's own window.
//
// Below the buttons the list Lv_Alertas shows the alerts that stand (see
// board/alerts.h), one row each in the order they began, in red. Every tick
// compares the board's version with the one shown and touches the list only
// when it moved, so an idle monitor pays one lock a second; a check brings
// the alerts it raised or ended to the list as soon as it has closed. The
// board may be changed from any thread: only this form's handlers, on the
// GUI thread, touch the list.
//
// Below each check's row Lv_Proc shows what the check did, as the check's
// report (board/check_report.h) has it when the order-processing form has
// closed: a row per order printed, cancelled or billed, with its printers,
// and a row per failure, each indented under the check's row.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/alerts.h"
#include "board/check_report.h"
#include "log/l_link.h"
#include "form/form.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace kav::monitor {

class MenuForm final : public form::Form {
 public:
  // `files`: where the day's log is written.
  MenuForm(log::LLink& link, platform::Clock& clock, log::Alerts& alerts, log::CheckReport& report,
           platform::FileSystem& files);

  const form::FormDesign& design() const override { return design_; }
  void form_open(form::FormContext& ctx) override;
  void form_close(form::FormContext& ctx) override;
  void tick(form::FormContext& ctx, std::string_view timer) override;
  // "Sair" asks first (Form::answer ends the form); a stop asked from
  // outside (a signal, the session's end) does not.
  void click(form::FormContext& ctx, std::string_view button) override;
  void answer(form::FormContext& ctx, std::string_view question, bool yes) override;
  // One second of the monitor's timer, while the reprint form is open over
  // it; nothing otherwise.
  void pulse();

  // The status line as placed in L-LINK-TEXTO: HH:MM:SS, " - ", W-MSG.
  static std::string status_line(std::string_view w_hora, std::string_view w_msg);

 private:
  void ciclo_timer(form::FormContext& ctx);
  void passo(form::FormContext& ctx);
  void mostra_status(form::FormContext& ctx);
  // Adds the rows of the check's report below the check's row.
  void mostra_checagem(form::FormContext& ctx);
  // Brings Lv_Alertas in line with the board when its version moved.
  void mostra_alertas(form::FormContext& ctx);

  log::LLink& link_;
  platform::Clock& clock_;
  log::Alerts& alerts_;
  log::CheckReport& report_;
  platform::FileSystem& files_;
  form::FormDesign design_;
  std::string w_hora_;
  std::string w_msg_;
  int w_item_lista_ = 0;
  // What Lv_Alertas shows: its rows in order, and the board's version then.
  std::vector<log::Alerts::Alert> shown_;
  std::uint64_t shown_version_ = 0;
  // This form's context while the reprint form is open over it.
  form::FormContext* under_reprint_ = nullptr;
};

}  // namespace kav::monitor
