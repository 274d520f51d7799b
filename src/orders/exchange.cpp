#include "orders/exchange.h"

#include <cstdint>
#include <cstdio>
#include <memory>

#include "platform/answer_bound.h"
#include "platform/command_runner.h"
#include "platform/status.h"
#include "platform/line_end.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "record/fnv1a.h"
#include "record/letter_case.h"

namespace kav::orders {

bool read_whole(platform::FileSystem& files, std::string_view path, std::string& bytes) {
  std::unique_ptr<platform::File> in;
  if (!files.open(path, platform::OpenMode::input, in).ok()) return false;
  char buf[4096];
  long n = 0;
  while ((n = in->read(buf, sizeof buf)) > 0) {
    bytes.append(buf, static_cast<std::size_t>(n));
    // Never more than an answer may hold into memory.
    if (bytes.size() > platform::kMaxAnswerBytes) {
      in->close().ignore();  // read only
      return false;
    }
  }
  in->close().ignore();
  return n == 0;
}

std::uint64_t size_up_to_bound(platform::FileSystem& files, std::string_view path) {
  std::unique_ptr<platform::File> in;
  if (!files.open(path, platform::OpenMode::input, in).ok()) return 0;
  char buf[16384];
  std::uint64_t size = 0;
  long n = 0;
  while (size <= platform::kMaxAnswerBytes && (n = in->read(buf, sizeof buf)) > 0) size += static_cast<std::uint64_t>(n);
  in->close().ignore();  // read only
  return size;
}

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

Exchange::Outcome Exchange::perform(form::FormContext& ctx, std::string_view command, WorkAreas& areas) {
  resposta_.close().ignore();
  failed_step_.clear();
  batch_status_ = platform::Status();
  ctx.run_command_line(record::padded(kDeleteAnswer, kCommandTextWidth), 0).ignore();
  // An answer that could not be removed would be read again as new work.
  if (files_.exists(kRespostaPath)) {
    failed_step_ = "apagar GET_KAVCMD.RET";
    return Outcome::disk_failed;
  }

  // The batch line goes out without its trailing blanks; the command
  // interpreter ignores them anyway. A batch file written in part (a full
  // disk) would ask for work that cannot be received, or run a cut line.
  // Written only when it holds another line or has gone (the same command
  // again, as while work keeps coming, runs the file as it stands), and held
  // from then until the run has ended: CMD.EXE reads it while it runs, and
  // nobody may change or replace it meanwhile.
  const std::string contents =
      std::string(record::trim_right(batch_line(web_host_, command))) + std::string(platform::kLineEnd);
  std::unique_ptr<platform::File> held;
  if (!platform::place_and_hold(files_, kArqbatPath, contents, held)) {
    failed_step_ = "gravar GET_KAVCMD.bat";
    return Outcome::disk_failed;
  }

  batch_status_ = ctx.run_command_line(record::padded(kRunBatch, kCommandTextWidth), 0);
  held.reset();
  areas.reset();
  // A page that never ends: Wget was stopped at the bound, and what it left
  // is neither read nor kept.
  if (size_up_to_bound(files_, kRespostaPath) > platform::kMaxAnswerBytes) {
    files_.remove(kRespostaPath).ignore();  // Wget writes it afresh
    return Outcome::too_large;
  }
  if (!batch_status_.ok()) return Outcome::web_failed;

  reader_.restart();
  st_arquivo_ = resposta_.open(kRespostaPath, platform::OpenMode::input);
  if (!st_arquivo_.ok()) {
    resposta_.close().ignore();
    return Outcome::no_answer;
  }
  return Outcome::answer;
}

std::string Exchange::failure_cause(const platform::Status& status, std::size_t arrived) {
  const std::string seconds = std::to_string(platform::kExchangeTimeLimit.count() / 1000);
  switch (status.code()) {
    case platform::Status::kOverran:
      return arrived == 0
                 ? "sem resposta em " + seconds + " s (servidor parado)"
                 : "resposta lenta demais, cortada em " + seconds + " s (" + std::to_string(arrived) + " bytes)";
    case platform::Status::kRefused:
      return record::cp1252("Wget não pôde ser executado (Wget ou KAVWGET.RC ausente)");
    case platform::Status::kSignalled:
      return "Wget interrompido";
    case platform::Status::kProgramNotFile:
      return std::string(platform::kWgetProgramPath) + record::cp1252(" ausente ou inválido (pasta ou link)");
    default:
      break;
  }
  switch (status.exit_code()) {
    case 3:
      return "erro ao gravar GET_KAVCMD.RET (disco cheio?)";
    case 4:
      return arrived == 0
                 ? record::cp1252("servidor fora do ar ou conexão recusada")
                 : record::cp1252("conexão cortada no meio da resposta (") + std::to_string(arrived) + " bytes)";
    case 8:
      return record::cp1252("o servidor respondeu com erro (página ausente ou com falha)");
    case 9009:  // CMD.EXE: the program on the batch line was not found
      return record::cp1252("Wget não encontrado em \\OrbelaTeknovarium\\Kav\\WGET");
    default:
      return "Wget terminou com status " + std::to_string(status.result_number());
  }
}

namespace {

std::string folder_of(std::string_view path) { return std::string(path.substr(0, path.rfind('\\'))); }

}  // namespace

std::string copy_path(std::string_view pending_path, std::string_view bytes) {
  char seal[32];
  std::snprintf(seal, sizeof seal, ".%zu-%08x.tmp", bytes.size(), static_cast<unsigned>(record::fnv1a32(bytes)));
  return std::string(pending_path) + seal;
}

std::optional<std::string> whole_copy_of(std::string_view copy_name, std::string_view bytes) {
  const std::size_t dot = copy_name.size() < 4 ? std::string_view::npos : copy_name.rfind('.', copy_name.size() - 5);
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string pending(copy_name.substr(0, dot));
  std::string sealed = copy_path(pending, bytes);
  sealed = sealed.substr(sealed.rfind('\\') + 1);
  if (record::upper(sealed) != record::upper(copy_name)) return std::nullopt;
  return pending;
}

bool Exchange::keep_as(std::string_view pending_path) {
  resposta_.close().ignore();
  std::string bytes;
  bool ok = read_whole(files_, kRespostaPath, bytes);
  if (ok) {
    const std::string copy = copy_path(pending_path, bytes);
    std::unique_ptr<platform::File> out;
    ok = files_.open(copy, platform::OpenMode::output, out).ok();
    ok = ok && out->write(bytes).ok() && out->sync().ok();
    if (out) ok = out->close().ok() && ok;
    ok = ok && files_.rename(copy, pending_path).ok();
    if (!ok) files_.remove(copy).ignore();
  }
  // Kept. The answer leaves GET_KAVCMD.RET before the folder's sync, so that
  // one sync makes the new name and the removal durable together: never a
  // kept answer that a restart would also find in GET_KAVCMD.RET and keep
  // again. A cut before that sync leaves the synced copy, which the start
  // after it knows whole by its name.
  bool synced = true;
  if (ok) {
    files_.remove(kRespostaPath).ignore();  // a removal lost shows at the next start as a copy kept
    synced = files_.sync_directory(folder_of(pending_path)).ok();
  }
  reader_.restart();
  st_arquivo_ = resposta_.open(ok ? pending_path : kRespostaPath, platform::OpenMode::input);
  return ok && synced && st_arquivo_.ok();
}

bool Exchange::reopen(std::string_view path, WorkAreas& areas) {
  resposta_.close().ignore();
  areas.reset();
  reader_.restart();
  st_arquivo_ = resposta_.open(path, platform::OpenMode::input);
  if (!st_arquivo_.ok()) {
    resposta_.close().ignore();
    return false;
  }
  return true;
}

}  // namespace kav::orders
