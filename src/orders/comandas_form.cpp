#include "orders/comandas_form.h"

#include "erpfiles/paramet.h"
#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"

#include "orders/print_record.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::orders {

namespace {
const std::string kCaption = record::cp1252("KAV - Importação Comandas");
const std::string kBloqCaption = record::cp1252("Registro sendo acessado, Aguarde liberação !!!");
}  // namespace

ComandasForm::ComandasForm(log::LLink& link, platform::Platform& platform, std::string web_host)
    : link_(link),
      platform_(platform),
      exchange_(platform.files, std::move(web_host)),
      impressao_(platform.files, platform.printing),
      paramet_(erpfiles::declare(platform.keyed, erpfiles::paramet::kFile)),
      vendedo_(erpfiles::declare(platform.keyed, erpfiles::vendedo::kFile)),
      produto_(erpfiles::declare(platform.keyed, erpfiles::produto::kFile)) {
  design_.name = "90-COMANDAS";
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
  if (r.skip_to_lt()) {
    areas_.cmd.numero = r.fixed(4);
    if (!is_end_marker(areas_.cmd.numero)) return true;
  }
  exchange_.close();
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

void ComandasForm::open_print_job() {
  impressao_.proc_cfgimp(areas_.impressora(areas_.w_ind));
  impressao_.open();
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
  link_.set_texto(text);
  ctx.set_list_row_text(row, link_.texto(), 1);
  ctx.run_form_modal("99-LOG");
  return index;
}

}  // namespace kav::orders
