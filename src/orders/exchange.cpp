#include "orders/exchange.h"

#include "platform/file_status.h"
#include "record/area.h"

namespace kav::orders {

std::string batch_line(std::string_view web_host, std::string_view command) {
  std::string line = "\\OrbelaTeknovarium\\Kav\\WGET";
  line += " \"";
  line += "http://" + std::string(web_host) + "/Comandas/GET_KAVCMD.php";
  line += "?COMANDO=" + std::string(command) + "\"";
  line += "     ";
  line += "--output-document=C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET";
  line += " --no-cache";
  return record::padded(line, kRegArqbatWidth);
}

bool Exchange::perform(form::FormContext& ctx, std::string_view command, WorkAreas& areas) {
  resposta_.close();
  ctx.run_command_line(record::padded(kDeleteAnswer, kCommandTextWidth), 0);

  // The batch line goes out without its trailing blanks; the command
  // interpreter ignores them anyway.
  platform::TextFile arqbat(files_);
  st_arquivo_ = arqbat.open(kArqbatPath, platform::OpenMode::output);
  st_arquivo_ = arqbat.write_line(record::trim_right(batch_line(web_host_, command)));
  st_arquivo_ = arqbat.close();

  ctx.run_command_line(record::padded(kRunBatch, kCommandTextWidth), 0);
  areas.reset();

  reader_.restart();
  st_arquivo_ = resposta_.open(kRespostaPath, platform::OpenMode::input);
  if (st_arquivo_ != platform::status::ok) {
    resposta_.close();
    return false;
  }
  return true;
}

}  // namespace kav::orders
