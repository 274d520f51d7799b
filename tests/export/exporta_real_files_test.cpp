// The export on real files: ERP files on SQLite, a record held locked by a
// second process (kav-erpfile lock), and the import through the command
// runner, GNU Wget and the stand-in web application on a loopback port.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "erpfiles/produto.h"
#include "erpfiles/vendedo.h"
#include "export/exporta_form.h"
#include "export/kavcmd_lines.h"
#include "log/log_form.h"
#include "platform/clock.h"
#include "platform/command/runner_root.h"
#include "platform/command_runner.h"
#include "platform/keyed/keyed_writer.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/erp_records.h"
#include "support/fake_platform.h"
#include "support/temp_root.h"
#include "ui/headless/headless_runtime.h"
#include "webstub/webstub.h"

extern char** environ;

namespace kav::master_export {
namespace {

namespace fs = std::filesystem;
using record::cp1252;

using test::product_record;
using test::seller_record;

// The export form and the log form on real files under a laid-out root.
struct RealRig {
  explicit RealRig(test::RunnerRoot& r, std::string web_host = "127.0.0.1:9")
      : root(r),
        keyed(platform::make_keyed_files(*root.files)),
        commands(platform::make_command_runner(*root.files, {std::chrono::seconds(20), ""})),
        fake(platform::ManualClock(2019, 11, 27, 14, 38, 5),
             {.files = root.files.get(), .commands = commands.get(), .keyed = keyed.get()}),
        form(link, fake.services, std::move(web_host)) {
    forms.add(form);
    forms.add(log_form);
  }

  std::string host(std::string_view windows_path) const { return root.files->host_path(windows_path); }

  // Replaces the ERP file's records.
  void erp(const erpfiles::FileLayout& layout, const std::vector<std::string>& records) const {
    const std::string path = host(layout.path);
    fs::remove(path);
    platform::keyed::KeyedWriter w;
    ASSERT_EQ(w.open(path, true), "");
    ASSERT_TRUE(w.begin());
    for (const auto& r : records) ASSERT_TRUE(w.put(r.substr(0, layout.key_length), r));
    ASSERT_TRUE(w.commit());
  }

  void run() {
    ui::headless::HeadlessRuntime runtime{forms, *commands, pacer};
    runtime.record_everything();
    runtime.run("01-EXPORTA");
    journal = runtime.journal();
  }
  std::vector<ui::headless::Event> events(std::string_view op) const {
    std::vector<ui::headless::Event> out;
    for (const auto& e : journal) {
      if (e.op == op) out.push_back(e);
    }
    return out;
  }

  std::vector<std::string> kavcmd_lines() const {
    std::vector<std::string> out;
    const std::string text = test::slurp(host(kKavcmdPath));
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = text.find('\n', start);
      out.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return out;
  }

  test::RunnerRoot& root;
  std::unique_ptr<platform::KeyedFiles> keyed;
  std::unique_ptr<platform::CommandRunner> commands;
  test::FakePlatform fake;
  platform::ManualClock& clock = fake.clock;
  log::LLink link;
  ExportaForm form;
  log::LogForm log_form{link, *root.files, clock};
  form::FormSet forms;
  ui::headless::VirtualPacer pacer{clock};
  std::vector<ui::headless::Event> journal;
};

// kav-erpfile holding one record locked from another process.
class LockHolder {
 public:
  LockHolder(const std::string& file, const std::string& key, int ms) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string program = std::string(KAV_BIN_DIR) + "/kav-erpfile";
    std::vector<std::string> args{program, "lock", file, key, std::to_string(ms)};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
  }
  ~LockHolder() {
    if (out_ >= 0) ::close(out_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  // The next line the holder prints ("locked", "released").
  std::string line() {
    std::string s;
    for (char c; ::read(out_, &c, 1) == 1 && c != '\n';) s += c;
    return s;
  }
  int wait() {
    int status = -1;
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return status;
  }

 private:
  pid_t pid_ = 0;
  int out_ = -1;
};

TEST(ExportaLockTest, ASellerLockedByAnotherProcessWaitsBehindFrmBloqAndIsExportedOnce) {
  test::RunnerRoot root;
  RealRig rig(root);
  rig.erp(erpfiles::vendedo::kFile,
          {seller_record("000001", "Ana"), seller_record("000002", "Bia"), seller_record("000003", "Caio"), seller_record("000004", "Duda")});
  rig.erp(erpfiles::produto::kFile, {product_record("000001", "Cafe", "000000350")});

  constexpr int kHoldMs = 400;
  LockHolder erp(rig.host(erpfiles::vendedo::kFile.path), "000003", kHoldMs);
  ASSERT_EQ(erp.line(), "locked");
  const auto started = std::chrono::steady_clock::now();
  rig.run();
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(erp.line(), "released");
  EXPECT_EQ(erp.wait(), 0);

  EXPECT_GE(waited, std::chrono::milliseconds(kHoldMs / 2));
  const auto lines = rig.kavcmd_lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].substr(0, 14), "VENDEDO;000001");
  EXPECT_EQ(lines[1].substr(0, 14), "VENDEDO;000002");
  EXPECT_EQ(lines[2].substr(0, 14), "VENDEDO;000003");
  EXPECT_EQ(lines[3].substr(0, 14), "VENDEDO;000004");
  EXPECT_EQ(lines[4].substr(0, 14), "PRODUTO;000001");

  std::vector<int> bloq;
  for (const auto& e : rig.journal) {
    if (e.op == "visible" && e.control == "Frm_Bloq") bloq.push_back(e.value);
  }
  EXPECT_EQ(bloq, (std::vector<int>{1, 0}));
}

// The whole road: ERP files, KAVCMD.TXT, OrbKavCmd.bat run by the command
// runner, GNU Wget, the stand-in's import page and its tables.
TEST(ExportaEndToEndTest, TheWebApplicationHoldsTheExportedSellersAndProducts) {
  test::RunnerRoot root;
  webstub::Options options;
  options.port = 0;
  options.docroot = root.path() / "xampp" / "htdocs" / "Comandas";
  options.queue = root.path() / "queue";
  webstub::WebStub stub(options);
  const int port = stub.start();
  ASSERT_GT(port, 0) << stub.error();
  RealRig rig(root, "127.0.0.1:" + std::to_string(port));
  const fs::path tables = options.docroot / webstub::kTablesFolder;

  rig.erp(erpfiles::vendedo::kFile, {seller_record("000002", cp1252("João")), seller_record("000001", "Ana")});
  rig.erp(erpfiles::produto::kFile,
          {product_record("000100", cp1252("Pão de queijo"), "000001500"), product_record("000200", "Cafe", "000000350")});
  rig.run();
  ASSERT_EQ(rig.events("message").size(), 1u);
  EXPECT_EQ(rig.events("message")[0].value, form::kStyleInformation);
  ASSERT_EQ(rig.events("command").size(), 1u);
  EXPECT_EQ(rig.events("command")[0].value, 0);  // Wget succeeded
  EXPECT_EQ(test::slurp(tables / webstub::kSellersTable), cp1252("000001;Ana\n000002;João\n"));
  EXPECT_EQ(test::slurp(tables / webstub::kProductsTable),
            cp1252("000100;EAN000100;Pão de queijo;00000001500\n000200;EAN000200;Cafe;00000000350\n"));
  EXPECT_EQ(test::slurp(root.temp() / "WGET.TXT"), "OK: 2 vendedores, 2 produtos\n");

  // A second export replaces the first, in the file and in the tables.
  rig.erp(erpfiles::vendedo::kFile, {});
  rig.erp(erpfiles::produto::kFile, {product_record("000300", "Agua", "000000200")});
  rig.run();
  EXPECT_EQ(rig.kavcmd_lines().size(), 1u);
  EXPECT_EQ(test::slurp(tables / webstub::kSellersTable), "");
  EXPECT_EQ(test::slurp(tables / webstub::kProductsTable), "000300;EAN000300;Agua;00000000200\n");
  EXPECT_EQ(test::slurp(root.temp() / "WGET.TXT"), "OK: 0 vendedores, 1 produtos\n");
  stub.stop();
}

}  // namespace
}  // namespace kav::master_export
