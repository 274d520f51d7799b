#include "orders/exchange.h"

#include <memory>

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

namespace {

std::string folder_of(std::string_view path) { return std::string(path.substr(0, path.rfind('\\'))); }

}  // namespace

bool Exchange::keep_as(std::string_view pending_path) {
  resposta_.close();
  std::string bytes;
  bool ok = false;
  {
    std::unique_ptr<platform::File> in;
    if (files_.open(kRespostaPath, platform::OpenMode::input, in) == platform::status::ok) {
      char buf[4096];
      long n = 0;
      while ((n = in->read(buf, sizeof buf)) > 0) bytes.append(buf, static_cast<std::size_t>(n));
      ok = n == 0;
      in->close();
    }
  }
  const std::string tmp = std::string(pending_path) + ".tmp";
  if (ok) {
    std::unique_ptr<platform::File> out;
    ok = files_.open(tmp, platform::OpenMode::output, out) == platform::status::ok;
    ok = ok && out->write(bytes) && out->sync();
    if (out) ok = out->close() && ok;
    ok = ok && files_.rename(tmp, pending_path) && files_.sync_directory(folder_of(pending_path));
    if (!ok) files_.remove(tmp);
  }
  if (ok) files_.remove(kRespostaPath);
  reader_.restart();
  st_arquivo_ = resposta_.open(ok ? pending_path : kRespostaPath, platform::OpenMode::input);
  return ok && st_arquivo_ == platform::status::ok;
}

bool Exchange::reopen(std::string_view path, WorkAreas& areas) {
  resposta_.close();
  areas.reset();
  reader_.restart();
  st_arquivo_ = resposta_.open(path, platform::OpenMode::input);
  if (st_arquivo_ != platform::status::ok) {
    resposta_.close();
    return false;
  }
  return true;
}

}  // namespace kav::orders
