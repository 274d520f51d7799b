// The stand-in web application: its queue, its pages, the program, and the
// whole exchange through the command runner and GNU Wget.
#include "webstub/webstub.h"

#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/command/runner_root.h"
#include "platform/command_runner.h"
#include "record/cp1252.h"

extern char** environ;

namespace kav::webstub {
namespace {

namespace fs = std::filesystem;
using test::slurp;

const fs::path kSamples = fs::path(KAV_SOURCE_DIR) / "tools" / "standins" / "webstub" / "samples";

void put(const fs::path& file, std::string_view bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::vector<std::string> lines_of(const fs::path& file) {
  std::istringstream in(slurp(file));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(WebStubQueueTest, TakesAnswersOnceInNameOrderAndKeepsThemInServed) {
  test::TempRoot dir;
  const fs::path q = dir.path() / "CMD_IMP";
  put(q / "002.txt", "second");
  put(q / "001.txt", "first");
  put(q / ".003.txt", "being written");
  fs::create_directories(q / "subfolder");
  std::string name, bytes, error;
  ASSERT_TRUE(take_answer(q, name, bytes, error));
  EXPECT_EQ(name, "001.txt");
  EXPECT_EQ(bytes, "first");
  put(q / "001.txt", "again");  // the same name queued once more
  ASSERT_TRUE(take_answer(q, name, bytes, error));
  EXPECT_EQ(bytes, "again");
  ASSERT_TRUE(take_answer(q, name, bytes, error));
  EXPECT_EQ(bytes, "second");
  EXPECT_FALSE(take_answer(q, name, bytes, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(slurp(q / "served" / "001.txt"), "first");
  EXPECT_EQ(slurp(q / "served" / "001.txt.1"), "again");
  EXPECT_EQ(slurp(q / "served" / "002.txt"), "second");
}

class WebStubTest : public ::testing::Test {
 protected:
  WebStubTest() {
    options.docroot = dir.path() / "Comandas";
    options.port = 0;
  }
  Reply get(std::string_view command, std::string_view page = "/Comandas/GET_KAVCMD.php") {
    return stub().handle(page, {{"COMANDO", std::string(command)}});
  }
  WebStub& stub() {
    if (!stub_) {
      stub_ = std::make_unique<WebStub>(options);
      EXPECT_TRUE(stub_->prepare()) << stub_->error();
    }
    return *stub_;
  }
  fs::path queue() const { return options.docroot / "queue"; }

  test::TempRoot dir;
  Options options;
  std::unique_ptr<WebStub> stub_;
};

// One seller line of an exported KAVCMD.TXT.
const std::string kSellerLine = "VENDEDO;000001;" + std::string(60, ' ') + ";\n";

TEST_F(WebStubTest, HandsOutQueuedAnswersInOrderThenTheEndMarkerAndLogsEveryRequest) {
  const std::string answer = record::cp1252("<0012><000345><Salão><04><João>\r\n<0012><000101><Filé>");
  stub();
  put(queue() / "CMD_IMP" / "001.txt", answer);
  put(queue() / "CMD_IMP" / "002.txt", "<0013>");
  put(queue() / "CMD_FEC" / "001.txt", "<0014>");

  EXPECT_EQ(get("CMD_IMP").body, answer);  // the exact bytes
  EXPECT_EQ(get("CAN_ITE").body, "<0000>");
  EXPECT_EQ(get("CMD_IMP", "/comandas/get_kavcmd.PHP").body, "<0013>");
  EXPECT_EQ(get("CMD_IMP").body, "<0000>");
  EXPECT_EQ(get("CMD_IMP").body, "<0000>");
  EXPECT_EQ(get("CMD_FEC").body, "<0014>");
  EXPECT_EQ(get("CMD_XXX").status, 404);
  EXPECT_EQ(get("cmd_imp").status, 404);
  EXPECT_EQ(stub().handle("/Comandas/GET_KAVCMD.php", {}).status, 404);
  EXPECT_EQ(get("CMD_IMP", "/Comandas/OTHER.php").status, 404);

  const auto log = lines_of(queue() / "requests.log");
  ASSERT_EQ(log.size(), 10u);
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (\d{3}) (\S+) (\S+) (\S+))");
  std::vector<std::string> seen;
  for (const auto& l : log) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << l;
    seen.push_back(m[1].str() + " " + m[2].str() + " " + m[3].str() + " " + m[4].str());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "200 GET_KAVCMD.php CMD_IMP 001.txt", "200 GET_KAVCMD.php CAN_ITE <0000>",
                      "200 GET_KAVCMD.php CMD_IMP 002.txt", "200 GET_KAVCMD.php CMD_IMP <0000>",
                      "200 GET_KAVCMD.php CMD_IMP <0000>", "200 GET_KAVCMD.php CMD_FEC 001.txt",
                      "404 GET_KAVCMD.php CMD_XXX unknown-command", "404 GET_KAVCMD.php cmd_imp unknown-command",
                      "404 GET_KAVCMD.php - unknown-command", "404 /Comandas/OTHER.php - not-found"}));
}

TEST_F(WebStubTest, ImportPageHandsTheDocumentFolderToTheImport) {
  EXPECT_EQ(stub().handle("/Comandas/WRT_KAVCMD.php", {}).body, "ERRO: FILES/KAVCMD.TXT nao encontrado\n");
  put(options.docroot / "files" / "kavcmd.txt", kSellerLine);
  EXPECT_EQ(stub().handle("/Comandas/WRT_KAVCMD.php", {}).body, "OK: 1 vendedores, 0 produtos\n");

  fs::path seen;
  options.import = [&seen](const fs::path& docroot) {
    seen = docroot;
    return ImportResult{"imported\n", "2 lines"};
  };
  stub_.reset();
  EXPECT_EQ(stub().handle("/Comandas/WRT_KAVCMD.php", {}).body, "imported\n");
  EXPECT_EQ(seen, options.docroot);
  const auto log = lines_of(queue() / "requests.log");
  ASSERT_EQ(log.size(), 3u);
  EXPECT_NE(log[1].find(" 200 WRT_KAVCMD.php - KAVCMD.TXT-1-vendedores-0-produtos"), std::string::npos) << log[1];
  EXPECT_NE(log[2].find(" 200 WRT_KAVCMD.php - 2_lines"), std::string::npos) << log[2];
}

TEST(WebStubProgramTest, ServesOnAFreeLoopbackPortPrintedFirstAndEndsOnSigterm) {
  test::TempRoot dir;
  put(dir.path() / "q" / "CAN_ITE" / "001.txt", "<0012><0003>");
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string program = std::string(KAV_BIN_DIR) + "/kav-webstub";
  const std::string docroot = dir.str(), queue = (dir.path() / "q").string();
  std::vector<std::string> args{program, "--port", "0", "--docroot", docroot, "--queue", queue};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string first;
  for (char c; ::read(out[0], &c, 1) == 1 && c != '\n';) first += c;
  ::close(out[0]);

  const int port = std::stoi(first);
  httplib::Client client("127.0.0.1", port);
  auto res = client.Get("/Comandas/GET_KAVCMD.php?COMANDO=CAN_ITE");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, "<0012><0003>");
  res = client.Get("/Comandas/GET_KAVCMD.php?COMANDO=CAN_ITE");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->body, "<0000>");
  res = client.Get("/Comandas/nothing");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 404);

  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(lines_of(dir.path() / "q" / "requests.log").size(), 3u);
}

// The samples keep the field framing of the three answers.
TEST(WebStubSamplesTest, SamplesAreFramedAsTheAnswerLayoutsWantInWindows1252) {
  const std::string text = R"(<[^<>]{0,40}>)", obs = R"(<[^<>]{0,20}>)", qty = R"(<\d{6},\d{3}>)", val = R"(<\d{7},\d{2}>)";
  const std::string end = R"((\r\n)?)";
  const std::regex imp("<\\d{4}><\\d{6}>" + text + "<\\d{2}>" + obs + end + "(<\\d{4}><\\d{6}>" + text + qty + val + obs +
                       obs + end + ")+");
  const std::regex can("<\\d{4}><\\d{4}><\\d{6}>" + text + obs + obs + end);
  const std::regex fec("<\\d{4}><\\d{6}>" + text + "<\\d{2}>" + obs + obs + "<\\d{2}>" + end + "(<\\d{6}>" + text + qty +
                       val + end + ")+");
  const std::string imp_bytes = slurp(kSamples / "CMD_IMP" / "001.txt");
  const std::string can_bytes = slurp(kSamples / "CAN_ITE" / "001.txt");
  const std::string fec_bytes = slurp(kSamples / "CMD_FEC" / "001.txt");
  EXPECT_TRUE(std::regex_match(imp_bytes, imp));
  EXPECT_TRUE(std::regex_match(can_bytes, can));
  EXPECT_TRUE(std::regex_match(fec_bytes, fec));
  EXPECT_NE(imp_bytes.find("<COZINHA>"), std::string::npos);
  EXPECT_NE(imp_bytes.find("<BAR>"), std::string::npos);
  EXPECT_NE(imp_bytes.find(record::cp1252("Salão")), std::string::npos);  // one byte per accented letter
  // The sample bill: 2 x 12,50 and 0,350 x 40,00, service 10, 3 people, printer CAIXA.
  EXPECT_NE(fec_bytes.find("<03>"), std::string::npos);
  EXPECT_NE(fec_bytes.find("<CAIXA><10>"), std::string::npos);
  EXPECT_NE(fec_bytes.find("<000002,000><0000012,50>"), std::string::npos);
  EXPECT_NE(fec_bytes.find("<000000,350><0000040,00>"), std::string::npos);
}

// The order exchange end to end: the batch file as the system writes it,
// the command runner, GNU Wget and the stand-in on a loopback port.
TEST(WebExchangeTest, BatchFileRunsWgetAgainstTheStandInAndTheAnswerLandsUnderTheRoot) {
  test::RunnerRoot root;
  Options options;
  options.docroot = root.path() / "xampp" / "htdocs" / "Comandas";
  options.queue = root.path() / "queue";
  options.port = 0;
  WebStub stub(options);
  const int port = stub.start();
  ASSERT_GT(port, 0) << stub.error();
  fs::copy(kSamples / "CMD_FEC" / "001.txt", root.path() / "queue" / "CMD_FEC" / "001.txt");
  const std::string host = "127.0.0.1:" + std::to_string(port);
  auto runner = platform::make_command_runner(*root.files, {std::chrono::seconds(20), ""});

  const std::string del = test::blank_filled("CMD.EXE /C DEL C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET /Q", 8192);
  const std::string run = test::blank_filled("CMD.EXE /C C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat", 8192);
  const fs::path answer = root.temp() / "GET_KAVCMD.RET";
  root.put_batch("C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat", {test::get_batch_record(host, "CMD_FEC")});
  EXPECT_EQ(runner->run(del, 0).result_number(), 0);
  EXPECT_EQ(runner->run(run, 0).result_number(), 0);
  EXPECT_EQ(slurp(answer), slurp(kSamples / "CMD_FEC" / "001.txt"));
  EXPECT_EQ(runner->run(del, 0).result_number(), 0);
  EXPECT_FALSE(fs::exists(answer));
  EXPECT_EQ(runner->run(run, 0).result_number(), 0);
  EXPECT_EQ(slurp(answer), "<0000>");

  // The import trigger's batch file leaves the page's answer in WGET.TXT of the work folder.
  put(options.docroot / "FILES" / "KAVCMD.TXT", kSellerLine);
  root.put_batch("C:\\OrbelaTeknovarium\\Temp\\OrbKavCmd.bat",
                 {test::blank_filled("\\OrbelaTeknovarium\\Kav\\WGET \"http://" + host +
                                         "/Comandas/WRT_KAVCMD.php\" --output-document=WGET.TXT --no-cache",
                                     200)});
  EXPECT_EQ(runner->run("CMD.EXE /C C:\\OrbelaTeknovarium\\Temp\\OrbKavCmd.bat", 0).result_number(), 0);
  EXPECT_EQ(slurp(root.temp() / "WGET.TXT"), "OK: 1 vendedores, 0 produtos\n");
  stub.stop();

  const auto log = lines_of(root.path() / "queue" / "requests.log");
  ASSERT_EQ(log.size(), 3u);
  EXPECT_NE(log[0].find(" 200 GET_KAVCMD.php CMD_FEC 001.txt"), std::string::npos) << log[0];
  EXPECT_NE(log[1].find(" 200 GET_KAVCMD.php CMD_FEC <0000>"), std::string::npos) << log[1];
  EXPECT_NE(log[2].find(" 200 WRT_KAVCMD.php "), std::string::npos) << log[2];
}

}  // namespace
}  // namespace kav::webstub
