// kav-bench-printing: how long one check of the monitor takes when it prints,
// as a ratio to three bare GNU Wget calls against the same web server in the
// same run.
//
//   kav-bench-printing [--items N] [--printers P1,P2,...] [--runs N]
//
// Lays out a temporary root, starts the stand-in web application on a
// loopback port, and for each run queues one order of N items (default 2)
// spread over the printers named (default KAVTEST,KAVTEST2), then times the
// program's check from the fifth tick to the end of the order-processing
// form: the exchanges through the command interpreter and Wget, keeping the
// answer, the tickets in the spool and their hand-over to the real spooler,
// and the follow-up of the tickets of the run before. The baseline is three
// bare Wget calls of GET_KAVCMD.php answering the end marker. Prints the
// medians and their ratio.
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "log/log_form.h"
#include "orders/fcomanda.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "platform/keyed_file.h"
#include "platform/platform.h"
#include "platform/print_service.h"
#include "record/cp1252.h"
#include "ui/headless/headless_runtime.h"
#include "webstub/webstub.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace kav;
using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int run_wget(const std::string& url, const std::string& out) {
  std::string prog = "/usr/bin/wget", q = "-q", o = "--output-document=" + out, nc = "--no-cache", u = url;
  char* argv[] = {prog.data(), q.data(), u.data(), o.data(), nc.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, prog.c_str(), nullptr, nullptr, argv, environ) != 0) return -1;
  int st = 0;
  waitpid(pid, &st, 0);
  return st;
}

}  // namespace

int main(int argc, char** argv) {
  int items = 2, runs = 7;
  std::vector<std::string> printers = {"KAVTEST", "KAVTEST2"};
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i], v = argv[i + 1];
    if (a == "--items") items = std::max(1, std::atoi(v.c_str()));
    else if (a == "--runs") runs = std::max(1, std::atoi(v.c_str()));
    else if (a == "--printers") {
      printers.clear();
      for (std::size_t s = 0; s <= v.size();) {
        const std::size_t e = std::min(v.find(',', s), v.size());
        if (e > s) printers.push_back(v.substr(s, e - s));
        s = e + 1;
      }
    } else {
      std::fprintf(stderr, "usage: kav-bench-printing [--items N] [--printers P1,P2,...] [--runs N]\n");
      return 2;
    }
  }
  std::string tmpl = (fs::temp_directory_path() / "kav-bench-XXXXXX").string();
  const fs::path root = ::mkdtemp(tmpl.data());
  for (const char* d : {"OrbelaTeknovarium/Temp", "OrbelaTeknovarium/KAV/Arquivos", "xampp/htdocs/Comandas/FILES"}) {
    fs::create_directories(root / d);
  }
  fs::create_symlink("/usr/bin/wget", root / "OrbelaTeknovarium/KAV/WGET");

  webstub::Options options;
  options.docroot = root / "xampp/htdocs/Comandas";
  options.queue = root / "queue";
  options.port = 0;
  webstub::WebStub stub(options);
  const int port = stub.start();
  if (port <= 0) {
    std::fprintf(stderr, "kav-bench-printing: %s\n", stub.error().c_str());
    return 1;
  }
  const std::string host = "127.0.0.1:" + std::to_string(port);

  auto files = platform::make_os_file_system(root.string());
  platform::ManualClock clock(2019, 11, 27, 14, 38, 0);
  auto commands = platform::make_command_runner(*files);
  auto printing = platform::make_print_service(*files, clock, orders::fcomanda_layout(), [&](std::string_view text) {
    log::write_log_line(*files, clock, text);
  });
  auto keyed = platform::make_keyed_files(*files);
  platform::Platform platform{*files, clock, *commands, *printing, *keyed};

  std::vector<double> check_ms, wget_ms;
  for (int run = 0; run <= runs; ++run) {  // run 0 warms up
    char num[16];
    std::snprintf(num, sizeof num, "%04d", run + 1);
    std::string answer = std::string("<") + num + "><000345><Mesa 05><04><Garçom>\n";
    for (int i = 0; i < items; ++i) {
      char line[160];
      std::snprintf(line, sizeof line, "<%s><%06d><Item %d><000001,000><0000010,00><><%s>\n", num, i + 1, i + 1,
                    printers[static_cast<std::size_t>(i) % printers.size()].c_str());
      answer += line;
    }
    fs::create_directories(options.queue / "CMD_IMP");
    std::ofstream(options.queue / "CMD_IMP" / (std::string(num) + ".txt"), std::ios::binary) << record::cp1252(answer);

    app::Application application{platform, host};
    ui::headless::VirtualPacer pacer{clock};
    ui::headless::HeadlessRuntime runtime{application.forms(), *commands, pacer};
    Clock::time_point begun, ended;
    const std::int64_t base = clock.elapsed_ms();  // the virtual clock goes on from run to run
    runtime.at(base + 4999, [&] { begun = Clock::now(); });  // the fifth tick follows at 5000
    runtime.at(base + 5500, [&] { runtime.click("Bt_Confirma8"); });
    runtime.run(app::kStartForm);  // virtual time: after the check nothing takes real time
    ended = Clock::now();

    const auto w0 = Clock::now();
    for (int i = 0; i < 3; ++i) {
      run_wget("http://" + host + "/Comandas/GET_KAVCMD.php?COMANDO=CAN_ITE", (root / "bare.ret").string());
    }
    const auto w1 = Clock::now();
    if (run == 0) continue;
    check_ms.push_back(std::chrono::duration<double, std::milli>(ended - begun).count());
    wget_ms.push_back(std::chrono::duration<double, std::milli>(w1 - w0).count());
  }
  stub.stop();
  const double c = median(check_ms), w = median(wget_ms);
  std::printf("items %d, printers %zu, runs %d: check %.1f ms, three bare Wget calls %.1f ms, ratio %.2f\n", items,
              printers.size(), runs, c, w, w > 0 ? c / w : 0.0);
  std::error_code ignored;
  fs::remove_all(root, ignored);
  return 0;
}
