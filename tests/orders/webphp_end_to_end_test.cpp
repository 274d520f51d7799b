// The monitor against the PHP stand-in of the web application on Apache:
// real processes throughout (Apache with PHP started by
// tools/standins/webphp/kav-webphp.sh, the command interpreter stand-in, GNU Wget,
// the application), as a restaurant's machine runs them. Where Apache with
// PHP cannot run, every test here skips and says why.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/application.h"
#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"
#include "export/exporta_form.h"
#include "log/log_form.h"
#include "orders/fcomanda.h"
#include "platform/clock.h"
#include "platform/command/runner_root.h"
#include "platform/command_runner.h"
#include "platform/keyed/keyed_writer.h"
#include "platform/keyed_file.h"
#include "platform/print/print_fakes.h"
#include "printing/spooling_print_service.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/erp_records.h"
#include "support/fakes.h"
#include "support/quirky_answers.h"
#include "answer/answer_check.h"
#include "ui/headless/headless_runtime.h"
#include "webstub/import.h"
#include "webstub/webstub.h"

extern char** environ;

namespace kav::orders {
namespace {

namespace fs = std::filesystem;
using record::cp1252;

const fs::path kSamples = fs::path(KAV_SOURCE_DIR) / "tools" / "standins" / "webstub" / "samples";

// Apache with PHP serving the PHP stand-in, started by its script in a
// process group of its own and stopped with SIGTERM to that group.
class PhpStandIn {
 public:
  PhpStandIn(const fs::path& docroot, const fs::path& queue, const fs::path& work) {
    const std::string script = std::string(KAV_SOURCE_DIR) + "/tools/standins/webphp/kav-webphp.sh";
    const std::string errors = (work.parent_path() / "kav-webphp.err").string();
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    std::vector<std::string> args{script, "--port", "0", "--docroot", docroot.string(),
                                  "--queue", queue.string(), "--workdir", work.string()};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, script.c_str(), &actions, &attr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(out[1]);

    // The first line is the port, once Apache answers; the script ends
    // instead when Apache cannot run.
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    while (pid_ > 0 && line.find('\n') == std::string::npos && ::poll(&p, 1, 60000) > 0) {
      char buf[64];
      const ssize_t n = ::read(out[0], buf, sizeof buf);
      if (n <= 0) break;
      line.append(buf, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
      port_ = 0;
      why_not_ = test::slurp(errors);
      stop();
    }
  }
  ~PhpStandIn() { stop(); }
  PhpStandIn(const PhpStandIn&) = delete;
  PhpStandIn& operator=(const PhpStandIn&) = delete;

  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::string& why_not() const { return why_not_; }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string why_not_;
};

// One HTTP/1.1 request on loopback; the whole reply as it came.
std::string http_get(int port, const std::string& target) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (::send(s, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
      char buf[4096];
      for (ssize_t n; (n = ::recv(s, buf, sizeof buf, 0)) > 0;) reply.append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(s);
  return reply;
}

// The body of a chunked reply, and the number of chunks it came in.
std::string dechunked(const std::string& reply, int& chunks) {
  chunks = 0;
  std::string body;
  std::size_t at = reply.find("\r\n\r\n");
  if (at == std::string::npos) return body;
  at += 4;
  for (;;) {
    const std::size_t eol = reply.find("\r\n", at);
    if (eol == std::string::npos) break;
    const std::size_t size = std::stoul(reply.substr(at, eol - at), nullptr, 16);
    if (size == 0) break;
    body += reply.substr(eol + 2, size);
    ++chunks;
    at = eol + 2 + size + 2;
  }
  return body;
}

// A laid-out root with the application on real files and real processes;
// tickets are kept in its spool folders.
struct Site {
  Site() {
    // Apache's workers run as www-data when the tests run as root: they
    // must reach the folders under the temporary root.
    if (::geteuid() == 0) fs::permissions(root.path(), fs::perms(0755));
    fs::create_directories(queue());
  }
  fs::path docroot() const { return root.path() / "xampp" / "htdocs" / "Comandas"; }
  fs::path queue() const { return root.path() / "queue"; }

  void queue_answer(const std::string& command, const std::string& name, const std::string& bytes) const {
    fs::create_directories(queue() / command);
    std::ofstream(queue() / command / name, std::ios::binary) << bytes;
  }
  void queue_sample(const std::string& command) const {
    queue_answer(command, "001.txt", test::slurp(kSamples / command / "001.txt"));
  }

  // One check of the monitor against `host`.
  void one_check(const std::string& host) {
    platform::Platform platform{*root.files, clock, *commands, service, keyed};
    app::Application application{platform, host};
    ui::headless::VirtualPacer pacer{clock};
    ui::headless::HeadlessRuntime runtime{application.forms(), *commands, pacer};
    runtime.record_everything();
    // Each check of a site begins where the clock stands.
    runtime.at(runtime.now_ms() + 5500, [&] { runtime.click("Bt_Confirma8"); });
    runtime.run(app::kStartForm);
  }

  // Every ticket, by printer folder and file name, as it was spooled.
  std::map<std::string, std::string> tickets() const {
    std::map<std::string, std::string> out;
    const fs::path spool = root.path() / "OrbelaTeknovarium" / "Spool";
    if (!fs::exists(spool)) return out;
    for (const auto& e : fs::recursive_directory_iterator(spool)) {
      // Tickets only, not the notes of jobs handed to a printer.
      if (e.is_regular_file() && e.path().extension() != ".job")
        out[fs::relative(e.path(), spool).string()] = test::slurp(e.path());
    }
    return out;
  }
  std::vector<std::string> printers() const {
    std::vector<std::string> out;
    const fs::path spool = root.path() / "OrbelaTeknovarium" / "Spool";
    if (fs::exists(spool)) {
      for (const auto& e : fs::directory_iterator(spool)) out.push_back(e.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string log() const { return test::slurp(root.path() / "OrbelaTeknovarium" / "LOGCMD_20191127.txt"); }
  std::size_t kept_aside() const {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(root.path() / "OrbelaTeknovarium" / "Temp")) {
      n += e.path().filename().string().starts_with("KAVFALHA-") ? 1 : 0;
    }
    return n;
  }
  std::size_t log_count(const std::string& text) const {
    std::size_t n = 0;
    const std::string l = log();
    for (auto at = l.find(text); at != std::string::npos; at = l.find(text, at + 1)) ++n;
    return n;
  }

  test::RunnerRoot root;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 0};
  std::unique_ptr<platform::CommandRunner> commands =
      platform::make_command_runner(*root.files, {std::chrono::seconds(20), ""});
  test::FakeOutlet* outlet = new test::FakeOutlet;
  kav::printing::SpoolingPrintService service{
      *root.files, clock, fcomanda_layout(), std::unique_ptr<platform::print::PrinterOutlet>(outlet),
      [this](std::string_view text) { log::write_log_line(*root.files, clock, text); }};
  test::NoKeyedFiles keyed;
};

struct WebPhpEndToEnd : ::testing::Test {
  Site site;
};

// Starts Apache for a site, or skips the test where it cannot run.
#define START_OR_SKIP(php, s)                                                                       \
  auto php = std::make_unique<PhpStandIn>((s).docroot(), (s).queue(), (s).root.path() / "webphp"); \
  if (php->port() == 0) GTEST_SKIP() << "Apache with PHP cannot run here: " << php->why_not()

TEST_F(WebPhpEndToEnd, AnOrderACancellationAndABillPrintAsWithTheCppStandIn) {
  Site cpp;
  for (Site* s : {&site, &cpp}) {
    s->queue_sample("CMD_IMP");
    s->queue_sample("CAN_ITE");
    s->queue_sample("CMD_FEC");
  }
  START_OR_SKIP(php, site);
  site.one_check(php->host());
  php->stop();

  webstub::Options options;
  options.docroot = cpp.docroot();
  options.queue = cpp.queue();
  options.port = 0;
  webstub::WebStub stub(options);
  const int port = stub.start();
  ASSERT_GT(port, 0) << stub.error();
  cpp.one_check("127.0.0.1:" + std::to_string(port));
  stub.stop();

  const auto tickets = site.tickets();
  EXPECT_EQ(site.printers(), (std::vector<std::string>{"BAR", "CAIXA", "COZINHA"}));
  EXPECT_EQ(tickets.size(), 4U);  // two item tickets, a cancellation, a bill
  EXPECT_EQ(tickets, cpp.tickets());
  EXPECT_EQ(site.log(), cpp.log());
  EXPECT_EQ(site.log_count("Texto ignorado"), 0U);
  // Every answer was handed out once, and every command asked until the end marker.
  for (const char* command : {"CMD_IMP", "CAN_ITE", "CMD_FEC"}) {
    EXPECT_TRUE(fs::exists(site.queue() / command / "served" / "001.txt")) << command;
  }
}

TEST_F(WebPhpEndToEnd, RepliesCarryPhpsOwnHeadersAndComeInChunks) {
  site.queue_sample("CMD_FEC");
  START_OR_SKIP(php, site);
  const std::string reply = http_get(php->port(), "/Comandas/GET_KAVCMD.php?COMANDO=CMD_FEC");
  const std::string head = reply.substr(0, reply.find("\r\n\r\n"));
  EXPECT_NE(head.find("HTTP/1.1 200 OK"), std::string::npos) << head;
  EXPECT_NE(head.find("Content-Type: text/html; charset=UTF-8"), std::string::npos) << head;
  EXPECT_NE(head.find("X-Powered-By: PHP/"), std::string::npos) << head;
  EXPECT_NE(head.find("Transfer-Encoding: chunked"), std::string::npos) << head;
  int chunks = 0;
  EXPECT_EQ(dechunked(reply, chunks), test::slurp(kSamples / "CMD_FEC" / "001.txt"));
  EXPECT_GE(chunks, 3);  // a line at a time

  // The same kind of reply through Wget: the bill comes out.
  site.queue_sample("CMD_FEC");
  site.one_check(php->host());
  EXPECT_EQ(site.printers(), (std::vector<std::string>{"CAIXA"}));
  EXPECT_EQ(site.log_count(cp1252("Total da Conta")), 0U);  // nothing of the ticket goes to the log
  EXPECT_EQ(site.log_count("Imprimir Comanda para pagamento = 0012"), 1U);
}

TEST_F(WebPhpEndToEnd, AWarningBeforeTheAnswerIsLoggedAndTheOrderPrintedOnce) {
  // PHP shows the warning as HTML before the answer (display_errors and
  // html_errors on, as on a development install).
  site.queue_answer("CMD_IMP", "001.php",
                    "<?php echo $mesa_sem_valor; ?>\n" + test::slurp(kSamples / "CMD_IMP" / "001.txt"));
  START_OR_SKIP(php, site);
  site.one_check(php->host());
  php->stop();

  EXPECT_EQ(site.printers(), (std::vector<std::string>{"BAR", "COZINHA"}));
  EXPECT_EQ(site.tickets().size(), 2U);
  EXPECT_EQ(site.log_count("Imprimir itens da Comanda = 0012"), 1U);
  EXPECT_EQ(site.log_count("Texto ignorado em CMD_IMP: Warning: Undefined variable $mesa_sem_valor in /"), 1U)
      << record::to_utf8(site.log());
  EXPECT_EQ(site.log_count("br /"), 0U);
}

TEST_F(WebPhpEndToEnd, APageThatDiesHalfwayPrintsNothingOfItsOrder) {
  const std::string items = test::slurp(kSamples / "CMD_IMP" / "001.txt");
  const std::size_t third = items.find(cp1252("<0012><000201>"));
  ASSERT_NE(third, std::string::npos);
  // A fatal error inside the third item's description, and one after the
  // first item of a bill, at a line end.
  site.queue_answer("CMD_IMP", "001.php",
                    items.substr(0, third) + "<0012><000201><Caipi<?php kav_falha(); ?>nha>\n");
  site.queue_answer("CMD_FEC", "001.php",
                    "<0077><000345><Mesa 9><02><><CAIXA><10>\n<000101><Bolo><000001,000><0000010,00>\n"
                    "<?php throw new Exception('falha'); ?>\n<000102><Torta><000001,000><0000012,00>\n");
  site.queue_sample("CMD_FEC");
  START_OR_SKIP(php, site);
  site.one_check(php->host());
  php->stop();

  // Only the sound bill was printed.
  EXPECT_EQ(site.printers(), (std::vector<std::string>{"CAIXA"}));
  const auto tickets = site.tickets();
  ASSERT_EQ(tickets.size(), 1U);
  EXPECT_NE(tickets.begin()->second.find("COMANDA 0012"), std::string::npos);
  EXPECT_EQ(site.log_count(cp1252("Resposta CMD_IMP incompleta, Comanda = 0012 não impressa !!!")), 1U);
  EXPECT_EQ(site.log_count(cp1252("Resposta CMD_FEC incompleta, Comanda = 0077 não impressa !!!")), 1U);
  EXPECT_EQ(site.log_count("Texto ignorado em CMD_IMP: Fatal error: Uncaught Error: Call to undefined function "
                           "kav_falha()"),
            1U)
      << record::to_utf8(site.log());
  EXPECT_EQ(site.log_count("Texto ignorado em CMD_FEC: Fatal error: Uncaught Exception: falha in /"), 1U);
  EXPECT_EQ(site.log_count("Imprimir itens"), 0U);
  EXPECT_EQ(site.log_count("Imprimir Comanda para pagamento = 0012"), 1U);
}

// The quirky answers as a XAMPP-like PHP serves them (display_errors on,
// html_errors on, or off where the page says so, default_charset UTF-8):
// each prints what the page meant, or is kept aside and alerted, as the
// order form on the fake platform and the checker say.
TEST_F(WebPhpEndToEnd, QuirkyAnswersAsAPhpSiteServesThem) {
  START_OR_SKIP(php, site);
  int n = 0;
  for (const auto& q : test::quirky_answers()) {
    SCOPED_TRACE(q.name);
    char name[16];
    std::snprintf(name, sizeof name, "%03d.%s", ++n, q.php.empty() ? "txt" : "php");
    site.queue_answer(q.command, name, q.php.empty() ? q.bytes : q.php);
    const auto before = site.tickets();
    const auto kept_before = site.kept_aside();
    site.one_check(php->host());
    std::vector<std::string> printers;
    for (const auto& [path, text] : site.tickets()) {
      if (before.count(path) == 0) printers.push_back(path.substr(0, path.find('/')));
    }
    EXPECT_EQ(printers.size(), q.printers.size());
    std::vector<std::string> expected;
    for (const auto& p : q.printers) expected.push_back(record::to_utf8(p));  // folder names, UTF-8 on the host
    std::sort(expected.begin(), expected.end());
    std::sort(printers.begin(), printers.end());
    EXPECT_EQ(printers, expected);
    EXPECT_EQ(site.kept_aside() - kept_before, q.printed ? 0U : 1U);
    if (q.php.empty()) {
      const answer::Verdict v = answer::check(q.command, q.bytes);
      EXPECT_EQ(v.tickets.size(), printers.size());
      EXPECT_EQ(v.refused, !q.printed);
    }
  }
}

// The item page failing with HTTP 500 while a bill waits: the bill prints in
// the same check, and the item page is asked again at the next.
TEST_F(WebPhpEndToEnd, AnItemPageAnsweringHttp500DoesNotHoldTheBill) {
  site.queue_answer("CMD_IMP", "001.php", "<?php http_response_code(500); echo 'Erro interno'; ?>");
  site.queue_answer("CMD_IMP", "002.php", "<?php http_response_code(500); echo 'Erro interno'; ?>");
  site.queue_sample("CMD_FEC");
  START_OR_SKIP(php, site);
  site.one_check(php->host());
  EXPECT_EQ(site.printers(), (std::vector<std::string>{"CAIXA"}));
  EXPECT_EQ(site.log_count(cp1252("Falha na consulta CMD_IMP: o servidor respondeu com erro (página ausente ou com falha) !!!")), 1U);
  site.one_check(php->host());
  php->stop();
  EXPECT_EQ(site.log_count(cp1252("Falha na consulta CMD_IMP: o servidor respondeu com erro (página ausente ou com falha) !!!")), 2U);
  EXPECT_EQ(site.tickets().size(), 1U);
  EXPECT_EQ(site.kept_aside(), 0U);
}

// ---- The import page

using test::product_record;
using test::seller_record;

TEST_F(WebPhpEndToEnd, TheExportsImportTriggerFillsThePhpStandInsTables) {
  START_OR_SKIP(php, site);
  auto erp = [&](const erpfiles::FileLayout& layout, const std::vector<std::string>& records) {
    const std::string path = site.root.files->host_path(layout.path);
    fs::remove(path);
    platform::keyed::KeyedWriter w;
    ASSERT_EQ(w.open(path, true), "");
    ASSERT_TRUE(w.begin());
    for (const auto& r : records) ASSERT_TRUE(w.put(r.substr(0, layout.key_length), r));
    ASSERT_TRUE(w.commit());
  };
  erp(erpfiles::vendedo::kFile, {seller_record("000002", cp1252("João")), seller_record("000001", "Ana")});
  erp(erpfiles::produto::kFile,
      {product_record("000100", cp1252("Pão de queijo"), "000001500"), product_record("000200", "Cafe", "000000350")});

  auto keyed = platform::make_keyed_files(*site.root.files);
  platform::Platform platform{*site.root.files, site.clock, *site.commands, site.service, *keyed};
  log::LLink link;
  master_export::ExportaForm form(link, platform, php->host());
  log::LogForm log_form(link, *site.root.files, site.clock);
  form::FormSet forms;
  forms.add(form);
  forms.add(log_form);
  ui::headless::VirtualPacer pacer{site.clock};
  ui::headless::HeadlessRuntime runtime{forms, *site.commands, pacer};
  runtime.record_everything();
  runtime.run("01-EXPORTA");

  const fs::path tables = site.docroot() / webstub::kTablesFolder;
  EXPECT_EQ(test::slurp(site.root.temp() / "WGET.TXT"), "OK: 2 vendedores, 2 produtos\n");
  EXPECT_EQ(test::slurp(tables / webstub::kSellersTable), cp1252("000001;Ana\n000002;João\n"));
  EXPECT_EQ(test::slurp(tables / webstub::kProductsTable),
            cp1252("000100;EAN000100;Pão de queijo;00000001500\n000200;EAN000200;Cafe;00000000350\n"));
}

TEST_F(WebPhpEndToEnd, TheImportPageChecksTheLinesAsTheCppStandInDoes) {
  using record::padded;
  const std::string s = "VENDEDO;000001;" + padded(cp1252("João"), 60) + ";";
  const std::string p = "PRODUTO;000100;" + padded("789", 18) + ";" + padded(cp1252("Café"), 40) + ";00000000350;";
  std::string extra_separator = p, letter_in_price = p, no_separator = s;
  extra_separator[40] = ';';
  letter_in_price[80] = 'x';
  no_separator[14] = ' ';
  const std::vector<std::string> files = {
      padded(s, 200) + "\n" + p + "\r\n",
      s + "\nCLIENTE;000001;\n",
      s.substr(0, 70) + "\n",
      p + "\n" + extra_separator + "\n",
      letter_in_price + "\n",
      padded(s, 200) + " \n",
      s + "x\n",
      no_separator + "\n",
      s + "\n\n" + p,
      "",
  };
  const fs::path cpp_docroot = site.root.path() / "cpp";
  fs::create_directories(cpp_docroot / "FILES");
  fs::create_directories(site.docroot() / "FILES");
  START_OR_SKIP(php, site);
  for (const std::string& kavcmd : files) {
    std::ofstream(site.docroot() / "FILES" / "KAVCMD.TXT", std::ios::binary) << kavcmd;
    std::ofstream(cpp_docroot / "FILES" / "KAVCMD.TXT", std::ios::binary) << kavcmd;
    const webstub::ImportResult expected = webstub::import_exchange_file(cpp_docroot);
    int chunks = 0;
    std::string reply = http_get(php->port(), "/Comandas/WRT_KAVCMD.php");
    std::string body = reply.find("chunked") != std::string::npos ? dechunked(reply, chunks)
                                                                    : reply.substr(reply.find("\r\n\r\n") + 4);
    EXPECT_EQ(body, expected.answer) << record::to_utf8(kavcmd);
    for (const char* table : {webstub::kSellersTable, webstub::kProductsTable}) {
      EXPECT_EQ(test::slurp(site.docroot() / webstub::kTablesFolder / table),
                test::slurp(cpp_docroot / webstub::kTablesFolder / table))
          << table;
    }
  }
  // The request log's notes are the C++ stand-in's, too.
  const std::string requests = test::slurp(site.queue() / "requests.log");
  EXPECT_NE(requests.find(" 200 WRT_KAVCMD.php - KAVCMD.TXT-1-vendedores-1-produtos\n"), std::string::npos);
  EXPECT_NE(requests.find(" 200 WRT_KAVCMD.php - KAVCMD.TXT-rejected-line-2\n"), std::string::npos);
}

}  // namespace
}  // namespace kav::orders
