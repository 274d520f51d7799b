// kav-bench-check: what a check with no work costs beside the Wget calls it
// makes.
//
//   kav-bench-check [--rounds N]
//
// Starts the stand-in web application with nothing queued on a loopback
// port, lays out a temporary root with GNU Wget where the system expects it,
// and alternates, N times (default 40): one run of 90-COMANDAS (its three
// exchanges through the command interpreter stand-in) and three bare Wget
// calls with the same requests, started directly. Prints the median of each
// and their ratio.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/application.h"
#include "bench_support/bench_site.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "platform/keyed_file.h"
#include "platform/platform.h"
#include "platform/print_service.h"
#include "ui/headless/headless_runtime.h"

namespace {

namespace fs = std::filesystem;
using namespace kav;
using Clock = std::chrono::steady_clock;

class NoPrinting final : public platform::PrintService {
 public:
  explicit NoPrinting(platform::Clock& clock) : clock_(clock) {}
  std::string open(std::string_view, std::string_view) override { return "00"; }
  std::string write(std::string_view, std::string_view) override { return "00"; }
  std::string close() override { return "00"; }
  std::string new_work_id() override { return stamps_.next(platform::stamp_now(clock_)); }

 private:
  platform::Clock& clock_;
  platform::StampSequence stamps_;
};

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}


}  // namespace

int main(int argc, char** argv) {
  int rounds = 40;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fputs("usage: kav-bench-check [--rounds N]\n", stderr);
      return 2;
    }
  }

  bench::Site site;
  if (!site.started()) {
    std::fprintf(stderr, "kav-bench-check: the web stand-in did not start: %s\n", site.stub->error().c_str());
    return 1;
  }
  const std::string host = site.host();

  const auto files = platform::make_os_file_system(site.root.str());
  const auto commands = platform::make_command_runner(*files);
  const auto keyed = platform::make_keyed_files(*files);
  platform::ManualClock clock(2019, 11, 27, 14, 38, 0);
  NoPrinting printing(clock);
  platform::Platform services{*files, clock, *commands, printing, *keyed};
  app::Application application(services, host);
  ui::headless::VirtualPacer pacer(clock);

  const std::string temp = site.temp();
  std::vector<double> checks, bare;
  int failures = 0;
  for (int i = 0; i < rounds + 2; ++i) {  // two rounds to warm up
    auto t = Clock::now();
    ui::headless::HeadlessRuntime runtime(application.forms(), *commands, pacer);
    runtime.run("90-COMANDAS");
    const double check_ms = ms_since(t);
    t = Clock::now();
    for (const char* command : {"CMD_IMP", "CAN_ITE", "CMD_FEC"}) {
      if (!bench::bare_wget("http://" + host + "/Comandas/GET_KAVCMD.php?COMANDO=" + command, temp + "/BARE.RET", temp))
        ++failures;
    }
    const double bare_ms = ms_since(t);
    if (i >= 2) {
      checks.push_back(check_ms);
      bare.push_back(bare_ms);
    }
  }

  // The median, and the fastest round, which a busy machine disturbs least.
  const double c = bench::median(checks), b = bench::median(bare);
  const double c_min = *std::min_element(checks.begin(), checks.end());
  const double b_min = *std::min_element(bare.begin(), bare.end());
  std::printf("check with no work:    median %7.2f ms, fastest %7.2f ms (%d rounds)\n", c, c_min, rounds);
  std::printf("three bare Wget calls: median %7.2f ms, fastest %7.2f ms\n", b, b_min);
  std::printf("ratio: %.2fx (median), %.2fx (fastest)%s\n", b > 0 ? c / b : 0.0, b_min > 0 ? c_min / b_min : 0.0,
              failures ? "  (some bare calls failed)" : "");
  return 0;
}
