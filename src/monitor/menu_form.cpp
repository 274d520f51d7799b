#include "monitor/menu_form.h"

#include <algorithm>

#include "form/form_names.h"
#include "log/log_form.h"
#include "log/log_from_form.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::monitor {

namespace {
constexpr int kChecksEvery = 5;  // ticks per check: the progress bar's maximum
constexpr int kChecksAtOnce = 20;  // checks in a row while a rush leaves work waiting
const form::Font kListFont{"Verdana", 9, true};
const form::Font kButtonFont{"Tahoma", 14.25, true};
const form::Font kAlertFont{"Tahoma", 8.25, false};
constexpr int kAlertColor = 0xC00000;  // dark red
// The rows of a check's report stand indented under the check's row.
constexpr std::string_view kReportIndent = "   ";
constexpr std::string_view kExitQuestion = "sair";
}  // namespace

MenuForm::MenuForm(log::LLink& link, platform::Clock& clock, log::Alerts& alerts, log::CheckReport& report,
                   platform::FileSystem& files)
    : link_(link), clock_(clock), alerts_(alerts), report_(report), files_(files), w_hora_(8, '0'), w_msg_(120, ' ') {
  design_.name = form::kMenuForm;
  design_.caption = "Monitor Comandas (19.11c)";
  design_.width = 538;
  design_.height = 458;

  form::ControlDesign timer{.name = "Cm_Timer", .kind = form::ControlKind::timer};
  timer.interval_ms = 1000;
  timer.enabled = true;

  form::ControlDesign list{.name = "Lv_Proc", .kind = form::ControlKind::list};
  list.x = 10, list.y = 10, list.width = 518, list.height = 218;
  list.font = kListFont;
  list.columns = {{"Status", 500}};

  form::ControlDesign progress{.name = "Cm_Progress", .kind = form::ControlKind::progress};
  progress.x = 10, progress.y = 232, progress.width = 518, progress.height = 11;
  progress.minimum = 0, progress.maximum = kChecksEvery, progress.step = 1, progress.position = 0;

  form::ControlDesign export_button{.name = "Bt_Confirma7", .kind = form::ControlKind::button};
  export_button.caption = "Exportar Cadastros";
  export_button.x = 10, export_button.y = 252, export_button.width = 277, export_button.height = 55;
  export_button.font = kButtonFont;

  form::ControlDesign exit_button{.name = "Bt_Confirma8", .kind = form::ControlKind::button};
  exit_button.caption = "Sair";
  exit_button.picture = "Bt_Sair";
  exit_button.x = 295, exit_button.y = 252, exit_button.width = 233, exit_button.height = 55;
  exit_button.font = kButtonFont;

  form::ControlDesign alerts_list{.name = "Lv_Alertas", .kind = form::ControlKind::list};
  alerts_list.x = 10, alerts_list.y = 315, alerts_list.width = 518, alerts_list.height = 85;
  alerts_list.font = kAlertFont;
  alerts_list.columns = {{"Alertas", 500}};
  alerts_list.text_color = kAlertColor;

  // Below the designed window: the reprint of recent tickets.
  form::ControlDesign reprint_button{.name = "Bt_Reimprimir", .kind = form::ControlKind::button};
  reprint_button.caption = "Reimprimir";
  reprint_button.x = 10, reprint_button.y = 408, reprint_button.width = 277, reprint_button.height = 40;
  reprint_button.font = kButtonFont;

  design_.controls = {timer, list, progress, export_button, exit_button, alerts_list, reprint_button};
}

// However the monitor ends, what it logged reaches the disk.
void MenuForm::form_close(form::FormContext&) { log::sync_log(files_); }

void MenuForm::form_open(form::FormContext&) {
  // A fresh window has an empty list: whatever stands is shown on the first tick.
  shown_.clear();
  shown_version_ = 0;
}

std::string MenuForm::status_line(std::string_view w_hora, std::string_view w_msg) {
  record::Area texto(210);
  texto.set({1, 2}, w_hora.substr(0, 2));
  texto.set({3, 1}, ":");
  texto.set({4, 2}, w_hora.substr(2, 2));
  texto.set({6, 1}, ":");
  texto.set({7, 2}, w_hora.substr(4, 2));
  texto.set({9, 3}, " - ");
  texto.set({12, 120}, w_msg);
  return std::string(texto.bytes());
}

void MenuForm::tick(form::FormContext& ctx, std::string_view timer) {
  if (timer == "Cm_Timer") ciclo_timer(ctx);
}

void MenuForm::click(form::FormContext& ctx, std::string_view button) {
  if (button == "Bt_Confirma7") {
    ctx.set_timer_enabled("Cm_Timer", false);
    ctx.run_form_modal(form::kExportaForm);
    ctx.set_timer_enabled("Cm_Timer", true);
  } else if (button == "Bt_Reimprimir") {
    // Its timer goes on with this one's work (pulse): the checks do not stop.
    ctx.set_timer_enabled("Cm_Timer", false);
    under_reprint_ = &ctx;
    ctx.run_form_modal(form::kReprintForm);
    under_reprint_ = nullptr;
    ctx.set_timer_enabled("Cm_Timer", true);
  } else if (button == "Bt_Confirma8") {
    // A question that holds nothing: the checks go on until "Sim".
    ctx.ask(record::cp1252("Parar o monitor? As comandas deixam de ser impressas."), kExitQuestion);
  }
}

void MenuForm::answer(form::FormContext& ctx, std::string_view question, bool yes) {
  if (question == kExitQuestion && yes) ctx.end_form();
}

void MenuForm::pulse() {
  if (under_reprint_ != nullptr) passo(*under_reprint_);
}

void MenuForm::ciclo_timer(form::FormContext& ctx) {
  ctx.set_timer_enabled("Cm_Timer", false);
  passo(ctx);
  ctx.set_timer_enabled("Cm_Timer", true);
}

// A check that left work waiting at the web application (a rush) is
// followed at once by the next, up to kChecksAtOnce in a row.
void MenuForm::passo(form::FormContext& ctx) {
  mostra_alertas(ctx);
  ctx.step_progress("Cm_Progress");
  if (ctx.get_progress_value("Cm_Progress") != kChecksEvery) return;
  ctx.set_progress_value("Cm_Progress", 0);
  for (int n = 0; n < kChecksAtOnce; ++n) {
    w_hora_ = clock_.time_hhmmsscc();
    w_msg_ = record::padded("Checando Comandas ...", 120);
    mostra_status(ctx);
    const std::uint64_t logged = log::log_lines_written(files_);
    report_.set_work_left(false);
    ctx.run_form_modal(form::kComandasForm);
    mostra_checagem(ctx);
    mostra_alertas(ctx);
    if (log::log_lines_written(files_) != logged) log::sync_log(files_);
    if (!report_.work_left()) break;
  }
}

void MenuForm::mostra_alertas(form::FormContext& ctx) {
  const std::uint64_t version = alerts_.version();
  if (version == shown_version_) return;
  const std::vector<log::Alerts::Alert> now = alerts_.current();
  auto find = [](auto& in, const std::string& key) {
    return std::find_if(in.begin(), in.end(), [&](const log::Alerts::Alert& a) { return a.key == key; });
  };
  // Rows of alerts that ended leave; the rows kept stay in the board's order
  // (an alert keeps its place), so the new ones are added after them.
  for (std::size_t i = shown_.size(); i-- > 0;) {
    if (find(now, shown_[i].key) != now.end()) continue;
    ctx.remove_list_row(ctx.get_list_row("Lv_Alertas", static_cast<int>(i)));
    shown_.erase(shown_.begin() + static_cast<std::ptrdiff_t>(i));
  }
  int newest = -1;
  for (const log::Alerts::Alert& alert : now) {
    const auto it = find(shown_, alert.key);
    if (it == shown_.end()) {
      newest = ctx.add_list_row("Lv_Alertas", 1, 1);
      ctx.set_list_row_text(ctx.get_list_row("Lv_Alertas", newest), alert.text, 1);
      shown_.push_back(alert);
    } else if (it->text != alert.text) {
      ctx.set_list_row_text(ctx.get_list_row("Lv_Alertas", static_cast<int>(it - shown_.begin())), alert.text, 1);
      it->text = alert.text;
    }
  }
  if (newest >= 0) ctx.show_list_row(ctx.get_list_row("Lv_Alertas", newest));
  ctx.refresh_control("Lv_Alertas");
  shown_version_ = version;
}

void MenuForm::mostra_status(form::FormContext& ctx) {
  log::log_from_form(ctx, link_, status_line(w_hora_, w_msg_), [&](std::string_view texto) {
    w_item_lista_ = ctx.add_list_row("Lv_Proc", 1, 1);
    ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", w_item_lista_), texto, 1);
    ctx.show_list_row(ctx.get_list_row("Lv_Proc", w_item_lista_));
    ctx.refresh_control("Lv_Proc");
  });
}

void MenuForm::mostra_checagem(form::FormContext& ctx) {
  const std::vector<std::string> rows = report_.take();
  if (rows.empty()) return;
  for (const std::string& text : rows) {
    w_item_lista_ = ctx.add_list_row("Lv_Proc", 1, 1);
    ctx.set_list_row_text(ctx.get_list_row("Lv_Proc", w_item_lista_), std::string(kReportIndent) + text, 1);
  }
  ctx.show_list_row(ctx.get_list_row("Lv_Proc", w_item_lista_));
  ctx.refresh_control("Lv_Proc");
}

}  // namespace kav::monitor
