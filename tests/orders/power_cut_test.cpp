// Power cuts at every file operation of a check with work (an order for two
// printers, a cancellation, a bill), on an in-memory file system that keeps
// only what was synced. For each operation in turn the power goes right
// after it; the monitor starts again over what survived, with the spooler's
// jobs as they stood, and finishes. Every order whose bytes were in a synced
// file is printed, none twice, no ticket differs from an uncut run's, and
// the day's log keeps every line up to its last sync.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <optional>

#include "app/application.h"
#include "orders/fcomanda.h"
#include "platform/clock.h"
#include "platform/print/print_fakes.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"
#include "support/fake_web.h"
#include "support/fakes.h"
#include "ui/headless/headless_runtime.h"

namespace kav::orders {
namespace {

using record::cp1252;

struct Work {
  const char* command;
  std::string answer;
};
const std::vector<Work> kWork = {
    {"CMD_IMP", cp1252("<0012><000345><Mesa 05><04><João>\n"
                       "<0012><000101><Filé><000002,000><0000045,90><><COZINHA>\n"
                       "<0012><000201><Caipirinha><000003,000><0000018,50><><BAR>\n")},
    {"CAN_ITE", cp1252("<0012><0003><000201><Caipirinha><><BAR>\n")},
    {"CMD_FEC", "<0014><000001><Mesa><02><><CAIXA><10>\n<000100><A><000001,000><0000001,00>\n"},
};
constexpr std::string_view kLog = "\\ORBELATEKNOVARIUM\\LOGCMD_20191127.TXT";
// The check with work (at 5 s), two more in which the printers' finished
// jobs are taken in, and the way out.
constexpr std::int64_t kThreeChecks = 15500;

// The spooler outlives the monitor: the jobs handed over before the power
// went are still there after it. Its printers print at once.
class SpoolerOf final : public platform::print::PrinterOutlet {
 public:
  explicit SpoolerOf(test::FakeOutlet& spooler) : s_(spooler) {}
  bool refresh(const std::set<std::string>& job_printers, int first_job) override {
    const bool reached = s_.refresh(job_printers, first_job);
    unlisted_ = s_.unlisted();
    return reached;
  }
  platform::print::PrinterState printer(std::string_view name) const override { return s_.printer(name); }
  const std::vector<platform::print::JobInfo>& jobs() const override { return s_.jobs(); }
  platform::print::JobState job(std::string_view printer, int id) override { return s_.job(printer, id); }
  std::string job_name(int id) override { return s_.job_name(id); }
  platform::print::Delivery submit(const platform::print::TicketJob& job, std::string_view ticket) override {
    const platform::print::Delivery d = s_.submit(job, ticket);
    if (d.delivered()) s_.states[d.job_id] = platform::print::JobState::completed;
    return d;
  }

 private:
  test::FakeOutlet& s_;
};

// The monitor over `files` and the spooler, with the web application
// handing out the work from `first_work` on.
struct Monitor {
  Monitor(platform::MemoryFileSystem& f, test::FakeOutlet& spooler, std::size_t first_work)
      : files(f), web(files, commands),
        printing(files, clock, fcomanda_layout(), std::make_unique<SpoolerOf>(spooler), {}) {
    for (std::size_t i = first_work; i < kWork.size(); ++i) web.queue(kWork[i].command, kWork[i].answer);
  }
  void run_until(std::int64_t stop_ms) {
    app::Application application{services, "localhost"};
    ui::headless::VirtualPacer pacer{clock};
    ui::headless::HeadlessRuntime runtime{application.forms(), commands, pacer};
    runtime.at(stop_ms, [&] { runtime.click("Bt_Confirma8"); });
    runtime.run(app::kStartForm);
  }

  platform::MemoryFileSystem& files;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 0};
  test::FakeCommandRunner commands;
  test::FakeWeb web;
  kav::printing::SpoolingPrintService printing;
  test::NoKeyedFiles keyed;
  platform::Platform services{files, clock, commands, printing, keyed};
};

// What stood at the moment of a cut.
struct Cut {
  std::string operation;
  platform::MemoryFileSystem survivors;
  std::size_t handed_out = 0;  // answers with work the web application had handed out
  std::vector<test::FakeOutlet::Handed> printed;
  std::map<int, platform::print::JobState> jobs;
  int next_job = 1;
  std::string synced_log;  // the log as it stood at its last sync
  std::string log;         // the log as it stood
};

// Runs the check with the power cut after operation `cut_at` (none: never);
// returns how many operations the run made.
std::size_t run_with_cut(std::optional<std::size_t> cut_at, std::optional<Cut>& cut, test::FakeOutlet& spooler) {
  platform::MemoryFileSystem files;
  files.track_power_cuts();
  Monitor m(files, spooler, 0);
  std::size_t ops = 0, handed_out = 0;
  std::string synced_log;
  auto take = [&](std::string_view operation) {
    cut = Cut{std::string(operation), files.after_power_cut(), handed_out, spooler.handed, spooler.states,
              spooler.next_id, synced_log, files.contents(kLog)};
  };
  if (cut_at == std::size_t{0}) take("start");
  files.on_change = [&](std::string_view operation, std::string_view key) {
    if (operation == "put" && files.contents(key) != "<0000>") ++handed_out;
    if (operation == "sync" && key == kLog) synced_log = files.contents(kLog);
    if (++ops == cut_at) take(std::string(operation) + " " + std::string(key));
  };
  m.run_until(kThreeChecks);
  files.on_change = nullptr;
  if (!cut_at) take("end");
  return ops;
}

TEST(PowerCut, AtEveryFileOperationOfACheckWithWorkNothingKeptIsLostOrDoubled) {
  // The uncut run: its tickets, in the order they were handed over (the
  // order's two, the cancellation's, the bill's).
  test::FakeOutlet reference;
  std::optional<Cut> none;
  const std::size_t total = run_with_cut(std::nullopt, none, reference);
  ASSERT_EQ(reference.handed.size(), 4U);
  // At its end every ticket is on the disk as printed, without its job note.
  ASSERT_TRUE(none);
  std::vector<std::string> settled;
  for (const auto& folder : none->survivors.list("C:\\OrbelaTeknovarium\\Spool", true)) {
    for (const auto& name : none->survivors.list("C:\\OrbelaTeknovarium\\Spool\\" + folder, false)) {
      settled.push_back(folder + "\\" + name);
    }
  }
  std::sort(settled.begin(), settled.end());
  // The log is on the disk up to the monitor's end.
  const std::string& log = none->log;
  EXPECT_EQ(none->survivors.contents(kLog), log);
  EXPECT_NE(log.find("Comanda para pagamento"), std::string::npos);
  EXPECT_EQ(settled, (std::vector<std::string>{"BAR\\20191127-14380500-000002.TXT", "BAR\\20191127-14380501-000001.TXT",
                                               "CAIXA\\20191127-14380502-000001.TXT",
                                               "COZINHA\\20191127-14380500-000001.TXT"}));
  const std::vector<std::size_t> work_of = {0, 0, 1, 2};
  auto ticket_index = [&](const test::FakeOutlet::Handed& h) -> std::optional<std::size_t> {
    for (std::size_t i = 0; i < reference.handed.size(); ++i) {
      if (reference.handed[i].job.printer == h.job.printer && reference.handed[i].ticket == h.ticket) return i;
    }
    return std::nullopt;
  };

  std::size_t in_window = 0;
  for (std::size_t n = 0; n <= total; ++n) {
    test::FakeOutlet first_spooler;
    std::optional<Cut> cut;
    ASSERT_EQ(run_with_cut(n, cut, first_spooler), total) << "the run is the same every time";
    ASSERT_TRUE(cut);
    const std::string at = "cut after operation " + std::to_string(n) + " (" + cut->operation + ")";

    // The log kept every line it had at its last sync.
    EXPECT_EQ(cut->survivors.contents(kLog), cut->synced_log) << at;

    // What a restart finds: the surviving files, the spooler as it stood,
    // the web application handing out what it had not handed out yet.
    test::FakeOutlet spooler;
    spooler.handed = cut->printed;
    spooler.states = cut->jobs;
    spooler.next_id = cut->next_job;
    // Which answers were on the disk at the cut: whole in a file of Temp, or
    // as a ticket in the spool or in the spooler.
    std::vector<bool> kept(kWork.size());
    for (const auto& name : cut->survivors.list("C:\\OrbelaTeknovarium\\Temp", false)) {
      const std::string bytes = cut->survivors.contents("C:\\OrbelaTeknovarium\\Temp\\" + name);
      for (std::size_t w = 0; w < kWork.size(); ++w) kept[w] = kept[w] || bytes == kWork[w].answer;
    }
    for (const auto& folder : cut->survivors.list("C:\\OrbelaTeknovarium\\Spool", true)) {
      const std::string path = "C:\\OrbelaTeknovarium\\Spool\\" + folder;
      for (const auto& name : cut->survivors.list(path, false)) {
        for (std::size_t i = 0; i < reference.handed.size(); ++i) {
          if (cut->survivors.contents(path + "\\" + name) == reference.handed[i].ticket) kept[work_of[i]] = true;
        }
      }
    }
    for (const auto& h : cut->printed) {
      if (const auto i = ticket_index(h)) kept[work_of[*i]] = true;
    }
    {
      Monitor restarted(cut->survivors, spooler, cut->handed_out);
      restarted.run_until(kThreeChecks);
    }

    std::vector<int> times(reference.handed.size());
    for (const auto& h : spooler.handed) {
      const auto i = ticket_index(h);
      ASSERT_TRUE(i) << at << ": a ticket unlike the uncut run's on " << h.job.printer << ":\n" << h.ticket;
      ++times[*i];
    }
    std::vector<int> printed_of(kWork.size()), tickets_of(kWork.size());
    for (std::size_t i = 0; i < times.size(); ++i) {
      EXPECT_LE(times[i], 1) << at << ": ticket " << i << " printed twice";
      printed_of[work_of[i]] += std::min(times[i], 1);
      ++tickets_of[work_of[i]];
    }
    for (std::size_t w = 0; w < kWork.size(); ++w) {
      const bool handed_before = w < cut->handed_out;
      if (printed_of[w] == tickets_of[w]) continue;
      EXPECT_EQ(printed_of[w], 0) << at << ": answer " << w << " printed in part";
      EXPECT_TRUE(handed_before && !kept[w]) << at << ": answer " << w << " lost although kept";
      ++in_window;
    }
    // Nothing is left pending, nothing was taken for a damaged answer.
    for (const auto& name : cut->survivors.list("C:\\OrbelaTeknovarium\\Temp", false)) {
      EXPECT_FALSE(name.starts_with("KAVPEND") || name.starts_with("KAVFALHA")) << at << ": " << name;
    }
  }
  std::cout << "[ power cut ] " << total + 1 << " cut points (after each of " << total
            << " file operations, and before the first); " << in_window
            << " cut(s) fell between an answer's arrival and its synced copy" << std::endl;
  RecordProperty("cut_points", static_cast<int>(total + 1));
}

}  // namespace
}  // namespace kav::orders
