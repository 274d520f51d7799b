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
#include <iostream>
#include <string>
#include <vector>

#include "answer/answer_check.h"
#include "common/tool_files.h"
#include "platform/answer_bound.h"
#include "record/cp1252.h"

namespace {

using namespace kav;

std::string out(std::string_view cp1252) { return record::to_terminal(cp1252); }

// An answer as the operator named it: a regular file (a link to one is
// followed), no larger than any answer may be.
tools::FileCheck read_answer(const std::filesystem::path& path, std::string& bytes) {
  return tools::read_file(path, platform::kMaxAnswerBytes, true, bytes);
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
    if (const tools::FileCheck c = read_answer(path, answer); c != tools::FileCheck::ok) {
      std::cout << out(p + ": " + tools::refusal_text(c, platform::kMaxAnswerBytes, "o limite de uma resposta") + "\n");
      status = tools::kExitRefused;
      continue;
    }
    std::string batch;
    if (read_answer(path.parent_path() / "GET_KAVCMD.bat", batch) != tools::FileCheck::ok) batch.clear();
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
