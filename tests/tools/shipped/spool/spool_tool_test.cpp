// kav-spool run as the operator runs it, on a laid-out root.
#include <gtest/gtest.h>

#include <cups/cups.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/instance_lock.h"
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
    put("COZINHA/20191126", "20191126-20000000-000001.txt", "Moqueca\n");  // printed, filed in its day's folder
  }
  void put(const std::string& printer, const std::string& name, const std::string& bytes) {
    fs::create_directories(spool() / printer);
    std::ofstream(spool() / printer / name, std::ios::binary) << bytes;
  }
  fs::path spool() const { return root.path() / "OrbelaTeknovarium" / "Spool"; }

  // Runs kav-spool with its standard output into a file; returns the status.
  // `prefix` goes before it on the command line (a user to run it as,
  // variables of its environment).
  int run(const std::string& args, std::string& out, const std::string& prefix = {}) const {
    const fs::path file = root.path() / "out.txt";
    const std::string cmd = prefix + " env KAVCOMANDA_ROOT='" + root.str() + "' '" + std::string(KAV_BIN_DIR) +
                            "/kav-spool' " + args + " >'" + file.string() + "' 2>&1 </dev/null";
    const int rc = std::system(cmd.c_str());
    out = test::slurp(file);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  test::TempRoot root;
};

TEST_F(SpoolTool, ListsShowsAndSettles) {
  std::string out;
  ASSERT_EQ(run("list --todos", out), 0) << out;
  EXPECT_EQ(out,
            "BAR\n"
            "  nao-entregue 20191127-14380500-000002\n"
            "  incompleto   20191127-14380500-000004\n"
            "COZINHA\n"
            "  impresso     20191126-20000000-000001\n"
            "  impresso     20191127-14380500-000001\n"
            "  nao-entregue 20191127-14380500-000003\n");
  // Without --todos the printed tickets of earlier days are only mentioned.
  ASSERT_EQ(run("list", out), 0) << out;
  EXPECT_EQ(out,
            "BAR\n"
            "  nao-entregue 20191127-14380500-000002\n"
            "  incompleto   20191127-14380500-000004\n"
            "COZINHA\n"
            "  nao-entregue 20191127-14380500-000003\n"
            "(tickets impressos de dias anteriores n\xC3\xA3o listados; veja todos com \"kav-spool list --todos\")\n");
  ASSERT_EQ(run("list cozinha", out), 0);
  EXPECT_EQ(out.find("BAR"), std::string::npos);
  ASSERT_EQ(run("list --todos cozinha", out), 0);
  EXPECT_NE(out.find("000001"), std::string::npos);
  EXPECT_EQ(out.find("BAR"), std::string::npos);

  // Not a terminal: the kept bytes as they stand.
  ASSERT_EQ(run("show COZINHA 20191127-14380500-000001", out), 0);
  EXPECT_EQ(out, "Fil\xe9 \xe0 parmegiana\n");
  ASSERT_EQ(run("show cozinha 20191126-20000000-000001", out), 0) << out;  // found in its day's folder
  EXPECT_EQ(out, "Moqueca\n");
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
  // Sent to a printer that is there instead: the original settled, the copy
  // kept under its banner in the other printer's folder.
  EXPECT_EQ(run("enviar KAVDESCONHECIDA 20191127-14380500-000006 KAVTEST", out), 0) << out;
  EXPECT_TRUE(fs::exists(spool() / "KAVDESCONHECIDA" / "20191127-14380500-000006.txt"));
  bool banner = false;
  for (const auto& f : fs::directory_iterator(spool() / "KAVTEST")) {
    std::ifstream in(f.path(), std::ios::binary);
    std::string first;
    std::getline(in, first);
    banner = banner || first == "*** PARA KAVDESCONHECIDA - ENVIADO \xC0 KAVTEST ***";
  }
  EXPECT_TRUE(banner);
}


// Whatever could print a ticket twice is refused, says why, exits non-zero
// and leaves the marks as they were (no spooler needed for any of these).
TEST_F(SpoolTool, RefusesWhatCouldPrintATicketTwice) {
  const fs::path bar = spool() / "BAR" / "20191127-14380500-000002-NAO-ENTREGUE.txt";
  const fs::path cozinha = spool() / "COZINHA" / "20191127-14380500-000003-NAO-ENTREGUE.txt";
  std::string out;
  {
    // A running monitor holds the lock: it sends undelivered tickets itself.
    auto files = platform::make_os_file_system(root.str());
    std::unique_ptr<platform::InstanceLock> monitor;
    ASSERT_EQ(platform::take_instance_lock(*files, monitor), platform::LockOutcome::taken);
    EXPECT_EQ(run("reprint-undelivered", out), 1);
    EXPECT_NE(out.find("o monitor está em execução nesta pasta"), std::string::npos) << out;
    EXPECT_EQ(run("reprint BAR 20191127-14380500-000002", out), 1);
    EXPECT_NE(out.find("o monitor está em execução"), std::string::npos) << out;
    // Nothing prints beside it, a printed ticket's copy neither: the window
    // does that. Looking goes on.
    put("BAR", "20191127-14380500-000001.txt", "Chopp\n");
    EXPECT_EQ(run("reprint BAR 20191127-14380500-000001", out), 1);
    EXPECT_NE(out.find("imprima pela janela (Reimprimir"), std::string::npos) << out;
    EXPECT_EQ(run("enviar BAR 20191127-14380500-000002 COZINHA", out), 1);
    EXPECT_NE(out.find("imprima pela janela"), std::string::npos) << out;
    EXPECT_EQ(run("list BAR", out), 0) << out;
    EXPECT_NE(out.find("20191127-14380500-000002"), std::string::npos) << out;
    EXPECT_EQ(run("show BAR 20191127-14380500-000001", out), 0) << out;
    EXPECT_NE(out.find("Chopp"), std::string::npos) << out;
  }
  // A lock that cannot be opened at all may hide a monitor just as well.
  const fs::path lock_file = root.path() / "OrbelaTeknovarium" / "Temp" / "KAVCOMANDA.LCK";
  fs::remove(lock_file);
  fs::create_directory(lock_file);
  EXPECT_EQ(run("reprint-undelivered", out), 1);
  EXPECT_NE(out.find("não foi possível abrir ou travar " + lock_file.string() + " ("), std::string::npos) << out;
  fs::remove(lock_file);
  // A spooler that does not answer (nothing listens on that loopback port).
  EXPECT_EQ(run("reprint-undelivered", out, "CUPS_SERVER=127.0.0.1:9"), 1);
  EXPECT_NE(out.find("o spooler de impressão não responde; BAR\\20191127-14380500-000002 não foi impresso"),
            std::string::npos)
      << out;
  EXPECT_TRUE(fs::exists(bar));
  EXPECT_TRUE(fs::exists(cozinha));
}

// An order's copy by hand: of the named ticket's kind (a bill's copy is the
// bill, nothing for the kitchen), or the whole order; each ticket tried is
// named (the spooler does not answer here, so none prints).
TEST_F(SpoolTool, AnOrdersCopyIsOfTheTicketsKindOrTheWholeOrder) {
  const auto ticket = [](std::string_view body) {
    return "              *** COMANDA 0040 ***\n" + std::string(body) + "\n";
  };
  put("COZINHA", "20191127-15000000-000001.txt", ticket("2 x Feijoada"));
  put("BAR", "20191127-15000000-000002.txt", ticket("3 x Caipirinha"));
  put("BAR", "20191127-15100000-000001.txt", ticket("***      I T E M   C A N C E L A D O      ***"));
  put("CAIXA", "20191127-15200000-000001.txt", ticket("  Total de Produtos            52,00"));
  const auto tried = [](const std::string& out) {
    std::vector<std::string> names;
    for (std::size_t at = out.find("responde; "); at != std::string::npos; at = out.find("responde; ", at + 1)) {
      names.push_back(out.substr(at + 10, out.find(' ', at + 10) - at - 10));
    }
    return names;
  };
  const std::string cups = "CUPS_SERVER=127.0.0.1:9";
  std::string out;
  EXPECT_EQ(run("reprint-order CAIXA 20191127-15200000-000001", out, cups), 1);
  EXPECT_EQ(tried(out), std::vector<std::string>{"CAIXA\\20191127-15200000-000001"}) << out;
  EXPECT_EQ(run("reprint-order cozinha 20191127-15000000-000001", out, cups), 1);
  EXPECT_EQ(tried(out), (std::vector<std::string>{"COZINHA\\20191127-15000000-000001", "BAR\\20191127-15000000-000002"}))
      << out;
  EXPECT_EQ(run("reprint-order-all CAIXA 20191127-15200000-000001", out, cups), 1);
  EXPECT_EQ(tried(out).size(), 4U) << out;
  // A ticket without an order's head has no order to copy.
  EXPECT_EQ(run("reprint-order COZINHA 20191127-14380500-000001", out, cups), 1);
  EXPECT_NE(out.find("não tem número de comanda"), std::string::npos) << out;
}

// A job handed over before is looked up before anything is printed again:
// the spooler's own record of it decides.
TEST_F(SpoolTool, AnUndeliveredTicketsJobDecidesBeforeItIsPrintedAgain) {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, "KAVTEST", nullptr);
  if (dest == nullptr) GTEST_SKIP() << "no CUPS printer KAVTEST (scripts/cups-test-printer.sh)";
  cupsFreeDests(1, dest);
  // Jobs made beside kav-spool, as the monitor's hand-over makes them.
  const auto lp = [&](const std::string& options) {
    const fs::path file = root.path() / "lp.txt";
    std::ofstream(root.path() / "job.txt") << "Feijoada\n";
    const std::string cmd = "lp -d KAVTEST " + options + " '" + (root.path() / "job.txt").string() + "' >'" +
                            file.string() + "' 2>&1";
    if (std::system(cmd.c_str()) != 0) return 0;
    const std::string said = test::slurp(file);  // "request id is KAVTEST-12 (1 file(s))"
    const auto at = said.find("KAVTEST-");
    return at == std::string::npos ? 0 : std::atoi(said.c_str() + at + 8);
  };
  const auto finished = [&](int id) {
    for (int i = 0; i < 150; ++i) {
      ipp_jstate_t state = IPP_JSTATE_PENDING;
      cups_job_t* jobs = nullptr;
      const int n = cupsGetJobs(&jobs, "KAVTEST", 0, CUPS_WHICHJOBS_ALL);
      for (int j = 0; j < n; ++j) {
        if (jobs[j].id == id) state = jobs[j].state;
      }
      cupsFreeJobs(n, jobs);
      if (state == IPP_JSTATE_COMPLETED) return true;
      ::usleep(200000);
    }
    return false;
  };
  const auto note = [&](const std::string& base, int id) {
    std::ofstream(spool() / "KAVTEST" / (base + ".job")) << id;
  };
  const int done = lp("");
  ASSERT_GT(done, 0);
  ASSERT_TRUE(finished(done));
  put("KAVTEST", "20191127-14380500-000007-NAO-ENTREGUE.txt", "Feijoada\n");
  note("20191127-14380500-000007", done);
  const int held = lp("-H indefinite");
  ASSERT_GT(held, 0);
  put("KAVTEST", "20191127-14380500-000008-NAO-ENTREGUE.txt", "Caipirinha\n");
  note("20191127-14380500-000008", held);

  std::string out;
  EXPECT_EQ(run("reprint-undelivered KAVTEST", out), 0) << out;
  // Finished: settled, its note gone, not printed again.
  EXPECT_NE(out.find("KAVTEST\\20191127-14380500-000007 já impresso (trabalho " + std::to_string(done) +
                     "); marca retirada"),
            std::string::npos)
      << out;
  EXPECT_TRUE(fs::exists(spool() / "KAVTEST" / "20191127-14380500-000007.txt"));
  EXPECT_FALSE(fs::exists(spool() / "KAVTEST" / "20191127-14380500-000007.job"));
  // Still in the queue: left alone, said.
  EXPECT_NE(out.find("KAVTEST\\20191127-14380500-000008 ainda está na fila"), std::string::npos) << out;
  EXPECT_TRUE(fs::exists(spool() / "KAVTEST" / "20191127-14380500-000008-NAO-ENTREGUE.txt"));
  EXPECT_EQ(out.find(" impresso\n"), std::string::npos) << out;  // nothing handed over
  EXPECT_EQ(std::system(("cancel KAVTEST-" + std::to_string(held) + " >/dev/null 2>&1").c_str()), 0);

  // A job the spooler no longer knows may have printed: left to the operator,
  // who may name the ticket to print it again.
  note("20191127-14380500-000008", 99999999);
  EXPECT_EQ(run("reprint-undelivered KAVTEST", out), 1) << out;
  EXPECT_NE(out.find("não conhece mais o trabalho 99999999"), std::string::npos) << out;
  EXPECT_TRUE(fs::exists(spool() / "KAVTEST" / "20191127-14380500-000008-NAO-ENTREGUE.txt"));
  EXPECT_EQ(run("reprint KAVTEST 20191127-14380500-000008", out), 0) << out;
  EXPECT_TRUE(fs::exists(spool() / "KAVTEST" / "20191127-14380500-000008.txt")) << out;
  EXPECT_FALSE(fs::exists(spool() / "KAVTEST" / "20191127-14380500-000008.job"));
}

// Another user of the machine on the same root (folders every user may
// write, as a shared PC has them): a second monitor refuses to start, and
// kav-spool run by a user who cannot write the spool prints nothing.
class TwoUsers : public SpoolTool {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || std::system("command -v runuser >/dev/null 2>&1") != 0 ||
        std::system("runuser -u nobody -- true >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "*** NOT TESTED: the two-users case needs root, runuser and the user nobody ***";
    }
    if (std::system(("runuser -u nobody -- test -x '" + std::string(KAV_BIN_DIR) + "/kav-spool'").c_str()) != 0) {
      GTEST_SKIP() << "*** NOT TESTED: the user nobody cannot run the programs in " << KAV_BIN_DIR << " ***";
    }
    // The root's folders take anyone's files (a shared PC's); the spool's
    // printer folders stay root's own.
    for (const fs::path& p :
         {root.path(), root.path() / "OrbelaTeknovarium", root.path() / "OrbelaTeknovarium" / "Temp"}) {
      ::chmod(p.c_str(), 01777);
    }
  }
  std::string as_nobody() const { return "timeout 60 runuser -u nobody --"; }
};

TEST_F(TwoUsers, ASecondMonitorOfAnotherUserRefusesToStart) {
  auto files = platform::make_os_file_system(root.str());
  std::unique_ptr<platform::InstanceLock> first;  // root's monitor
  ASSERT_EQ(platform::take_instance_lock(*files, first), platform::LockOutcome::taken);
  const fs::path lock_file = root.path() / "OrbelaTeknovarium" / "Temp" / "KAVCOMANDA.LCK";
  EXPECT_EQ(fs::status(lock_file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write |
                fs::perms::others_read | fs::perms::others_write);
  const auto monitor = [&](std::string& out) {
    const fs::path file = root.path() / "monitor.txt";
    const std::string cmd = as_nobody() + " env KAVCOMANDA_ROOT='" + root.str() +
                            "' KAVCOMANDA_UI=console KAVCOMANDA_WEB_HOST=127.0.0.1:9 '" + std::string(KAV_BIN_DIR) +
                            "/kavcomanda' >'" + file.string() + "' 2>&1 </dev/null";
    const int rc = std::system(cmd.c_str());
    out = test::slurp(file);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  };
  std::string out;
  EXPECT_EQ(monitor(out), 3) << out;  // 124: it started (and was stopped by the time limit)
  EXPECT_NE(out.find("j\xC3\xA1 est\xC3\xA1 em execu\xC3\xA7\xC3\xA3o"), std::string::npos) << out;
  // A lock file another user made for itself alone (an earlier version did)
  // cannot be opened: that refuses too, naming the file and the cause.
  ::chmod(lock_file.c_str(), 0644);
  EXPECT_EQ(monitor(out), 3) << out;
  EXPECT_NE(out.find(lock_file.string() + " (Permission denied)"), std::string::npos) << out;
  // And kav-spool the same.
  EXPECT_EQ(run("reprint-undelivered", out, as_nobody()), 1);
  EXPECT_NE(out.find(lock_file.string() + " (Permission denied)"), std::string::npos) << out;
}

TEST_F(TwoUsers, KavSpoolOfAUserWhoCannotWriteTheSpoolPrintsNothing) {
  std::string out;
  EXPECT_EQ(run("reprint-undelivered", out, as_nobody()), 1) << out;
  EXPECT_NE(out.find("a pasta " + (spool() / "BAR").string() + " não aceita gravação"), std::string::npos) << out;
  EXPECT_EQ(out.find("0000002 impresso"), std::string::npos) << out;
  EXPECT_EQ(out.find("0000003 impresso"), std::string::npos) << out;
  EXPECT_TRUE(fs::exists(spool() / "BAR" / "20191127-14380500-000002-NAO-ENTREGUE.txt"));
  EXPECT_TRUE(fs::exists(spool() / "COZINHA" / "20191127-14380500-000003-NAO-ENTREGUE.txt"));
  EXPECT_FALSE(fs::exists(spool() / "BAR" / "20191127-14380500-000002.job"));
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

// The answers kept aside: listed, printed as the monitor's window prints
// them (each ticket marked for the kitchen to check), discarded; printing
// and discarding are the monitor's while it runs.
struct KeptAnswers : SpoolTool {
  fs::path temp() const { return root.path() / "OrbelaTeknovarium" / "Temp"; }
  void keep(const std::string& name, const std::string& bytes) { std::ofstream(temp() / name, std::ios::binary) << bytes; }
  std::string log() const {
    std::array<char, 16> d{};
    const std::time_t t = std::time(nullptr);
    std::strftime(d.data(), d.size(), "%Y%m%d", std::localtime(&t));
    return test::slurp(root.path() / "OrbelaTeknovarium" / ("LOGCMD_" + std::string(d.data()) + ".txt"));
  }
  static constexpr const char* kCut = "KAVFALHA-20191127-14380500-CMD_IMP.RET";
  static constexpr const char* kMarker = "KAVFALHA-20191127-14390000-CMD_IMP.RET";
};

TEST_F(KeptAnswers, ListedPrintedAndDiscardedAndLeftToTheMonitorWhileItRuns) {
  keep(kCut, "<0042><000345><Mesa 7><02><>\n<0042><000101><Bolo><000001,000><0000010,00><><KAVRETIDA>\n<0042><0001");
  keep(kMarker, "<9999><000345><Mesa 5><02><>\n<9999><000101><Suco><000001,000><0000005,00><><KAVRETIDA>\n");
  std::string out;
  ASSERT_EQ(run("retidas", out), 0) << out;
  EXPECT_EQ(out,
            "1  27/11 14:39:00  CMD_IMP  Comanda 9999  comanda: '9999' é marcador de fim, mas há registros depois dele"
            "  Temp\\KAVFALHA-20191127-14390000-CMD_IMP.RET\n"
            "2  27/11 14:38:05  CMD_IMP  Comanda 0042  incompleta  Temp\\KAVFALHA-20191127-14380500-CMD_IMP.RET\n");
  EXPECT_EQ(run("imprimir-retida 3", out), 1);
  EXPECT_NE(out.find("nenhuma resposta retida número 3"), std::string::npos) << out;
  {
    auto files = platform::make_os_file_system(root.str());
    std::unique_ptr<platform::InstanceLock> monitor;
    ASSERT_EQ(platform::take_instance_lock(*files, monitor), platform::LockOutcome::taken);
    EXPECT_EQ(run("imprimir-retida 2", out), 1);
    EXPECT_NE(out.find("o monitor está em execução nesta pasta (ou a trava não abriu): imprima-a em Reimprimir"),
              std::string::npos)
        << out;
    EXPECT_EQ(run("descartar-retida 1", out), 1);
    EXPECT_TRUE(fs::exists(temp() / kMarker) && fs::exists(temp() / kCut));
  }
  ASSERT_EQ(run("imprimir-retida 2", out), 0) << out;
  EXPECT_NE(out.find("Retida impressa pelo operador: Comanda 0042 (CMD_IMP), 1 ticket(s)"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(temp() / kCut));
  std::vector<std::string> tickets;
  for (const auto& e : fs::directory_iterator(spool() / "KAVRETIDA")) {
    if (e.path().extension() == ".txt") tickets.push_back(test::slurp(e.path()));
  }
  ASSERT_EQ(tickets.size(), 1u);
  EXPECT_LT(tickets[0].find("VERIFICAR: resposta retida"), tickets[0].find("Bolo")) << tickets[0];
  EXPECT_NE(log().find("Retida impressa pelo operador: Comanda 0042 (CMD_IMP), 1 ticket(s), Temp\\KAVFALHA-"),
            std::string::npos)
      << log();

  ASSERT_EQ(run("descartar-retida 1", out), 0) << out;
  EXPECT_FALSE(fs::exists(temp() / kMarker));
  EXPECT_NE(log().find("Retida descartada pelo operador (kav-spool): Comanda 9999, Temp\\" + std::string(kMarker)),
            std::string::npos);
  ASSERT_EQ(run("retidas", out), 0);
  EXPECT_EQ(out, "nenhuma resposta retida\n");
}

// A file larger than any the monitor makes is refused, said, exit 2; one
// that is no plain file (a FIFO would never end) is never opened.
TEST_F(KeptAnswers, WhatIsNoFileOrTooLargeIsRefusedWithExitTwo) {
  std::string out;
  put("BAR", "20191127-14380500-000009.txt", "");
  fs::resize_file(spool() / "BAR" / "20191127-14380500-000009.txt", 8u * 1024 * 1024 + 1);
  EXPECT_EQ(run("show BAR 20191127-14380500-000009", out), 2);
  EXPECT_EQ(out, "kav-spool: BAR\\20191127-14380500-000009: maior que 8388608 bytes, o limite de um ticket; recusado\n");
  EXPECT_EQ(run("reprint BAR 20191127-14380500-000009", out), 2);

  ASSERT_EQ(::mkfifo((spool() / "BAR" / "20191127-14380500-000010.txt").c_str(), 0600), 0);
  EXPECT_EQ(run("show BAR 20191127-14380500-000010", out), 1);  // not a ticket: not listed, never opened

  keep(kCut, "");
  fs::resize_file(temp() / kCut, 4u * 1024 * 1024 + 2);
  ASSERT_EQ(::mkfifo((temp() / kMarker).c_str(), 0600), 0);
  EXPECT_EQ(run("retidas", out), 2);
  EXPECT_EQ(out, "1  Temp\\KAVFALHA-20191127-14380500-CMD_IMP.RET: maior que 4194305 bytes, o limite de uma resposta; "
                 "recusado\n");
  EXPECT_EQ(run("imprimir-retida 1", out), 2);
  EXPECT_TRUE(fs::exists(temp() / kCut));
}

}  // namespace kav
