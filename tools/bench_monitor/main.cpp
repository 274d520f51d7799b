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
// check with the list (nearly) empty.
#include <malloc.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <functional>
#include <string>
#include <string_view>

#include "app/application.h"
#include "app/session.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/platform.h"
#include "ui/headless/headless_runtime.h"
#ifdef KAV_WITH_QT
#include <QApplication>
#include <QTimer>

#include "ui/qt/display.h"
#include "ui/qt/qt_runtime.h"
#endif

namespace {

using namespace kav;

class NoCommands final : public platform::CommandRunner {
 public:
  int run(std::string_view, int) override { return 0; }
};

class NoPrinting final : public platform::PrintService {
 public:
  std::string open(std::string_view, std::string_view) override { return "00"; }
  std::string write(std::string_view, std::string_view) override { return "00"; }
  std::string close() override { return "00"; }
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
class Meter final : public form::Form {
 public:
  Meter(form::Form& inner, long checks, std::function<void()> on_check)
      : inner_(inner), checks_(checks), on_check_(std::move(on_check)) {
    warm_ = form::kListRowLimit + 100 < checks / 2 ? form::kListRowLimit + 100 : checks / 2;
  }
  const form::FormDesign& design() const override { return inner_.design(); }
  void form_open(form::FormContext& ctx) override {
    ++count_;
    if (count_ == kEmptyFrom) empty_cpu_ = cpu_seconds();
    if (count_ == kEmptyFrom + kSpan) empty_cpu_ = cpu_seconds() - empty_cpu_;
    if (count_ == warm_) {
      heap_from_ = heap_bytes();
      full_cpu_ = cpu_seconds();
    }
    if (count_ == warm_ + kSpan) full_cpu_ = cpu_seconds() - full_cpu_;
    if (count_ == checks_) heap_to_ = heap_bytes();
    on_check_();
    inner_.form_open(ctx);
  }
  void form_close(form::FormContext& ctx) override { inner_.form_close(ctx); }
  void tick(form::FormContext& ctx, std::string_view t) override { inner_.tick(ctx, t); }
  void click(form::FormContext& ctx, std::string_view b) override { inner_.click(ctx, b); }

  bool done() const { return count_ >= checks_; }
  void report(const char* mode) const {
    const long span = checks_ - warm_;
    const double per_check = span > 0 ? (static_cast<double>(heap_to_) - static_cast<double>(heap_from_)) / static_cast<double>(span) : 0;
    std::printf("%s: %ld checks (%.1f days); heap %+.3f KB per check over the last %ld checks (%zu -> %zu bytes)\n",
                mode, count_, static_cast<double>(count_) * 5 / 86400, per_check / 1024, span, heap_from_, heap_to_);
    if (warm_ + kSpan <= count_ && warm_ >= form::kListRowLimit) {
      std::printf("%s: CPU per check %.1f us with %d rows in the list, %.1f us with under %ld: ratio %.2f\n", mode,
                  full_cpu_ / static_cast<double>(kSpan) * 1e6, form::kListRowLimit, empty_cpu_ / static_cast<double>(kSpan) * 1e6, kEmptyFrom + kSpan,
                  empty_cpu_ > 0 ? full_cpu_ / empty_cpu_ : 0);
    }
  }

 private:
  static constexpr long kEmptyFrom = 10;
  static constexpr long kSpan = 1000;
  form::Form& inner_;
  long checks_;
  std::function<void()> on_check_;
  long warm_ = 0;
  long count_ = 0;
  std::size_t heap_from_ = 0, heap_to_ = 0;
  double empty_cpu_ = 0, full_cpu_ = 0;
};

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
    NoPrinting printing;
    NoKeyed keyed;
    platform::Platform services{*files, clock, commands, printing, keyed};
    app::Application application(services, "localhost");
    app::Session session(application);
    form::Form& comandas = *session.forms().find("90-COMANDAS");
    Meter meter(comandas, checks, [&] {
      files->remove("C:\\OrbelaTeknovarium\\LOGCMD_20" + clock.date_yymmdd() + ".txt");
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
