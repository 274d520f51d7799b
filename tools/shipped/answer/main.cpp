// kav-answer: what the monitor would do with saved web answers.
//
//   kav-answer [--comando CMD_IMP|CAN_ITE|CMD_FEC] FILE...
//
// FILE is an answer as the web application gave it: a GET_KAVCMD.RET, a
// kept KAVPEND-... or KAVFALHA-... file, or a page captured with Wget or a
// browser's "save as". The command is taken from --comando, else from the
// file's name, else from a GET_KAVCMD.bat beside it, else from the answer's
// first record. For each file it prints the monitor's lines, the tickets as
// they would print, the alerts, and the verdict; nothing is printed on a
// printer, nothing is asked of the web application, nothing is written.
//
// Exit status: 0 when every answer would be printed (or has no work), 1
// when one would be refused, 2 when a file cannot be read or its command
// cannot be told.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "answer/answer_check.h"
#include "platform/answer_bound.h"
#include "record/cp1252.h"

namespace {

using namespace kav;

std::string out(std::string_view cp1252) { return record::to_terminal(cp1252); }

bool slurp(const std::filesystem::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Why `path` is not read: not a regular file (a folder, a device, a FIFO
// that would never end) or larger than any answer may be; empty when it may.
std::string refusal(const std::filesystem::path& path) {
  std::error_code err;
  const auto st = std::filesystem::status(path, err);
  if (err || !std::filesystem::exists(st)) return record::cp1252("não foi possível ler o arquivo");
  if (!std::filesystem::is_regular_file(st)) return record::cp1252("não é um arquivo comum; recusado");
  const auto size = std::filesystem::file_size(path, err);
  if (err) return record::cp1252("não foi possível ler o arquivo");
  if (size > platform::kMaxAnswerBytes) {
    return record::cp1252("maior que ") + std::to_string(platform::kMaxAnswerBytes) +
           record::cp1252(" bytes, o limite de uma resposta; recusado");
  }
  return {};
}

int usage() {
  std::cerr << out(record::cp1252("uso: kav-answer [--comando CMD_IMP|CAN_ITE|CMD_FEC] ARQUIVO...\n"
                                  "Mostra o que o monitor faria com cada resposta guardada da aplicação web, "
                                  "sem imprimir nem consultar nada.\n"));
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string forced;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--comando" && i + 1 < argc) {
      forced = argv[++i];
      if (forced != "CMD_IMP" && forced != "CAN_ITE" && forced != "CMD_FEC") return usage();
    } else if (a == "-h" || a == "--help" || a == "--ajuda") {
      usage();
      return 0;
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) return usage();

  int status = 0;
  for (const auto& p : paths) {
    const std::filesystem::path path(p);
    std::string answer;
    if (const std::string why = refusal(path); !why.empty()) {
      std::cout << out(p + ": " + why + "\n");
      status = 2;
      continue;
    }
    if (!slurp(path, answer) || answer.size() > platform::kMaxAnswerBytes) {
      std::cout << out(p + record::cp1252(": não foi possível ler o arquivo\n"));
      status = 2;
      continue;
    }
    std::string batch;
    if (refusal(path.parent_path() / "GET_KAVCMD.bat").empty()) slurp(path.parent_path() / "GET_KAVCMD.bat", batch);
    bool guessed = false;
    std::optional<std::string> command =
        forced.empty() ? answer::command_of(path.filename().string(), batch, answer, guessed) : forced;
    if (!command) {
      std::cout << out(p + record::cp1252(": comando desconhecido; informe-o com --comando CMD_IMP, CAN_ITE ou "
                                          "CMD_FEC\n"));
      status = 2;
      continue;
    }
    const answer::Verdict v = answer::check(*command, answer);
    std::string text = answer::report(p, v);
    if (guessed) text.insert(text.find('\n'), record::cp1252(" (comando deduzido do conteúdo)"));
    std::cout << out(text);
    if (v.refused && status == 0) status = 1;
  }
  return status;
}
