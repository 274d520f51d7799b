// kav-spool: the operator's view of the spool folder.
//
//   kav-spool list [PRINTER]          tickets by printer and state
//   kav-spool show PRINTER TICKET     one ticket as text
//   kav-spool reprint PRINTER TICKET  prints one ticket again
//   kav-spool reprint-undelivered [PRINTER]
//                                     prints every undelivered ticket, in order
//   kav-spool settle PRINTER TICKET   marks an undelivered ticket settled by hand
//
// PRINTER is the printer's name (or its spool folder's name); TICKET is the
// ticket's name with or without its mark and extension. The root is the
// monitor's ($KAVCOMANDA_ROOT, or ~/KavComanda). Reprints go through the
// print service's own hand-over to the spooler, which converts the
// Windows-1252 text the way the monitor prints it; a ticket printed again
// loses its mark only when the printer has finished it. Every reprint and
// every settlement goes to the day's log.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define KAV_ISATTY _isatty
#else
#include <unistd.h>
#define KAV_ISATTY isatty
#endif

#include "log/log_form.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "platform/print/outlet.h"
#include "platform/print/spool.h"
#include "platform/print/spool_store.h"
#include "record/cp1252.h"

namespace {

using namespace kav;
using namespace kav::platform;
using namespace kav::platform::print;

struct Entry {
  std::string folder_name;  // Windows-1252
  std::string printer;
  std::string file_name;
  SpoolEntry info;
};

const char* state_word(SpoolEntry::Kind k) {
  switch (k) {
    case SpoolEntry::Kind::printed: return "impresso";
    case SpoolEntry::Kind::undelivered: return "nao-entregue";
    case SpoolEntry::Kind::unfinished: return "incompleto";
    default: return "?";
  }
}

// Text for the terminal or a pipe: UTF-8 where the host speaks it.
std::string out(std::string_view cp1252) {
#ifdef _WIN32
  return std::string(cp1252);
#else
  return record::to_utf8(cp1252);
#endif
}

std::string arg(std::string_view utf8) {
#ifdef _WIN32
  return std::string(utf8);
#else
  return record::cp1252(utf8);
#endif
}

class Spool {
 public:
  Spool() : files_(make_os_file_system(default_root())), clock_(make_system_clock()) {}

  std::vector<Entry> entries(const std::optional<std::string>& printer) {
    std::vector<Entry> all;
    std::vector<std::string> folders = files_->list(kSpoolRoot, true);
    std::sort(folders.begin(), folders.end());
    for (const auto& folder : folders) {
      const std::string name = printer_of_folder(folder);
      if (printer && !same(*printer, name) && !same(*printer, folder)) continue;
      std::vector<std::string> names = files_->list(folder_path(folder), false);
      std::sort(names.begin(), names.end());
      for (const auto& n : names) {
        const SpoolEntry e = classify_spool_file(n);
        if (e.kind != SpoolEntry::Kind::other) all.push_back(Entry{folder, name, n, e});
      }
    }
    return all;
  }

  std::optional<Entry> find(const std::string& printer, const std::string& ticket) {
    for (auto& e : entries(printer)) {
      if (same(e.file_name, ticket) || same(e.info.base, ticket)) return e;
    }
    return std::nullopt;
  }

  std::string path(const Entry& e) const { return folder_path(e.folder_name) + "\\" + e.file_name; }
  std::string path_of(const Entry& e, bool marked) const {
    return folder_path(e.folder_name) + "\\" + e.info.base +
           (marked ? std::string(kNotDeliveredMark) : std::string()) + std::string(kTicketExtension);
  }

  bool text(const Entry& e, std::string& t) { return read_ticket(*files_, path(e), t); }

  void log(std::string_view text) { log::write_log_line(*files_, *clock_, text); }

  // Hands the ticket over and follows its job for at most a minute. The mark
  // of an undelivered ticket goes when the printer has finished it.
  int reprint(PrinterOutlet& outlet, const Entry& e) {
    std::string t;
    if (!text(e, t)) {
      std::cerr << "kav-spool: cannot read " << out(path(e)) << "\n";
      return 1;
    }
    const std::string title = job_title(e.info.base, files_->host_path(kSpoolRoot));
    log("Reimprimindo " + e.info.base + " em " + e.printer + " ...");
    outlet.refresh({});
    if (outlet.printer(e.printer) != PrinterState::ready) {
      std::cerr << "kav-spool: printer " << out(e.printer) << " is unknown or paused; " << out(e.file_name)
                << " not printed\n";
      log("Reimpressao falhou: " + e.printer + " parada ou inexistente !!!");
      return 1;
    }
    // On the roll, as the print form always asks: the settings the ticket was
    // made with are not kept beside it.
    const Delivery d = outlet.submit(TicketJob{e.printer, title, PageSetup{}}, t);
    if (!d.delivered()) {
      std::cerr << "kav-spool: " << out(e.printer) << " did not take " << out(e.file_name) << ": " << d.detail
                << "\n";
      log("Reimpressao falhou em " + e.printer + ": " + e.file_name + " !!!");
      return 1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    JobState state = JobState::pending;
    while (state == JobState::pending && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      state = outlet.job(e.printer, d.job_id);
    }
    if (state == JobState::completed || state == JobState::gone) {
      if (e.info.kind == SpoolEntry::Kind::undelivered) files_->rename(path_of(e, true), path_of(e, false));
      log("Reimpresso em " + e.printer + ": " + e.info.base);
      std::cout << out(e.printer) << "\\" << out(e.info.base) << " printed\n";
      return 0;
    }
    std::cerr << "kav-spool: job " << d.job_id << " for " << out(e.file_name)
              << (state == JobState::aborted ? " was cancelled\n" : " is still waiting in the queue\n");
    return 1;
  }

  FileSystem& files() { return *files_; }

 private:
  static std::string folder_path(const std::string& folder) { return std::string(kSpoolRoot) + "\\" + folder; }
  static bool same(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
  }

  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<Clock> clock_;
};

int usage() {
  std::cerr << "usage: kav-spool list [PRINTER]\n"
               "       kav-spool show PRINTER TICKET\n"
               "       kav-spool reprint PRINTER TICKET\n"
               "       kav-spool reprint-undelivered [PRINTER]\n"
               "       kav-spool settle PRINTER TICKET\n";
  return 2;
}

// Undelivered tickets are the monitor's to send again while it runs.
bool monitor_runs(Spool& spool, std::unique_ptr<InstanceLock>& lock) {
  if (take_instance_lock(spool.files(), lock) != LockOutcome::held) return false;
  std::cerr << "kav-spool: the monitor runs on this root and sends undelivered tickets again by itself; "
               "stop it first, or settle the ticket\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(arg(argv[i]));
  if (args.empty()) return usage();
  const std::string& cmd = args[0];
  Spool spool;
  // A root that is not there has no spool to show: say so, not an empty list.
  if (!spool.files().exists("C:\\OrbelaTeknovarium")) {
    std::cerr << "kav-spool: a pasta " << spool.files().host_path("C:\\OrbelaTeknovarium")
              << " n\xC3\xA3o existe; confira KAVCOMANDA_ROOT\n";
    return 4;
  }

  if (cmd == "list" && args.size() <= 2) {
    std::optional<std::string> printer;
    if (args.size() == 2) printer = args[1];
    std::string last;
    for (const auto& e : spool.entries(printer)) {
      if (e.folder_name != last) {
        std::cout << (e.printer.empty() ? std::string("(sem impressora)") : out(e.printer)) << "\n";
        last = e.folder_name;
      }
      std::printf("  %-12s %s\n", state_word(e.info.kind), out(e.info.base).c_str());
    }
    return 0;
  }
  if (cmd == "show" && args.size() == 3) {
    const auto e = spool.find(args[1], args[2]);
    std::string t;
    if (!e || !spool.text(*e, t)) {
      std::cerr << "kav-spool: no ticket " << out(args[2]) << " for " << out(args[1]) << "\n";
      return 1;
    }
    const std::string shown = KAV_ISATTY(1) ? out(t) : t;
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    return 0;
  }
  if (cmd == "reprint" && args.size() == 3) {
    const auto e = spool.find(args[1], args[2]);
    if (!e) {
      std::cerr << "kav-spool: no ticket " << out(args[2]) << " for " << out(args[1]) << "\n";
      return 1;
    }
    std::unique_ptr<InstanceLock> lock;
    if (e->info.kind == SpoolEntry::Kind::undelivered && monitor_runs(spool, lock)) return 1;
    auto outlet = make_os_outlet();
    return spool.reprint(*outlet, *e);
  }
  if (cmd == "reprint-undelivered" && args.size() <= 2) {
    std::unique_ptr<InstanceLock> lock;
    if (monitor_runs(spool, lock)) return 1;
    std::optional<std::string> printer;
    if (args.size() == 2) printer = args[1];
    auto outlet = make_os_outlet();
    int rc = 0;
    for (const auto& e : spool.entries(printer)) {
      if (e.info.kind == SpoolEntry::Kind::undelivered && !e.printer.empty()) rc |= spool.reprint(*outlet, e);
    }
    return rc;
  }
  if (cmd == "settle" && args.size() == 3) {
    const auto e = spool.find(args[1], args[2]);
    if (!e || e->info.kind != SpoolEntry::Kind::undelivered) {
      std::cerr << "kav-spool: no undelivered ticket " << out(args[2]) << " for " << out(args[1]) << "\n";
      return 1;
    }
    if (!spool.files().rename(spool.path_of(*e, true), spool.path_of(*e, false))) {
      std::cerr << "kav-spool: cannot rename " << out(spool.path(*e)) << "\n";
      return 1;
    }
    spool.log("Baixado a mao: " + e->printer + "\\" + e->info.base);
    std::cout << out(e->printer) << "\\" << out(e->info.base) << " settled\n";
    return 0;
  }
  return usage();
}
