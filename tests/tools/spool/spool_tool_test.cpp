// kav-spool run as the operator runs it, on a laid-out root.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <sys/wait.h>

#include <array>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "record/cp1252.h"
#include "support/temp_root.h"

namespace kav {
namespace {

namespace fs = std::filesystem;

struct SpoolTool : ::testing::Test {
  SpoolTool() {
    root.lay_out();
    put("COZINHA", "20191127-14380500-000001.txt", "Fil\xe9 \xe0 parmegiana\n");
    put("COZINHA", "20191127-14380500-000003-NAO-ENTREGUE.txt", "Feijoada\n");
    put("BAR", "20191127-14380500-000002-NAO-ENTREGUE.txt", "Caipirinha\n");
    put("BAR", "20191127-14380500-000004.tmp", "cut");
  }
  void put(const std::string& printer, const std::string& name, const std::string& bytes) {
    fs::create_directories(spool() / printer);
    std::ofstream(spool() / printer / name, std::ios::binary) << bytes;
  }
  fs::path spool() const { return root.path() / "OrbelaTeknovarium" / "Spool"; }

  // Runs kav-spool with its standard output into a file; returns the status.
  int run(const std::string& args, std::string& out) const {
    const fs::path file = root.path() / "out.txt";
    const std::string cmd = "KAVCOMANDA_ROOT='" + root.str() + "' '" + std::string(KAV_BIN_DIR) + "/kav-spool' " +
                            args + " >'" + file.string() + "' 2>&1 </dev/null";
    const int rc = std::system(cmd.c_str());
    out = test::slurp(file);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  test::TempRoot root;
};

TEST_F(SpoolTool, ListsShowsAndSettles) {
  std::string out;
  ASSERT_EQ(run("list", out), 0) << out;
  EXPECT_EQ(out,
            "BAR\n"
            "  nao-entregue 20191127-14380500-000002\n"
            "  incompleto   20191127-14380500-000004\n"
            "COZINHA\n"
            "  impresso     20191127-14380500-000001\n"
            "  nao-entregue 20191127-14380500-000003\n");
  ASSERT_EQ(run("list cozinha", out), 0);
  EXPECT_EQ(out.find("BAR"), std::string::npos);

  // Not a terminal: the kept bytes as they stand.
  ASSERT_EQ(run("show COZINHA 20191127-14380500-000001", out), 0);
  EXPECT_EQ(out, "Fil\xe9 \xe0 parmegiana\n");
  EXPECT_NE(run("show COZINHA 20191127-14380500-000009", out), 0);

  ASSERT_EQ(run("settle BAR 20191127-14380500-000002-NAO-ENTREGUE.txt", out), 0) << out;
  EXPECT_TRUE(fs::exists(spool() / "BAR" / "20191127-14380500-000002.txt"));
  EXPECT_NE(run("settle COZINHA 20191127-14380500-000001", out), 0);  // printed already
  const std::string log = test::slurp(root.path() / "OrbelaTeknovarium" / ("LOGCMD_" + [] {
                                        std::array<char, 16> d{};
                                        const std::time_t t = std::time(nullptr);
                                        std::strftime(d.data(), d.size(), "%Y%m%d", std::localtime(&t));
                                        return std::string(d.data());
                                      }() + ".txt"));
  EXPECT_NE(log.find("Baixado a mao: BAR\\20191127-14380500-000002"), std::string::npos) << log;
  EXPECT_EQ(run("nonsense", out), 2);
}

TEST_F(SpoolTool, ReprintsUndeliveredTicketsThroughTheSpoolerAndClearsTheirMarks) {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, "KAVTEST", nullptr);
  if (dest == nullptr) GTEST_SKIP() << "no CUPS printer KAVTEST (scripts/cups-test-printer.sh)";
  cupsFreeDests(1, dest);
  put("KAVTEST", "20191127-14380500-000005-NAO-ENTREGUE.txt", "Por\xe7\xe3o de fritas\n");
  std::string out;
  EXPECT_EQ(run("reprint-undelivered KAVTEST", out), 0) << out;
  EXPECT_TRUE(fs::exists(spool() / "KAVTEST" / "20191127-14380500-000005.txt")) << out;
  // A printed ticket can be printed again as a copy; it stays as it is.
  EXPECT_EQ(run("reprint KAVTEST 20191127-14380500-000005", out), 0) << out;
  EXPECT_TRUE(fs::exists(spool() / "KAVTEST" / "20191127-14380500-000005.txt"));
  // A printer the spooler does not know prints nothing, and says so (a name
  // no setup makes: the quick start adds BAR, COZINHA and CAIXA).
  put("KAVDESCONHECIDA", "20191127-14380500-000006-NAO-ENTREGUE.txt", "Caipirinha\n");
  EXPECT_NE(run("reprint KAVDESCONHECIDA 20191127-14380500-000006", out), 0);
  EXPECT_TRUE(fs::exists(spool() / "KAVDESCONHECIDA" / "20191127-14380500-000006-NAO-ENTREGUE.txt"));
}

}  // namespace
// A root without the system's folder (a misspelt KAVCOMANDA_ROOT) is said,
// not listed as an empty spool.
TEST_F(SpoolTool, AMissingRootIsSaid) {
  const fs::path folder = root.path() / "OrbelaTeknovarium";
  fs::rename(folder, root.path() / "outra");
  std::string out;
  EXPECT_EQ(run("list", out), 4);
  EXPECT_EQ(out, "kav-spool: a pasta " + folder.string() + " não existe; confira KAVCOMANDA_ROOT\n");
  fs::rename(root.path() / "outra", folder);
}

}  // namespace kav
