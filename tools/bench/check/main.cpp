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
//
//   kav-bench-check --window [N]
//
// Measures instead, N times (default 40), the window in which a power cut
// loses an order the web application handed out: from the end of the batch
// run that brought an answer with work (one order of three items) to the
// end of the folder sync that makes its pending copy durable. Prints its
// median and its longest.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/application.h"
#include "bench/bench_site.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "platform/keyed_file.h"
#include "platform/platform.h"
#include "printing/print_service.h"
#include "ui/headless/headless_runtime.h"

namespace {

namespace fs = std::filesystem;
using namespace kav;
using Clock = std::chrono::steady_clock;

class NoPrinting final : public platform::PrintService {
 public:
  explicit NoPrinting(platform::Clock& clock) : clock_(clock) {}
  platform::Status open(std::string_view, std::string_view) override { return {}; }
  platform::Status write(std::string_view, std::string_view) override { return {}; }
  platform::Status close() override { return {}; }
  std::string new_work_id() override { return stamps_.next(platform::stamp_now(clock_)); }

 private:
  platform::Clock& clock_;
  platform::StampSequence stamps_;
};

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The moment the first batch run of a check ended (the answer is there).
class TimedCommands final : public platform::CommandRunner {
 public:
  explicit TimedCommands(platform::CommandRunner& inner) : inner_(inner) {}
  platform::Status run(std::string_view line, int mode) override {
    platform::Status rc = inner_.run(line, mode);
    if (line.find("GET_KAVCMD.bat") != std::string_view::npos && !answered) answered = Clock::now();
    return rc;
  }
  std::optional<Clock::time_point> answered;

 private:
  platform::CommandRunner& inner_;
};

// The moment the first sync of Temp after a pending copy's rename ended.
class TimedFiles final : public platform::FileSystem {
 public:
  explicit TimedFiles(platform::FileSystem& inner) : inner_(inner) {}
  platform::Status open(std::string_view p, platform::OpenMode m, std::unique_ptr<platform::File>& f) override {
    return inner_.open(p, m, f);
  }
  platform::Status hold(std::string_view p, std::unique_ptr<platform::File>& f) override { return inner_.hold(p, f); }
  platform::Status remove(std::string_view p) override { return inner_.remove(p); }
  platform::Status rename(std::string_view from, std::string_view to) override {
    renamed_pending = renamed_pending || to.find("KAVPEND-") != std::string_view::npos;
    return inner_.rename(from, to);
  }
  bool exists(std::string_view p) override { return inner_.exists(p); }
  platform::Status create_directory(std::string_view p) override { return inner_.create_directory(p); }
  platform::Status remove_folder(std::string_view p) override { return inner_.remove_folder(p); }
  std::vector<std::string> list(std::string_view p, bool folders) override { return inner_.list(p, folders); }
  platform::Status sync_directory(std::string_view p) override {
    platform::Status st = inner_.sync_directory(p);
    if (renamed_pending && !kept) kept = Clock::now();
    return st;
  }
  std::string host_path(std::string_view p) override { return inner_.host_path(p); }
  bool renamed_pending = false;
  std::optional<Clock::time_point> kept;

 private:
  platform::FileSystem& inner_;
};

int measure_window(int rounds) {
  bench::Site site;
  if (!site.started()) return 1;
  const auto os_files = platform::make_os_file_system(site.root.str());
  const auto os_commands = platform::make_command_runner(*os_files);
  const auto keyed = platform::make_keyed_files(*os_files);
  platform::ManualClock clock(2019, 11, 27, 14, 38, 0);
  NoPrinting printing(clock);
  const std::string order =
      "<0012><000345><Mesa 05><04><Joao>\n<0012><000101><File><000002,000><0000045,90><><COZINHA>\n"
      "<0012><000201><Caipirinha><000003,000><0000018,50><><BAR>\n<0012><000301><Agua><000001,000><0000004,00><><BAR>\n";
  std::vector<double> windows;
  for (int i = 0; i < rounds + 2; ++i) {
    const fs::path queued = site.stub->queue_folder() / "CMD_IMP" / "001.txt";
    fs::create_directories(queued.parent_path());
    std::ofstream(queued, std::ios::binary) << order;
    TimedFiles files(*os_files);
    TimedCommands commands(*os_commands);
    platform::Platform services{files, clock, commands, printing, *keyed};
    app::Application application(services, site.host());
    ui::headless::VirtualPacer pacer(clock);
    ui::headless::HeadlessRuntime runtime(application.forms(), commands, pacer);
    runtime.run("90-COMANDAS");
    if (!commands.answered || !files.kept) {
      std::fputs("kav-bench-check: the order was not kept\n", stderr);
      return 1;
    }
    if (i >= 2) windows.push_back(std::chrono::duration<double, std::milli>(*files.kept - *commands.answered).count());
  }
  std::printf("answer arrived -> pending copy synced: median %.2f ms, longest %.2f ms (%d rounds)\n",
              bench::median(windows), *std::max_element(windows.begin(), windows.end()), rounds);
  return 0;
}


}  // namespace

int main(int argc, char** argv) {
  int rounds = 40;
  bool window = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--rounds" && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (std::string_view(argv[i]) == "--window") {
      window = true;
      if (i + 1 < argc && std::atoi(argv[i + 1]) > 0) rounds = std::atoi(argv[++i]);
    } else {
      std::fputs("usage: kav-bench-check [--rounds N] | --window [N]\n", stderr);
      return 2;
    }
  }
  if (window) return measure_window(rounds);

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
