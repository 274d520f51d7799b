#include "orders/kept_answers_form.h"

#include "form/browser.h"
#include "form/form_names.h"
#include "record/cp1252.h"

namespace kav::orders {

namespace {
constexpr std::string_view kList = "Lv_Retidas";
const form::Font kButtonFont{"Tahoma", 11, true};
}  // namespace

KeptAnswersForm::KeptAnswersForm(platform::FileSystem& files, SettleFn settle)
    : files_(files), settle_(std::move(settle)) {
  design_.name = form::kKeptAnswersForm;
  design_.caption = "Respostas retidas";
  design_.width = 560;
  design_.height = 330;
  design_.closes_on_request = true;

  form::ControlDesign list{.name = std::string(kList), .kind = form::ControlKind::list};
  list.x = 10, list.y = 10, list.width = 540, list.height = 250;
  list.font = {"Verdana", 9, false};
  list.columns = {{"Hora", 100}, {"Comando", 70}, {"Comanda", 70}, {"Motivo", 300}};

  design_.controls = {form::BrowserPulse::timer(),
                      list,
                      form::push_button("Bt_Imprimir", "Imprimir", 10, 270, 150, 50, kButtonFont),
                      form::push_button("Bt_Descartar", "Descartar", 170, 270, 150, 50, kButtonFont),
                      form::push_button("Bt_Fechar", "Fechar", 460, 270, 90, 50, kButtonFont)};
}

void KeptAnswersForm::form_open(form::FormContext& ctx) {
  shown_.clear();
  pulse_.restart();
  show_answers(ctx);
}

void KeptAnswersForm::tick(form::FormContext& ctx, std::string_view timer) {
  pulse_.tick(ctx, timer, [&] { show_answers(ctx); });
}

void KeptAnswersForm::click(form::FormContext& ctx, std::string_view button) {
  if (button == "Bt_Imprimir") {
    settle_selected(ctx, ComandasForm::Settle::print);
  } else if (button == "Bt_Descartar") {
    settle_selected(ctx, ComandasForm::Settle::discard);
  } else if (button == "Bt_Fechar") {
    ctx.end_form();
  }
}

// Rebuilt only when the files changed (each is read only then: Temp may
// hold up to kMaxKeptBytes of them); console mode prints every row that
// gets its text.
void KeptAnswersForm::show_answers(form::FormContext& ctx) {
  std::vector<std::string> names = kept_answer_names(files_);
  if (names == shown_ && !(names.empty() && pulse_.fresh())) return;
  for (int i = static_cast<int>(shown_.size()); i-- > 0;) ctx.remove_list_row(ctx.get_list_row(kList, i));
  for (const auto& name : names) {
    const KeptAnswer k = examine_kept(files_, name);
    const form::ListRow row = ctx.get_list_row(kList, ctx.add_list_row(kList, 1, 1));
    ctx.set_list_row_text(row, stamp_moment(k.stamp), 1);
    ctx.set_list_row_text(row, k.command ? std::string(k.command->name) : std::string("?"), 2);
    ctx.set_list_row_text(row, k.numero.empty() ? std::string("-") : k.numero, 3);
    ctx.set_list_row_text(row, k.why.empty() ? std::string("incompleta") : k.why, 4);
  }
  shown_ = std::move(names);
  ctx.refresh_control(kList);
}

void KeptAnswersForm::settle_selected(form::FormContext& ctx, ComandasForm::Settle how) {
  const int row = ctx.get_selected_row(kList);
  if (row < 0 || row >= static_cast<int>(shown_.size())) {
    ctx.show_message_box("Selecione uma resposta na lista.", form::kStyleInformation);
    return;
  }
  const std::string& name = shown_[static_cast<std::size_t>(row)];
  settle_(name, how);
  ctx.show_message_box(name + (how == ComandasForm::Settle::print
                                   ? record::cp1252(": será impressa na próxima checagem, com \"VERIFICAR: resposta retida\".")
                                   : record::cp1252(": será descartada na próxima checagem.")),
                       form::kStyleInformation);
}

}  // namespace kav::orders
