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
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/application.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "platform/keyed_file.h"
#include "platform/platform.h"
#include "platform/print_service.h"
#include "ui/headless/headless_runtime.h"
#include "webstub/webstub.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace kav;
using Clock = std::chrono::steady_clock;

class NoPrinting final : public platform::PrintService {
 public:
  std::string open(std::string_view, std::string_view) override { return "00"; }
  std::string write(std::string_view, std::string_view) override { return "00"; }
  std::string close() override { return "00"; }
};

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One Wget call as a batch line would make it, without the interpreter.
bool bare_wget(const std::string& url, const std::string& answer, const std::string& folder) {
  std::vector<std::string> args{"/usr/bin/wget", url, "--output-document=" + answer, "--no-cache"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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

  std::string tmpl = (fs::temp_directory_path() / "kav-bench-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) return 1;
  const fs::path root = tmpl;
  for (const char* d : {"OrbelaTeknovarium/Temp", "OrbelaTeknovarium/KAV/Arquivos", "xampp/htdocs/Comandas/FILES"})
    fs::create_directories(root / d);
  fs::create_symlink("/usr/bin/wget", root / "OrbelaTeknovarium/KAV/WGET");

  webstub::Options options;
  options.docroot = root / "xampp/htdocs/Comandas";
  options.queue = root / "queue";
  options.port = 0;
  webstub::WebStub stub(options);
  const int port = stub.start();
  if (port <= 0) {
    std::fprintf(stderr, "kav-bench-check: the web stand-in did not start: %s\n", stub.error().c_str());
    return 1;
  }
  const std::string host = "127.0.0.1:" + std::to_string(port);

  const auto files = platform::make_os_file_system(root.string());
  const auto commands = platform::make_command_runner(*files);
  const auto keyed = platform::make_keyed_files(*files);
  platform::ManualClock clock(2019, 11, 27, 14, 38, 0);
  NoPrinting printing;
  platform::Platform services{*files, clock, *commands, printing, *keyed};
  app::Application application(services, host);
  ui::headless::VirtualPacer pacer(clock);

  const std::string temp = (root / "OrbelaTeknovarium/Temp").string();
  std::vector<double> checks, bare;
  int failures = 0;
  for (int i = 0; i < rounds + 2; ++i) {  // two rounds to warm up
    auto t = Clock::now();
    ui::headless::HeadlessRuntime runtime(application.forms(), *commands, pacer);
    runtime.run("90-COMANDAS");
    const double check_ms = ms_since(t);
    t = Clock::now();
    for (const char* command : {"CMD_IMP", "CAN_ITE", "CMD_FEC"}) {
      if (!bare_wget("http://" + host + "/Comandas/GET_KAVCMD.php?COMANDO=" + command, temp + "/BARE.RET", temp))
        ++failures;
    }
    const double bare_ms = ms_since(t);
    if (i >= 2) {
      checks.push_back(check_ms);
      bare.push_back(bare_ms);
    }
  }
  stub.stop();
  fs::remove_all(root);

  // The median, and the fastest round, which a busy machine disturbs least.
  const double c = median(checks), b = median(bare);
  const double c_min = *std::min_element(checks.begin(), checks.end());
  const double b_min = *std::min_element(bare.begin(), bare.end());
  std::printf("check with no work:    median %7.2f ms, fastest %7.2f ms (%d rounds)\n", c, c_min, rounds);
  std::printf("three bare Wget calls: median %7.2f ms, fastest %7.2f ms\n", b, b_min);
  std::printf("ratio: %.2fx (median), %.2fx (fastest)%s\n", b > 0 ? c / b : 0.0, b_min > 0 ? c_min / b_min : 0.0,
              failures ? "  (some bare calls failed)" : "");
  return 0;
}
