#include "orders/comandas_form.h"

#include "erpfiles/paramet.h"
#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"

#include "form/form_names.h"
#include "log/log_from_form.h"
#include "orders/print_record.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::orders {

namespace {
const std::string kCaption = record::cp1252("KAV - Importação Comandas");
// What a log line keeps of a message.
constexpr std::size_t kLogTextWidth = 106;
const std::string kBloqCaption = record::cp1252("Registro sendo acessado, Aguarde liberação !!!");
}  // namespace

ComandasForm::ComandasForm(log::LLink& link, platform::Platform& platform, std::string web_host)
    : link_(link),
      exchange_(platform.files, std::move(web_host)),
      impressao_(platform.files, platform.printing),
      paramet_(erpfiles::declare(platform.keyed, erpfiles::paramet::kFile)),
      vendedo_(erpfiles::declare(platform.keyed, erpfiles::vendedo::kFile)),
      produto_(erpfiles::declare(platform.keyed, erpfiles::produto::kFile)) {
  design_.name = form::kComandasForm;
  design_.caption = kCaption;
  design_.width = 538;
  design_.height = 300;
  form::ControlDesign timer{.name = "CmTimer1", .kind = form::ControlKind::timer};
  timer.enabled = true, timer.interval_ms = 1;

  form::ControlDesign list{.name = "Lv_Proc", .kind = form::ControlKind::list};
  list.x = 10, list.y = 10, list.width = 518, list.height = 218;
  list.font = {"Verdana", 9, true};
  list.columns = {{"Status", 500}};

  form::ControlDesign frame{.name = "Frm_Bloq", .kind = form::ControlKind::frame};
  frame.x = 10, frame.y = 234, frame.width = 380, frame.height = 50;
  frame.visible = false;

  form::ControlDesign bloq{.name = "CmStatic1", .kind = form::ControlKind::static_text};
  bloq.caption = kBloqCaption;
  bloq.x = 10, bloq.y = 20, bloq.width = 360, bloq.height = 20;
  bloq.parent = "Frm_Bloq";

  form::ControlDesign date{.name = "Ed_DTSIS", .kind = form::ControlKind::date_edit};
  date.x = 400, date.y = 250, date.width = 128, date.height = 24;
  date.visible = false;
  date.format = "dd/MM/yyyy";

  design_.controls = {timer, list, frame, bloq, date};
}

void ComandasForm::tick(form::FormContext& ctx, std::string_view timer) {
  if (timer != "CmTimer1") return;
  ctx.set_timer_enabled("CmTimer1", false);
  proc_imprime(ctx);
  proc_cancela(ctx);
  proc_fecha(ctx);
  ctx.end_form();
}

void ComandasForm::form_close(form::FormContext&) {
  for (auto* file : {&paramet_, &vendedo_, &produto_}) {
    if (*file) (*file)->close();
  }
}

bool ComandasForm::next_record(form::FormContext& ctx, std::string_view command) {
  if (!exchange_.perform(ctx, command, areas_)) return false;
  AnswerReader& r = exchange_.reader();
  if (r.skip_to_record(4)) {
    areas_.cmd.numero = r.fixed(4);
    if (!is_end_marker(areas_.cmd.numero)) return true;
  }
  exchange_.close();
  answer_complete(ctx, command);
  return false;
}

// The page's own output before the answer (a warning, an error page) is
// passed over and logged, once per answer, so that the web application's
// people hear of it. Output that ran into the answer after its first record
// had started means the page failed while writing this order: nothing of
// it is printed, and the row and the log say so. The order number in that
// message is the first field of a record whose shape the reader checked.
bool ComandasForm::answer_complete(form::FormContext& ctx, std::string_view command) {
  const AnswerReader& r = exchange_.reader();
  if (!r.has_odd_text()) return true;
  const std::string prefix = "Texto ignorado em " + std::string(command) + ": ";
  const std::string odd = shortened(r.leading_text(), r.inner_text(), kLogTextWidth - prefix.size());
  if (!odd.empty()) {  // an answer cut inside a record may have passed over nothing
    link_.set_texto(prefix + odd);
    ctx.run_form_modal("99-LOG");
  }
  if (!r.damaged()) return true;
  log_message(ctx, "Resposta " + std::string(command) + " incompleta, Comanda = " + areas_.cmd.numero.substr(0, 4) +
                       record::cp1252(" não impressa !!!"));
  return false;
}

void ComandasForm::read_order_header(AnswerReader& r) {
  r.skip(2);
  areas_.cmd.codigo = r.fixed(6);
  r.skip(2);
  areas_.cmd.texto = r.text(40);
  r.skip(1);
  areas_.cmd.pessoas = r.fixed(2);
  r.skip(2);
  areas_.cmd.compl_ = r.text(20);
}

void ComandasForm::begin_ticket(bool order_texts, std::string_view printer_line) {
  impressao_.proc_cfgimp(areas_.impressora(areas_.w_ind));
  impressao_.open();
  record::Area& reg = impressao_.reg_impressao();
  reg.set(prt_numcmd, areas_.cmd.numero);
  if (order_texts) {
    reg.set(prt_texto, areas_.cmd.texto);
    impressao_.move_pessoas(areas_.cmd.pessoas);
    reg.set(prt_compl, areas_.cmd.compl_);
  } else {
    reg.set(prt_texto, "");
    reg.set(prt_pessoas, "");
    reg.set(prt_compl, "");
  }
  reg.set(prt_impressora, printer_line);
  impressao_.write(grupo::cabec);
  impressao_.write(grupo::cabcmd);
}

void ComandasForm::end_ticket() {
  impressao_.write(grupo::traco);
  impressao_.write(grupo::orbela);
  impressao_.close();
}

void ComandasForm::write_item_lines(const Item& item) {
  record::Area& reg = impressao_.reg_impressao();
  reg.set(prt_descricao, item.descricao);
  impressao_.write(grupo::itecmd);
  if (!record::is_blank(item.obs)) {
    reg.set(prt_obs, item.obs);
    impressao_.write(grupo::obsite);
  }
}

int ComandasForm::log_message(form::FormContext& ctx, std::string_view text) {
  const int index = ctx.add_list_row("Lv_Proc", 1, 1);
  const form::ListRow row = ctx.get_list_row("Lv_Proc", index);
  log::log_from_form(ctx, link_, text, [&](std::string_view texto) { ctx.set_list_row_text(row, texto, 1); });
  return index;
}

}  // namespace kav::orders
