// kav-bench-year: what the monitor and kav-spool cost with a year of tickets
// in the spool, against what they cost with a day's, side by side in one run.
//
//   kav-bench-year [--days N] [--per-day N] [--runs N]
//
// Lays out two roots as a busy restaurant leaves them: one with a day's
// tickets (default 300, over four printers) and that day's log, one with N
// days of them (default 365: 109,500 tickets) and a log for each day. Every
// ticket is delivered (its printer finished it); those of earlier days are
// filed in their day's folder, as the monitor files them. Then, for each
// root, the two roots taking turns run by run (a busy moment of the machine
// falls on both alike):
//   - the reprint list: a running print service (its start done) lists the
//     200 newest tickets with what they print, as the window "Reimprimir"
//     opens it, and again, as it refreshes while open;
//   - a check with work: the program's check (00-MENU's fifth tick, the
//     order form with its exchanges through the command interpreter and
//     GNU Wget against the stand-in web application, one order of two
//     items on two printers kept in the spool and handed over), its CPU
//     time and its wall time; the printers are a stand-in that finishes
//     every job at once;
//   - `kav-spool list` (the program beside this one), its wall time and
//     the lines it writes.
// Prints medians, and the year's over the day's as ratios.
#include <sys/resource.h>
#include <sys/wait.h>
#include <spawn.h>
#include <fcntl.h>
#include <time.h>

#include <algorithm>
#include <ctime>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "bench/bench_site.h"
#include "bench/ready_printers.h"
#include "log/log_form.h"
#include "orders/fcomanda.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "platform/keyed_file.h"
#include "platform/platform.h"
#include "platform/print/outlet.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"
#include "ui/headless/headless_runtime.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace kav;
using Wall = std::chrono::steady_clock;

// "Today", the last day laid out: the system's (kav-spool reads its clock).
struct Today {
  int year, month, day;
};
Today today_now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}
const Today kToday = today_now();
const int kYear = kToday.year, kMonth = kToday.month, kDay = kToday.day;
const std::vector<std::string> kPrinters = {"COZINHA", "BAR", "CAIXA", "COPA"};

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double ms(Wall::time_point a, Wall::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

std::string two(int n) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", n);
  return b;
}

std::string ticket_text(int order, const std::string& printer, const std::string& day) {
  std::string t = "            *** COMANDA " + std::to_string(order) + " ***\n";
  t += day.substr(6, 2) + "/" + day.substr(4, 2) + "/" + day.substr(0, 4) + " 14:38\n";
  t += "Mesa 05                                 Pessoas :04\n";
  t += "Gar\xE7om                    " + printer + "\n";
  for (int i = 0; i < 6; ++i) t += "  Item de card\xE1pio n\xFAmero " + std::to_string(i + 1) + "\n      sem cebola\n";
  t += "------------------------------------------------\n";
  t += "        KavComanda - Orbela Teknovarium\n";
  return t;
}

// `days` days of `per_day` delivered tickets over the printers, the last
// one today, with a log for each day; earlier days' tickets filed.
void lay_out(const fs::path& root, int n_days, int per_day) {
  using namespace std::chrono;
  const sys_days today = year_month_day{year{kYear}, month{static_cast<unsigned>(kMonth)}, day{static_cast<unsigned>(kDay)}};
  const fs::path spool = root / "OrbelaTeknovarium/Spool";
  for (const auto& p : kPrinters) fs::create_directories(spool / p);
  for (int d = n_days - 1; d >= 0; --d) {
    const year_month_day ymd{today - std::chrono::days{d}};
    const std::string date = std::to_string(static_cast<int>(ymd.year())) + two(static_cast<int>(unsigned(ymd.month()))) +
                             two(static_cast<int>(unsigned(ymd.day())));
    for (int i = 0; i < per_day; ++i) {
      const int secs = 11 * 3600 + i * (8 * 3600 / per_day);  // 11:00 to 19:00
      const std::string stamp = date + "-" + two(secs / 3600) + two(secs / 60 % 60) + two(secs % 60) + "00";
      const std::string& printer = kPrinters[static_cast<std::size_t>(i) % kPrinters.size()];
      const fs::path folder = d == 0 ? spool / printer : spool / printer / date;
      if (i < static_cast<int>(kPrinters.size())) fs::create_directories(folder);
      std::ofstream(folder / (stamp + "-000001.txt"), std::ios::binary) << ticket_text(100 + i % 200, printer, date);
    }
    std::ofstream(root / "OrbelaTeknovarium" / ("LOGCMD_" + date + ".txt"), std::ios::binary)
        << date + " 1100 11:00:00 - Checando Comandas ...\n";
  }
}


// One print service over the root, its start done, as the monitor holds it.
std::unique_ptr<printing::SpoolingPrintService> service(platform::FileSystem& files, platform::Clock& clock) {
  printing::SpoolOptions options;
  options.hand_over = printing::HandOver::on_worker;
  auto s = std::make_unique<printing::SpoolingPrintService>(files, clock, orders::fcomanda_layout(),
                                                           std::make_unique<bench::ReadyPrinters>(),
                                                           [](std::string_view) {}, nullptr, options);
  s->follow_up();
  s->wait_for_hand_overs();
  return s;
}

// One root laid out, and what is measured on it, a run at a time.
struct Root {
  Root(int days, int per_day) {
    if (!site.started()) {
      std::fprintf(stderr, "kav-bench-year: %s\n", site.stub->error().c_str());
      std::exit(1);
    }
    const auto t0 = Wall::now();
    lay_out(site.root.path(), days, per_day);
    std::fprintf(stderr, "kav-bench-year: %d day(s) laid out in %.1f s\n", days, ms(t0, Wall::now()) / 1000);
    files = platform::make_os_file_system(site.root.str());
    commands = platform::make_command_runner(*files);
    keyed = platform::make_keyed_files(*files);
    printing = service(*files, clock);
  }

  // The reprint list: opened by a new print service, then refreshed.
  void reprint_list(bool kept) {
    auto s = service(*files, clock);
    const auto t0 = Wall::now();
    const auto first = s->recent(200);
    const auto t1 = Wall::now();
    const auto again = s->recent(200);
    const auto t2 = Wall::now();
    if (first.size() != 200 || again.size() != 200) std::fprintf(stderr, "kav-bench-year: list of %zu\n", first.size());
    if (!kept) return;  // warms the caches
    list_open.push_back(ms(t0, t1));
    list_refresh.push_back(ms(t1, t2));
  }

  // A check with one order of two items, through the held print service.
  void check(int run, bool kept) {
    const std::string num = std::to_string(1000 + run);
    std::string answer = "<" + num + "><000345><Mesa 05><04><Gar\xE7om>\n";
    for (int i = 0; i < 2; ++i) {
      answer += "<" + num + "><00000" + std::to_string(i + 1) + "><Item " + std::to_string(i + 1) +
                "><000001,000><0000010,00><><" + kPrinters[static_cast<std::size_t>(i)] + ">\n";
    }
    fs::create_directories(site.options.queue / "CMD_IMP");
    std::ofstream(site.options.queue / "CMD_IMP" / (num + ".txt"), std::ios::binary) << answer;

    platform::Platform platform{*files, clock, *commands, *printing, *keyed};
    app::Application application{platform, site.host()};
    ui::headless::VirtualPacer pacer{clock};
    ui::headless::HeadlessRuntime runtime{application.forms(), *commands, pacer};
    double cpu0 = 0, cpu1 = 0;
    Wall::time_point w0, w1;
    const std::int64_t base = clock.elapsed_ms();
    runtime.at(base + 4999, [&] {
      printing->wait_for_hand_overs();  // the run before is done with
      w0 = Wall::now();
      cpu0 = cpu_seconds();
    });
    runtime.at(base + 5500, [&] {
      printing->wait_for_hand_overs();  // the check's tickets handed over
      cpu1 = cpu_seconds();
      w1 = Wall::now();
      runtime.click("Bt_Confirma8");
    });
    runtime.run(app::kStartForm);
    if (!kept) return;
    check_cpu.push_back((cpu1 - cpu0) * 1000);
    check_wall.push_back(ms(w0, w1));
  }

  // `kav-spool list` (the program beside this one), as the operator runs it.
  void spool_list(bool kept) {
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "kav-spool";
    const fs::path out = site.root.path() / "list.out";
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (!std::string_view(*e).starts_with("KAVCOMANDA_ROOT=")) env.emplace_back(*e);
    }
    env.push_back("KAVCOMANDA_ROOT=" + site.root.str());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string a0 = program.string(), a1 = "list";
    char* argv[] = {a0.data(), a1.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const auto t0 = Wall::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      std::fprintf(stderr, "kav-bench-year: %s not started\n", argv[0]);
      std::exit(1);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    const auto t1 = Wall::now();
    if (!kept) return;
    spool_list_ms.push_back(ms(t0, t1));
    std::ifstream in(out);
    spool_list_lines = 0;
    for (std::string line; std::getline(in, line);) ++spool_list_lines;
  }

  bench::Site site;
  platform::ManualClock clock{kYear, kMonth, kDay, 20, 0, 0};
  std::unique_ptr<platform::FileSystem> files;
  std::unique_ptr<platform::CommandRunner> commands;
  std::unique_ptr<platform::KeyedFiles> keyed;
  std::unique_ptr<printing::SpoolingPrintService> printing;
  std::vector<double> list_open, list_refresh, check_cpu, check_wall, spool_list_ms;
  long spool_list_lines = 0;
};

double ratio(double a, double b) { return b > 0 ? a / b : 0; }

}  // namespace

int main(int argc, char** argv) {
  int days = 365, per_day = 300, runs = 15;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const int v = std::max(1, std::atoi(argv[i + 1]));
    if (a == "--days") days = v;
    else if (a == "--per-day") per_day = v;
    else if (a == "--runs") runs = v;
    else {
      std::fprintf(stderr, "usage: kav-bench-year [--days N] [--per-day N] [--runs N]\n");
      return 2;
    }
  }
  Root day(1, per_day);
  Root year(days, per_day);
  // Run 0 of each warms the caches. Turn by turn: the day's, the year's.
  for (int run = 0; run <= runs; ++run) {
    for (Root* r : {&day, &year}) r->reprint_list(run > 0);
  }
  for (int run = 0; run <= runs; ++run) {
    for (Root* r : {&day, &year}) r->spool_list(run > 0);
  }
  for (int run = 0; run <= runs; ++run) {
    for (Root* r : {&day, &year}) r->check(run, run > 0);
  }
  std::printf("%-34s %12s %12s %8s\n", "", "a day", "a year", "ratio");
  const auto row = [](const char* what, const std::vector<double>& d, const std::vector<double>& y) {
    const double md = bench::median(d), my = bench::median(y);
    std::printf("%-34s %12.2f %12.2f %8.2f\n", what, md, my, ratio(my, md));
  };
  row("reprint list, opening (ms)", day.list_open, year.list_open);
  row("reprint list, refresh (ms)", day.list_refresh, year.list_refresh);
  row("check with one order, CPU (ms)", day.check_cpu, year.check_cpu);
  row("check with one order, wall (ms)", day.check_wall, year.check_wall);
  row("kav-spool list (ms)", day.spool_list_ms, year.spool_list_ms);
  row("kav-spool list (lines)", {static_cast<double>(day.spool_list_lines)},
      {static_cast<double>(year.spool_list_lines)});
  std::printf("(%d day(s) of %d tickets on %zu printers; medians of %d runs)\n", days, per_day, kPrinters.size(), runs);
  return 0;
}
