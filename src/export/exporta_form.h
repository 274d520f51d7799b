// 01-EXPORTA: exports the ERP's sellers and products for the web application.
//
// The first tick of CmTimer1 runs the whole export: every seller of VENDEDO
// and then every product of PRODUTO, in code order, become the lines of
// C:\xampp\htdocs\Comandas\FILES\KAVCMD.TXT; the web application's import page
// is then called through OrbKavCmd.bat and Wget, and the form closes. A record
// that the ERP holds locked shows Frm_Bloq until the ERP lets it go.
//
// KAVCMD.TXT is replaced only by a complete export: the lines go to
// KAVCMD.TMP, which is renamed into place once every line is written and the
// file closed. A failure to write it, or a failed read of an ERP file, leaves
// the previous KAVCMD.TXT as it was, calls no import and ends with an error
// box instead of the closing message. So does an import that the web
// application did not confirm (Wget's status, an empty or refusing answer in
// WGET.TXT), and a failed opening of an ERP file is logged with its path.
#pragma once

#include <memory>
#include <string>

#include "log/l_link.h"
#include "form/form.h"
#include "platform/keyed_file.h"
#include "platform/platform.h"
#include "platform/text_file.h"
#include "record/area.h"

namespace kav::master_export {

// The pause between two reads of a record that the ERP holds locked.
inline constexpr int kLockPauseMs = 5;

class ExportaForm final : public form::Form {
 public:
  ExportaForm(log::LLink& link, platform::Platform& platform, std::string web_host);

  const form::FormDesign& design() const override { return design_; }
  void tick(form::FormContext& ctx, std::string_view timer) override;
  void form_close(form::FormContext& ctx) override;

 private:
  // How one of the two reading loops ended.
  enum class Loop { done, read_failed, write_failed };

  void exportacao(form::FormContext& ctx);
  Loop copia(form::FormContext& ctx, platform::KeyedFile& file, record::Area& area, platform::TextFile& out,
             std::string (*line)(record::Area&));
  platform::Status le_proximo(form::FormContext& ctx, platform::KeyedFile& file, record::Area& area);
  void mostra_bloq(form::FormContext& ctx, bool visible);
  bool grava_kavcmd_final(platform::TextFile& out);
  std::string atualiza_tabelas(form::FormContext& ctx);
  void log_abertura(form::FormContext& ctx, std::string_view path, const platform::Status& status);
  void falha(form::FormContext& ctx, std::string_view message);
  void log(form::FormContext& ctx, std::string_view text);
  platform::Status abre(platform::KeyedFile* file);

  log::LLink& link_;
  platform::Platform& platform_;
  std::string web_host_;
  form::FormDesign design_;

  std::unique_ptr<platform::KeyedFile> vendedo_;
  std::unique_ptr<platform::KeyedFile> produto_;
  record::Area reg_vendedo_;
  record::Area reg_produto_;

  std::string w_oper_;     // "ABRAR" while the export is requested
  std::string w_msg_;      // error text of the run, 120 characters
  std::string w_nomearq_;  // name of the exchange file, 256 characters
  bool bloq_visible_ = false;
};

}  // namespace kav::master_export
