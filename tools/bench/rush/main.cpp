// kav-bench-rush: a rush, many distinct orders handed out at once, and how
// soon each one's ticket is kept in the spool.
//
//   kav-bench-rush [--orders N]
//
// Queues N orders (default 300) of one item each at the stand-in web
// application on a loopback port, then runs the program in real time
// (console mode's pace, the system clock) with GNU Wget and the command
// interpreter stand-in, its print service keeping tickets in a temporary
// spool and handing them to printers that finish every job at once. Prints
// the time from the moment the orders were queued (the program's start: its
// first check follows five seconds later) to each ticket kept: p50, p95 and
// the last, the checks it took, and the alerts of the day's log that blamed
// the web application for too many answers in a check.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/application.h"
#include "bench/bench_site.h"
#include "bench/ready_printers.h"
#include "orders/fcomanda.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "platform/keyed_file.h"
#include "platform/platform.h"
#include "platform/print/outlet.h"
#include "printing/spooling_print_service.h"
#include "ui/headless/headless_runtime.h"

namespace {

namespace fs = std::filesystem;
using namespace kav;

// Real time, as console mode paces the program.
class RealPacer final : public ui::headless::Pacer {
 public:
  std::int64_t now_ms() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
  }
  std::optional<std::string> wait(std::int64_t deadline_ms) override {
    const std::int64_t left = deadline_ms - now_ms();
    if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(left));
    return std::nullopt;
  }
  bool is_virtual() const override { return false; }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  int orders = 300;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--orders") {
      orders = std::max(1, std::atoi(argv[i + 1]));
    } else {
      std::fprintf(stderr, "usage: kav-bench-rush [--orders N]\n");
      return 2;
    }
  }
  bench::Site site;
  if (!site.started()) {
    std::fprintf(stderr, "kav-bench-rush: %s\n", site.stub->error().c_str());
    return 1;
  }
  fs::create_directories(site.options.queue / "CMD_IMP");
  for (int n = 1; n <= orders; ++n) {
    char head[64];
    std::snprintf(head, sizeof head, "<%04d><%06d><Mesa %d><02><>\n", n, n, n % 40);
    char item[128];
    std::snprintf(item, sizeof item, "<%04d><000100><Cafe><000001,000><0000003,50><><BAR>\n", n);
    char name[32];
    std::snprintf(name, sizeof name, "%05d.txt", n);
    std::ofstream(site.options.queue / "CMD_IMP" / name, std::ios::binary) << head << item;
  }
  const auto queued = fs::file_time_type::clock::now();

  auto files = platform::make_os_file_system(site.root.str());
  auto clock = platform::make_system_clock();
  auto commands = platform::make_command_runner(*files);
  printing::SpoolOptions options;
  options.hand_over = printing::HandOver::on_worker;
  printing::SpoolingPrintService printing(*files, *clock, orders::fcomanda_layout(), std::make_unique<bench::ReadyPrinters>(),
                                          [](std::string_view) {}, nullptr, options);
  auto keyed = platform::make_keyed_files(*files);
  platform::Platform platform{*files, *clock, *commands, printing, *keyed};
  app::Application application{platform, site.host()};
  RealPacer pacer;
  ui::headless::HeadlessRuntime runtime{application.forms(), *commands, pacer};

  const fs::path spool = site.root.path() / "OrbelaTeknovarium" / "Spool" / "BAR";
  const auto kept = [&] {
    std::size_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(spool, ec)) n += e.path().extension() == ".txt";
    return n;
  };
  std::function<void()> watch;
  std::int64_t at = 1000;
  watch = [&] {
    if (kept() >= static_cast<std::size_t>(orders) || at > 120'000) {
      runtime.click("Bt_Confirma8");
      return;
    }
    at += 250;
    runtime.at(at, watch);
  };
  runtime.at(at, watch);
  runtime.run(app::kStartForm);
  printing.finish();

  std::vector<double> seconds;
  for (const auto& e : fs::directory_iterator(spool)) {
    if (e.path().extension() != ".txt") continue;
    seconds.push_back(std::chrono::duration<double>(fs::last_write_time(e.path()) - queued).count());
  }
  int checks = 0, alerts = 0;
  for (const auto& e : fs::directory_iterator(site.root.path() / "OrbelaTeknovarium")) {
    if (!e.path().filename().string().starts_with("LOGCMD_")) continue;
    std::ifstream in(e.path(), std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      checks += line.find("Checando Comandas") != std::string::npos;
      // The alert that blames the web application for answers handed out again and again.
      alerts += line.find("respostas numa s") != std::string::npos && line.find("Resolvido") == std::string::npos;
    }
  }
  std::printf("%d orders at once: %zu tickets kept; from queued to kept: p50 %.1f s, p95 %.1f s, last %.1f s; "
              "%d checks; %d alert(s) blaming the web application\n",
              orders, seconds.size(), percentile(seconds, 0.5), percentile(seconds, 0.95),
              percentile(seconds, 1.0), checks, alerts);
  return 0;
}
