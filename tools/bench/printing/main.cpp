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
// answer, the tickets in the spool, and the follow-up of the tickets of the
// run before. The hand-over to the real spooler runs on the print service's
// worker thread beside the check, and so here beside the next run: checks
// follow each other more closely than the monitor's five seconds, so the
// spooler's own work weighs on the figures more than it would. The baseline
// is three bare Wget calls of GET_KAVCMD.php answering the end marker.
// Prints the medians and their ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "bench/bench_site.h"
#include "log/log_form.h"
#include "orders/fcomanda.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "platform/keyed_file.h"
#include "platform/platform.h"
#include "printing/print_service.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"
#include "ui/headless/headless_runtime.h"

namespace {

namespace fs = std::filesystem;
using namespace kav;
using Clock = std::chrono::steady_clock;


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
  bench::Site site;
  if (!site.started()) {
    std::fprintf(stderr, "kav-bench-printing: %s\n", site.stub->error().c_str());
    return 1;
  }
  const std::string host = site.host();

  auto files = platform::make_os_file_system(site.root.str());
  platform::ManualClock clock(2019, 11, 27, 14, 38, 0);
  auto commands = platform::make_command_runner(*files);
  auto printing = kav::printing::make_print_service(*files, clock, orders::fcomanda_layout(), [&](std::string_view text) {
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
    fs::create_directories(site.options.queue / "CMD_IMP");
    std::ofstream(site.options.queue / "CMD_IMP" / (std::string(num) + ".txt"), std::ios::binary) << record::cp1252(answer);

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
      bench::bare_wget("http://" + host + "/Comandas/GET_KAVCMD.php?COMANDO=CAN_ITE", "BARE.RET", site.temp());
    }
    const auto w1 = Clock::now();
    if (run == 0) continue;
    check_ms.push_back(std::chrono::duration<double, std::milli>(ended - begun).count());
    wget_ms.push_back(std::chrono::duration<double, std::milli>(w1 - w0).count());
  }
  const double c = bench::median(check_ms), w = bench::median(wget_ms);
  std::printf("items %d, printers %zu, runs %d: check %.1f ms, three bare Wget calls %.1f ms, ratio %.2f\n", items,
              printers.size(), runs, c, w, w > 0 ? c / w : 0.0);
  return 0;
}
