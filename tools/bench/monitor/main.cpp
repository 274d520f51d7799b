// kav-bench-monitor: what a check of the monitor costs over a long run.
//
//   kav-bench-monitor [--days N] [--window]
//
// Runs the program's real forms (00-MENU, 90-COMANDAS, 99-LOG) for N
// simulated days (default 30) on a platform without work: the command lines
// do nothing, so every exchange finds no answer; files live in memory, and
// the day's log is emptied at every check so that only the program's own
// memory is measured. Console mode runs on the headless runtime's
// virtual clock, as console mode does but without waiting; --window runs the
// Qt runtime (offscreen unless QT_QPA_PLATFORM says otherwise) with every
// timer at its shortest. Prints the heap growth per check once the monitor's
// list is full, and the CPU time of a check with the list full against a
// check with the list nearly empty (medians, and means beside them).
#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/application.h"
#include "app/session.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "ui/headless/headless_runtime.h"
#ifdef KAV_WITH_QT
#include <QAbstractItemView>
#include <QApplication>
#include <QTimer>

#include "ui/qt/display.h"
#include "ui/qt/qt_runtime.h"
#endif

namespace {

using namespace kav;

class NoCommands final : public platform::CommandRunner {
 public:
  platform::Status run(std::string_view, int) override { return platform::Status(); }
};

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

class NoKeyed final : public platform::KeyedFiles {
 public:
  std::unique_ptr<platform::KeyedFile> file(std::string_view, std::size_t, std::size_t) override { return nullptr; }
};

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::size_t heap_bytes() { return mallinfo2().uordblks; }

// Counts the checks (openings of 90-COMANDAS) and takes the samples.
//
// Heap: from the check at which the list has long been full to the last one.
//
// CPU: the time from one check to the next (the ticks in between, the list's
// new row, the log form and the order-processing form), with the list nearly
// empty and with it at its bound. Without a way to resize the list (console
// mode) the samples come from the run as it goes: its first checks, then
// every check once the list is full. With one (window mode), the days' run is
// followed by short blocks of checks, alternately from an emptied list and
// from one filled to just under its bound, so that the load of other programs
// on a shared machine falls on both sets alike; the full blocks start at
// staggered sizes so that the oldest rows are dropped once every
// kListRowDrop checks, as in a full list. The median of each set is the
// headline figure, the mean beside it.
class Meter final : public form::Form {
 public:
  // Sets the monitor's list to `rows` rows (the newest kept).
  using Resize = std::function<void(int rows)>;

  Meter(form::Form& inner, long checks, std::function<void()> on_check)
      : inner_(inner), checks_(checks), on_check_(std::move(on_check)) {
    warm_ = form::kListRowLimit + 100 < checks / 2 ? form::kListRowLimit + 100 : checks / 2;
    // Room for every sample before the heap is first measured.
    empty_.reserve(static_cast<std::size_t>(std::max(kSpan, kPairs * kBlock)));
    full_.reserve(static_cast<std::size_t>(std::max(checks_, kPairs * kBlock)));
  }
  void set_resize(Resize resize) { resize_ = std::move(resize); }

  const form::FormDesign& design() const override { return inner_.design(); }
  void form_open(form::FormContext& ctx) override {
    ++count_;
    const double spent = cpu_seconds() - last_cpu_;
    if (!resize_) {
      if (count_ > kEmptyFrom && count_ <= kEmptyFrom + kSpan) empty_.push_back(spent);
      if (count_ > warm_) full_.push_back(spent);
    }
    if (count_ == warm_) heap_from_ = heap_bytes();
    if (count_ == checks_) heap_to_ = heap_bytes();
    on_check_();
    if (resize_ && count_ >= checks_) interleave(spent);
    last_cpu_ = cpu_seconds();
    inner_.form_open(ctx);
  }
  void form_close(form::FormContext& ctx) override { inner_.form_close(ctx); }
  void tick(form::FormContext& ctx, std::string_view t) override { inner_.tick(ctx, t); }
  void click(form::FormContext& ctx, std::string_view b) override { inner_.click(ctx, b); }
  void answer(form::FormContext& ctx, std::string_view q, bool yes) override { inner_.answer(ctx, q, yes); }

  bool done() const { return count_ >= checks_ + (resize_ ? 2 * kPairs * kBlock : 0); }
  void report(const char* mode) const {
    const long span = checks_ - warm_;
    const double per_check = span > 0 ? (static_cast<double>(heap_to_) - static_cast<double>(heap_from_)) / static_cast<double>(span) : 0;
    std::printf("%s: %ld checks (%.1f days); heap %+.3f KB per check over the last %ld checks (%zu -> %zu bytes)\n",
                mode, checks_, static_cast<double>(checks_) * 5 / 86400, per_check / 1024, span, heap_from_, heap_to_);
    if (empty_.empty() || full_.empty() || (!resize_ && warm_ < form::kListRowLimit)) return;
    const double full = median(full_), empty = median(empty_);
    const double full_mean = mean(full_), empty_mean = mean(empty_);
    const long under = resize_ ? kBlock + 1 : kEmptyFrom + kSpan;
    std::printf("%s: CPU per check %.1f us with the list at its bound (%d rows), %.1f us with under %ld rows: "
                "ratio %.2f (medians of %zu and %zu checks; means %.1f and %.1f us: %.2f)\n",
                mode, full * 1e6, form::kListRowLimit, empty * 1e6, under, empty > 0 ? full / empty : 0, full_.size(),
                empty_.size(), full_mean * 1e6, empty_mean * 1e6, empty_mean > 0 ? full_mean / empty_mean : 0);
  }

 private:
  static constexpr long kEmptyFrom = 10;
  static constexpr long kSpan = 300;
  static constexpr long kBlock = 50;
  static constexpr long kPairs = 40;
  static_assert(form::kListRowDrop % kBlock == 0);

  // At check checks_ + k: the sample of the check before goes to its block's
  // set; a new block starts from an emptied or a filled list.
  void interleave(double spent) {
    const long k = count_ - checks_;
    const long end = 2 * kPairs * kBlock;
    if (k > 0 && k <= end) (((k - 1) / kBlock) % 2 == 0 ? empty_ : full_).push_back(spent);
    if (k % kBlock != 0 || k >= end) return;
    const long block = k / kBlock;
    if (block % 2 == 0) {
      resize_(0);
    } else {
      // 1975, 1925, 1875, 1825 rows, and again: one drop per kListRowDrop checks.
      const long stagger = (block / 2) % (form::kListRowDrop / kBlock);
      resize_(static_cast<int>(form::kListRowLimit - kBlock / 2 - kBlock * stagger));
    }
  }

  static double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
  }
  static double mean(const std::vector<double>& v) {
    double sum = 0;
    for (const double x : v) sum += x;
    return v.empty() ? 0 : sum / static_cast<double>(v.size());
  }

  form::Form& inner_;
  long checks_;
  std::function<void()> on_check_;
  Resize resize_;
  long warm_ = 0;
  long count_ = 0;
  std::size_t heap_from_ = 0, heap_to_ = 0;
  double last_cpu_ = 0;
  std::vector<double> empty_, full_;
};

#ifdef KAV_WITH_QT
// Sets a list view's model to `rows` rows through the model's standard
// interface, so that any list widget will do: the oldest rows leave, or rows
// like the monitor's come in before the others.
void resize_list(QAbstractItemView& view, int rows) {
  QAbstractItemModel& model = *view.model();
  const int have = model.rowCount();
  if (rows < have) {
    model.removeRows(0, have - rows);
  } else if (rows > have) {
    model.insertRows(0, rows - have);
    for (int r = 0; r < rows - have; ++r) {
      model.setData(model.index(r, 0), QStringLiteral("14:38:05 - Checando Comandas ..."));
    }
  }
}
#endif

}  // namespace

int main(int argc, char** argv) {
  double days = 30;
  bool window = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--days" && i + 1 < argc) {
      days = std::atof(argv[++i]);
    } else if (arg == "--window") {
      window = true;
    } else {
      std::fprintf(stderr, "usage: kav-bench-monitor [--days N] [--window]\n");
      return 2;
    }
  }
  const long checks = static_cast<long>(days * 86400 / 5);
  if (checks < 2) return 2;

  int rc = 0;
  {
    const auto files = std::make_unique<platform::MemoryFileSystem>();
    platform::ManualClock clock(2019, 11, 27, 14, 38, 0);
    NoCommands commands;
    NoPrinting printing(clock);
    NoKeyed keyed;
    platform::Platform services{*files, clock, commands, printing, keyed};
    app::Application application(services, "localhost");
    app::Session session(application);
    form::Form& comandas = *session.forms().find("90-COMANDAS");
    Meter meter(comandas, checks, [&] {
      files->remove("C:\\OrbelaTeknovarium\\LOGCMD_20" + clock.date_yymmdd() + ".txt").ignore();
    });
    form::FormSet forms;
    for (form::Form* f : session.forms().all()) forms.add(f == &comandas ? meter : *f);

    if (!window) {
      ui::headless::VirtualPacer pacer(clock);
      ui::headless::HeadlessRuntime runtime(forms, commands, pacer);
      // Ends after the last check, as "Sair" would.
      std::function<void()> stop = [&] {
        if (meter.done()) {
          runtime.click("Bt_Confirma8");
        } else {
          runtime.at(runtime.now_ms() + 60'000, stop);
        }
      };
      runtime.at(60'000, stop);
      rc = runtime.run(app::kStartForm);
      meter.report("console");
    } else {
#ifdef KAV_WITH_QT
      if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
      ui::qt::prepare_toolkit_environment();
      QApplication qapp(argc, argv);
      ui::qt::QtRuntime runtime(forms, commands);
      runtime.set_time_scale(0);
      runtime.set_show_delay_ms(1'000'000);
      // Ends after the last check, as "Sair" would.
      runtime.set_form_shown_hook([&](std::string_view form, QWidget& shown) {
        if (form != app::kStartForm) return;
        if (auto* list = shown.findChild<QAbstractItemView*>(QStringLiteral("Lv_Proc"))) {
          meter.set_resize([list](int rows) { resize_list(*list, rows); });
        }
      });
      QTimer stopper;
      QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (meter.done()) runtime.request_stop();
      });
      stopper.start(100);
      rc = runtime.run(app::kStartForm);
      meter.report("window");
#else
      std::fprintf(stderr, "kav-bench-monitor: built without windows\n");
      rc = 2;
#endif
    }
  }
  return rc;
}
