// kav-answer as the installer runs it: over saved answers, the command told
// by the file's name, the batch file beside it or the answer itself; its
// report in Portuguese on the terminal (UTF-8); a non-zero status when an
// answer would be refused.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "answer/answer_check.h"
#include "support/line_ends.h"
#include "support/quirky_answers.h"
#include "support/temp_root.h"

namespace kav::answer {
namespace {

namespace fs = std::filesystem;

struct AnswerTool : ::testing::Test {
  fs::path put(const std::string& name, const std::string& bytes) const {
    fs::create_directories((root.path() / name).parent_path());
    std::ofstream(root.path() / name, std::ios::binary) << bytes;
    return root.path() / name;
  }
  int run(const std::string& args, std::string& out) const {
    const fs::path file = root.path() / "out.txt";
    const std::string cmd = "cd '" + root.str() + "' && '" + std::string(KAV_BIN_DIR) + "/kav-answer' " + args +
                            " >'" + file.string() + "' 2>&1 </dev/null";
    const int rc = std::system(cmd.c_str());
    out = test::slurp(file);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  test::TempRoot root;
};

TEST_F(AnswerTool, ADayOfAnswersPrintsTheTicketsAndFailsOnTheOneThatWouldBeRefused) {
  put("Temp/GET_KAVCMD.RET", "<0012><000345><Mesa 05 - Salão><04><>\n"
                             "<0012><000201><Caipirinha de limão><000003,000><0000018,50><><BAR>\n");
  put("Temp/GET_KAVCMD.bat", "\\OrbelaTeknovarium\\Kav\\WGET \"http://localhost/Comandas/GET_KAVCMD.php?COMANDO=CMD_IMP\"");
  std::string out;
  ASSERT_EQ(run("Temp/GET_KAVCMD.RET", out), 0) << out;
  EXPECT_NE(out.find("Temp/GET_KAVCMD.RET: CMD_IMP, lida como UTF-8 (convertida para Windows-1252)\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("  monitor: Imprimir itens da Comanda = 0012\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  ticket para \"BAR\":\n"), std::string::npos) << out;
  EXPECT_NE(out.find("    | 3 x Caipirinha de limão\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  resultado: 1 ticket impresso\n"), std::string::npos) << out;

  // A kept answer names its command; one the page died in is refused.
  put("KAVFALHA-20191127-14380500-CMD_FEC.RET",
      "<0014><000001><Mesa><02><><CAIXA><10>\n<000100><A><000001,000><0000001,00>\nFatal error: x");
  ASSERT_EQ(run("Temp/GET_KAVCMD.RET KAVFALHA-20191127-14380500-CMD_FEC.RET", out), 1) << out;
  EXPECT_NE(out.find("KAVFALHA-20191127-14380500-CMD_FEC.RET: CMD_FEC\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  monitor: Texto ignorado em CMD_FEC: Fatal error: x\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  RECUSADA: nada dela seria impresso"), std::string::npos) << out;
  EXPECT_NE(out.find("  alerta: Comanda 0014 não impressa (CMD_FEC): texto após o último registro: 'Fatal error: x'\n"), std::string::npos) << out;

  // Told on the command line, or guessed; a file that is not there.
  put("cancel.txt", "<0012><0003><000201><Chopp><><BAR>");
  ASSERT_EQ(run("cancel.txt", out), 0) << out;
  EXPECT_NE(out.find("cancel.txt: CAN_ITE (comando deduzido do conteúdo)\n"), std::string::npos) << out;
  EXPECT_EQ(run("--comando CMD_IMP absent.txt", out), 2) << out;
  EXPECT_NE(out.find("absent.txt: não foi possível ler o arquivo"), std::string::npos) << out;
  put("nothing.txt", "hello");
  EXPECT_EQ(run("nothing.txt", out), 2) << out;
  EXPECT_NE(out.find("informe-o com --comando"), std::string::npos) << out;
}

// What is no answer file is refused at once, in Portuguese, with status 2:
// a folder, a device that never ends, a FIFO nobody writes, a file larger
// than any answer.
TEST_F(AnswerTool, WhatIsNotARegularFileOrIsTooLargeIsRefused) {
  fs::create_directory(root.path() / "folder");
  ASSERT_EQ(::mkfifo((root.path() / "fifo").c_str(), 0666), 0);
  fs::resize_file(put("huge.RET", ""), 5u * 1024u * 1024u);
  std::string out;
  EXPECT_EQ(run("--comando CMD_IMP folder", out), 2);
  EXPECT_NE(out.find("folder: não é um arquivo comum; recusado"), std::string::npos) << out;
  EXPECT_EQ(run("--comando CMD_IMP /dev/zero", out), 2);
  EXPECT_NE(out.find("/dev/zero: não é um arquivo comum; recusado"), std::string::npos) << out;
  EXPECT_EQ(run("--comando CMD_IMP fifo", out), 2);
  EXPECT_NE(out.find("fifo: não é um arquivo comum; recusado"), std::string::npos) << out;
  EXPECT_EQ(run("--comando CMD_IMP huge.RET", out), 2);
  EXPECT_NE(out.find("huge.RET: maior que 4194304 bytes, o limite de uma resposta; recusado"), std::string::npos)
      << out;
}

TEST(AnswerCommand, FromTheNameTheBatchFileOrTheFirstRecord) {
  bool guessed = false;
  EXPECT_EQ(command_of("KAVPEND-20191127-14380500-can_ite.RET", "", "", guessed), "CAN_ITE");
  EXPECT_FALSE(guessed);
  EXPECT_EQ(command_of("GET_KAVCMD.RET", "x ?COMANDO=CMD_FEC\" y", "<0012><0003>", guessed), "CMD_FEC");
  EXPECT_EQ(command_of("a.txt", "", "Notice: x\n<0012><0003><000201><Chopp><><BAR>", guessed), "CAN_ITE");
  EXPECT_TRUE(guessed);
  EXPECT_EQ(command_of("a.txt", "", "<12><000345><Mesa><02><><CAIXA><10>\n<000100>", guessed), "CMD_FEC");
  EXPECT_EQ(command_of("a.txt", "", "<0012><000345><Mesa><02><>\n<0012><000100>", guessed), "CMD_IMP");
  EXPECT_EQ(command_of("a.txt", "", "<br />Fatal error", guessed), std::nullopt);
}

// The fuzz targets start from the same answers.
TEST(AnswerCommand, TheFuzzCorpusHoldsTheQuirkyAnswers) {
  for (const auto& q : test::quirky_answers()) {
    EXPECT_EQ(test::slurp(fs::path(KAV_SOURCE_DIR) / "tests" / "fuzz" / "corpus" / q.name), q.bytes) << q.name;
  }
}

}  // namespace
}  // namespace kav::answer
