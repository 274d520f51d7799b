// What keeps a page gone wrong from filling the log and Temp: a failure met
// again is logged once and then counted, an answer kept already is not kept
// again, and the kept answers are bounded together, oldest removed first.
#include "log/log_from_form.h"
#include "orders/comandas_form.h"
#include "orders/kept_answers.h"
#include "platform/clock.h"
#include "record/cp1252.h"

namespace kav::orders {

namespace {
std::string hhmm_of(platform::Clock& clock) {
  const std::string t = clock.time_hhmmsscc();
  return t.substr(0, 2) + ":" + t.substr(2, 2);
}
std::int64_t now_ms_of(platform::Clock& clock) {
  return platform::stamp_centis(platform::stamp_now(clock)).value_or(0) * 10;
}
}  // namespace

bool ComandasForm::first_of_repeats(std::string_view text) {
  return repeats_.admit(text, now_ms_of(platform_.clock), hhmm_of(platform_.clock));
}

void ComandasForm::log_repeatable(form::FormContext& ctx, std::string_view text) {
  if (first_of_repeats(text)) log::log_from_form(ctx, link_, text);
}

void ComandasForm::log_repeats(form::FormContext& ctx) {
  for (const auto& line : repeats_.end_check(now_ms_of(platform_.clock))) log::log_from_form(ctx, link_, line);
}

bool ComandasForm::kept_answer_again(form::FormContext& ctx, const std::string& from, std::string_view answer,
                                     std::string_view command, bool name_order, std::string_view why) {
  const auto same = kept_bound_.same_as(command, answer);
  if (!same) return false;
  platform_.files.remove(from).ignore();  // never read as an answer, never done over
  platform_.files.sync_directory(kTempFolder).ignore();  // gone; durable with the folder's next sync
  const std::string where = "Temp\\" + *same;
  const std::string numero = name_order ? order_of(std::string(kTempFolder) + "\\" + *same) : std::string();
  if (!name_order) {  // the row that names the order is already shown
    log_repeatable(ctx, "Resposta " + std::string(command) + " igual a " + where + record::cp1252(", já retida"));
  } else if (numero.empty()) {
    log_failure(ctx, "Resposta " + std::string(command) + std::string(why) + ", igual a " + where + " !!!");
  } else {
    log_failure(ctx, "Comanda " + numero + record::cp1252(" não impressa (") + std::string(command) +
                         std::string(why) + "), igual a " + where + " !!!");
  }
  show_failed_answers();
  return true;
}

void ComandasForm::bound_kept(form::FormContext& ctx, const std::string& newest) {
  const std::vector<std::string> over = kept_bound_.over_bound(newest);
  if (over.empty()) return;
  for (const auto& name : over) {
    const std::string path = std::string(kTempFolder) + "\\" + name;
    const std::string numero = order_of(path);
    if (!platform_.files.remove(path).ok()) continue;
    log_failure(ctx, "Retida removida (limite " + std::to_string(kMaxKeptAnswers) + "/" +
                         std::to_string(kMaxKeptBytes / (1024 * 1024)) + " MiB): Comanda " +
                         (numero.empty() ? std::string("-") : numero) + ", Temp\\" + name);
  }
  platform_.files.sync_directory(kTempFolder).ignore();  // gone; durable with the folder's next sync
}

}  // namespace kav::orders
