#include "export/exporta_form.h"

#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"
#include "export/kavcmd_lines.h"
#include "form/form_names.h"
#include "log/log_from_form.h"
#include "platform/command_runner.h"
#include "platform/status.h"
#include "platform/line_end.h"
#include "record/cp1252.h"

namespace kav::master_export {


namespace {

constexpr std::string_view kTimer = "CmTimer1";
constexpr std::string_view kBloq = "Frm_Bloq";
constexpr std::size_t kOperWidth = 15;
constexpr std::size_t kMsgWidth = 120;
constexpr std::size_t kNomeArqWidth = 256;
constexpr std::size_t kAnswerShown = 150;  // of the import page's answer, in the log

const std::string kAbrar = record::padded("ABRAR", kOperWidth);

}  // namespace

ExportaForm::ExportaForm(log::LLink& link, platform::Platform& platform, std::string web_host)
    : link_(link),
      platform_(platform),
      web_host_(std::move(web_host)),
      vendedo_(erpfiles::declare(platform.keyed, erpfiles::vendedo::kFile)),
      produto_(erpfiles::declare(platform.keyed, erpfiles::produto::kFile)),
      reg_vendedo_(erpfiles::vendedo::kFile.record_length),
      reg_produto_(erpfiles::produto::kFile.record_length),
      w_oper_(kOperWidth, ' '),
      w_msg_(kMsgWidth, ' '),
      w_nomearq_(kNomeArqWidth, ' ') {
  design_.name = form::kExportaForm;
  design_.caption = record::cp1252("Exportação de Cadastros");
  design_.width = 420;
  design_.height = 190;

  form::ControlDesign aguarde;
  aguarde.name = "CmStatic1";
  aguarde.kind = form::ControlKind::static_text;
  aguarde.caption = "Aguarde !!!";
  aguarde.x = 20;
  aguarde.y = 20;
  aguarde.width = 380;
  aguarde.height = 40;
  aguarde.font = {"Tahoma", 14.25, true};

  form::ControlDesign timer;
  timer.name = std::string(kTimer);
  timer.kind = form::ControlKind::timer;
  timer.enabled = true;
  timer.interval_ms = 1;

  form::ControlDesign bloq;
  bloq.name = std::string(kBloq);
  bloq.kind = form::ControlKind::frame;
  bloq.caption = record::cp1252("Aguarde a liberação do registro !!");
  bloq.x = 20;
  bloq.y = 80;
  bloq.width = 380;
  bloq.height = 80;
  bloq.visible = false;

  design_.controls = {aguarde, timer, bloq};
}

void ExportaForm::tick(form::FormContext& ctx, std::string_view timer) {
  if (timer != kTimer) return;
  ctx.set_timer_enabled(kTimer, false);
  w_oper_ = kAbrar;
  exportacao(ctx);
}

void ExportaForm::form_close(form::FormContext&) {
  if (vendedo_) vendedo_->close().ignore();  // statuses not examined
  if (produto_) produto_->close().ignore();
}

platform::Status ExportaForm::abre(platform::KeyedFile* file) {
  return file != nullptr ? file->open_input() : platform::Status(platform::Status::kNotFound);
}

// The export: both ERP files opened, every seller and every product written
// to the exchange file, the import called, the end reported and logged.
void ExportaForm::exportacao(form::FormContext& ctx) {
  if (w_oper_ != kAbrar) {
    w_oper_.assign(kOperWidth, ' ');
    return;
  }
  bloq_visible_ = false;
  reg_vendedo_ = record::Area(erpfiles::vendedo::kFile.record_length);
  reg_produto_ = record::Area(erpfiles::produto::kFile.record_length);
  w_msg_.assign(kMsgWidth, ' ');
  // Both opens are tried; the PRODUTO message replaces the VENDEDO one.
  const platform::Status st_vendedo = abre(vendedo_.get());
  const platform::Status st_produto = abre(produto_.get());
  if (!st_vendedo.ok()) w_msg_ = record::padded("Erro na abertura do VENDEDO.ORB !!!", kMsgWidth);
  if (!st_produto.ok()) w_msg_ = record::padded("Erro na abertura do PRODUTO.ORB !!!", kMsgWidth);
  if (!record::is_blank(w_msg_)) {
    // The day's log says which file failed, where it was looked for and how.
    if (!st_vendedo.ok()) log_abertura(ctx, erpfiles::vendedo::kFile.path, st_vendedo);
    if (!st_produto.ok()) log_abertura(ctx, erpfiles::produto::kFile.path, st_produto);
    ctx.show_message_box(w_msg_, form::kStyleError);
    ctx.end_form();
    w_oper_.assign(kOperWidth, ' ');
    return;
  }

  log(ctx, record::cp1252("Exportação de cadastros ..."));
  w_nomearq_ = record::padded(kKavcmdPath, kNomeArqWidth);
  platform::TextFile kavcmd(platform_.files);
  if (!kavcmd.open(kKavcmdTempPath, platform::OpenMode::output).ok()) {
    falha(ctx, record::cp1252("Erro na gravação do KAVCMD.TXT !!!"));
    return;
  }

  log(ctx, "Vendedores ...");
  std::string_view read_error = "Erro na leitura do VENDEDO.ORB !!!";
  Loop loop = copia(ctx, *vendedo_, reg_vendedo_, kavcmd, seller_line);
  if (loop == Loop::done) {
    log(ctx, "Produtos ...");
    read_error = "Erro na leitura do PRODUTO.ORB !!!";
    loop = copia(ctx, *produto_, reg_produto_, kavcmd, product_line);
  }
  if (loop == Loop::done && !grava_kavcmd_final(kavcmd)) loop = Loop::write_failed;
  if (loop != Loop::done) {
    kavcmd.close().ignore();  // failed already
    platform_.files.remove(kKavcmdTempPath).ignore();  // written again by the next export
    falha(ctx, loop == Loop::write_failed ? record::cp1252("Erro na gravação do KAVCMD.TXT !!!")
                                          : std::string(read_error));
    return;
  }

  log(ctx, "Atualizando tabelas ...");
  const std::string import_failure = atualiza_tabelas(ctx);
  if (!import_failure.empty()) {
    log(ctx, record::cp1252("Importação não confirmada: ") + import_failure);
    falha(ctx, record::cp1252("Erro na importação dos Cadastros !!!"));
    return;
  }

  log::log_from_form(ctx, link_, record::cp1252("Fim da Exportação dos Cadastros !!!"),
                     [&](std::string_view texto) { ctx.show_message_box(texto, form::kStyleInformation); });
  ctx.end_form();
  w_oper_.assign(kOperWidth, ' ');
}

// One reading loop: from the first key not less than "000000" to the end of
// the file, each record turned into its line and written before the next read.
ExportaForm::Loop ExportaForm::copia(form::FormContext& ctx, platform::KeyedFile& file, record::Area& area,
                                     platform::TextFile& out, std::string (*line)(record::Area&)) {
  const platform::Status started = file.start("000000");
  if (started == platform::Status::kNoRecord) return Loop::done;  // nothing of this file to export
  if (!started.ok()) return Loop::read_failed;
  const std::size_t length = area.size();
  for (;;) {
    const platform::Status read = le_proximo(ctx, file, area);
    if (read == platform::Status::kAtEnd) return Loop::done;
    // Any other status would leave the area as it was: the previous record
    // would be written again, for ever.
    if (!read.ok() || area.size() != length) return Loop::read_failed;
    file.unlock().ignore();  // its status is not examined
    if (!out.write_line(line(area)).ok()) return Loop::write_failed;
  }
}

// Read next, repeated for as long as the ERP holds the record locked. Frm_Bloq
// shows during the wait, which gives the processor up between two tries with
// the windows drawn. Every read lets what waits to be drawn through: a long
// export runs inside one handler.
platform::Status ExportaForm::le_proximo(form::FormContext& ctx, platform::KeyedFile& file, record::Area& area) {
  for (;;) {
    ctx.wait_ms(0);
    platform::Status read = file.read_next(area.raw());
    if (read != platform::Status::kLocked) {
      mostra_bloq(ctx, false);
      return read;
    }
    mostra_bloq(ctx, true);
    ctx.wait_ms(kLockPauseMs);
  }
}

void ExportaForm::mostra_bloq(form::FormContext& ctx, bool visible) {
  if (visible == bloq_visible_) return;
  bloq_visible_ = visible;
  ctx.set_control_visible(kBloq, visible);
  ctx.refresh_control(kBloq);
}

// Closes the finished exchange file and puts it in the place of KAVCMD.TXT.
bool ExportaForm::grava_kavcmd_final(platform::TextFile& out) {
  const bool synced = out.sync().ok();
  const bool closed = out.close().ok();
  return synced && closed && platform_.files.rename(kKavcmdTempPath, record::trim_right(w_nomearq_)).ok();
}

// The web import: OrbKavCmd.bat calls the import page through Wget, which
// leaves the page's answer in WGET.TXT. The import is taken as done only when
// the batch file was written, the command ended with status 0 and the page
// answered something that is not an error ("ERRO..." is how the stand-ins
// refuse a file). Returns what went wrong, or nothing.
std::string ExportaForm::atualiza_tabelas(form::FormContext& ctx) {
  // An answer left by an earlier export must not stand for this one.
  platform_.files.remove(kImportAnswerPath).ignore();  // none, usually
  // Written only when it holds another line, and held until the run has
  // ended, so that nobody changes or replaces it while CMD.EXE reads it.
  std::unique_ptr<platform::File> held;
  if (!platform::place_and_hold(platform_.files, kBatchPath,
                                import_batch_line(web_host_) + std::string(platform::kLineEnd), held))
    return "OrbKavCmd.bat " + record::cp1252("não gravado");
  const platform::Status status = ctx.run_command_line(kBatchCommand, 0);
  held.reset();
  if (status == platform::Status::kProgramNotFile)
    return std::string(platform::kWgetProgramPath) + record::cp1252(" ausente ou inválido (pasta ou link)");
  if (!status.ok()) return "WGET terminou com " + std::to_string(status.result_number());

  platform::TextFile answer(platform_.files);
  std::string first_line;
  if (answer.open(kImportAnswerPath, platform::OpenMode::input).ok()) {
    char c = 0;
    while (first_line.size() < kAnswerShown && answer.read_char(c).ok() && c != '\n') {
      if (c != '\r') first_line += c;
    }
  }
  const std::string_view shown = record::trim_right(first_line);
  if (shown.empty()) return "WGET.TXT vazio";
  if (shown.substr(0, 4) == "ERRO") return "WGET.TXT: " + std::string(shown);
  log(ctx, "WGET.TXT: " + std::string(shown));
  return {};
}

void ExportaForm::log_abertura(form::FormContext& ctx, std::string_view path, const platform::Status& status) {
  log(ctx, "Erro na abertura de " + std::string(path) + " (status " + std::string(status.file_status()) + ")");
}

void ExportaForm::falha(form::FormContext& ctx, std::string_view message) {
  w_msg_ = record::padded(message, kMsgWidth);
  ctx.show_message_box(w_msg_, form::kStyleError);
  log(ctx, message);
  ctx.end_form();
  w_oper_.assign(kOperWidth, ' ');
}

void ExportaForm::log(form::FormContext& ctx, std::string_view text) {
  log::log_from_form(ctx, link_, text);
}

}  // namespace kav::master_export
