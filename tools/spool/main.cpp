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
// monitor's ($KAVCOMANDA_ROOT, or ~/KavComanda). Reprints go to the
// spooler through the same printer outlet the monitor's hand-over uses,
// which converts the Windows-1252 text the way the monitor prints it.
//
// Nothing prints twice. An undelivered ticket is printed only while this
// program holds the one-monitor lock, and only when its folder takes files;
// one already handed over is first looked up by its noted job: a job the
// spooler finished is settled (its mark goes), one still queued is left
// alone, one the spooler no longer knows is left to the operator (it may
// have printed; "reprint" names it). A reprinted ticket's job is noted
// beside it at once and its mark goes when the printer has finished it; a
// mark that cannot go is said, and the note keeps the monitor from sending
// it again. Every refusal exits non-zero. Every reprint and every
// settlement goes to the day's log.
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
#include "platform/file_status.h"
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

std::string out(std::string_view cp1252) { return record::to_terminal(cp1252); }

std::string arg(std::string_view text) { return record::from_terminal(text); }

// Windows-1252 texts for the operator.
void say(std::string_view text) { std::cout << out(text) << "\n"; }
void say_error(std::string_view text) { std::cerr << "kav-spool: " << out(text) << "\n"; }

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


  bool text(const Entry& e, std::string& t) { return read_ticket(*files_, path(e), t); }

  void log(std::string_view text) { log::write_log_line(*files_, *clock_, text); }

  // Whether the ticket's folder takes files: a ticket whose mark could not be
  // taken off afterwards would be printed again by the monitor.
  bool folder_writable(const Entry& e) {
    const std::string probe = folder_path(e.folder_name) + "\\KAVSPOOL.TST";
    std::unique_ptr<File> file;
    bool written = files_->open(probe, OpenMode::output, file) == status::ok;
    if (written) written = file->write("kav-spool") && file->close();
    file.reset();
    files_->remove(probe);
    return written;
  }

  // An undelivered ticket already handed over: what its job became. Settles
  // one the spooler finished; says so of one still in the queue. Returns
  // true when the ticket is dealt with (nothing to print), with `rc` set.
  bool settled_by_its_job(PrinterOutlet& outlet, const Entry& e, bool reprint_unknown, int& rc) {
    if (e.info.kind != SpoolEntry::Kind::undelivered) return false;
    SpoolStore store(*files_);
    const int job_id = store.read_note(folder_path(e.folder_name), e.info.base);
    if (job_id <= 0) return false;
    const JobState state = outlet.job(e.printer, job_id);
    const std::string name = e.printer + "\\" + e.info.base;
    if (state == JobState::completed) {
      if (!store.unmark(folder_path(e.folder_name), e.info.base)) {
        say_error("o trabalho " + std::to_string(job_id) + " de " + name +
                  " j\xE1 foi impresso, mas a marca N\xC3O ENTREGUE n\xE3o p\xF4" "de ser retirada (" +
                  arg(files_->host_path(path(e))) + "); verifique as permiss\xF5" "es da pasta");
        rc = 1;
        return true;
      }
      log("Baixado: " + name + " (trabalho " + std::to_string(job_id) + " j\xE1 impresso)");
      say(name + " j\xE1 impresso (trabalho " + std::to_string(job_id) + "); marca retirada");
      rc = 0;
      return true;
    }
    if (state == JobState::pending) {
      say(name + " ainda est\xE1 na fila da impressora (trabalho " + std::to_string(job_id) +
          "); n\xE3o foi reimpresso");
      rc = 0;
      return true;
    }
    if (state == JobState::gone && !reprint_unknown) {
      // The spooler forgot the job: it may have printed.
      say_error("o spooler n\xE3o conhece mais o trabalho " + std::to_string(job_id) + " de " + name +
                ", que pode ter sido impresso; n\xE3o foi reimpresso. Confira o papel e use \"reprint\" ou "
                "\"settle\" para este ticket");
      rc = 1;
      return true;
    }
    return false;  // cancelled (or forgotten, and asked for by name): print it again
  }

  // Hands the ticket over and follows its job for at most a minute. The mark
  // of an undelivered ticket goes when the printer has finished it; its job
  // is noted beside it first, so that a mark that cannot go never makes the
  // monitor print it again.
  int reprint(PrinterOutlet& outlet, const Entry& e, bool reprint_unknown) {
    const std::string name = e.printer + "\\" + e.info.base;
    std::string t;
    if (!text(e, t)) {
      say_error("n\xE3o foi poss\xEDvel ler " + arg(files_->host_path(path(e))));
      return 1;
    }
    const bool undelivered = e.info.kind == SpoolEntry::Kind::undelivered;
    if (undelivered && !folder_writable(e)) {
      say_error("a pasta " + arg(files_->host_path(folder_path(e.folder_name))) +
                " n\xE3o aceita grava\xE7\xE3o: a marca de " + name +
                " n\xE3o poderia ser retirada; n\xE3o foi impresso");
      return 1;
    }
    if (!outlet.refresh({})) {
      say_error("o spooler de impress\xE3o n\xE3o responde; " + name + " n\xE3o foi impresso");
      log("Reimpressao falhou: spooler fora do ar (" + name + ") !!!");
      return 1;
    }
    if (int rc = 0; settled_by_its_job(outlet, e, reprint_unknown, rc)) return rc;
    if (outlet.printer(e.printer) != PrinterState::ready) {
      say_error("a impressora " + e.printer + " n\xE3o existe ou est\xE1 parada; " + e.file_name +
                " n\xE3o foi impresso");
      log("Reimpressao falhou: " + e.printer + " parada ou inexistente !!!");
      return 1;
    }
    const std::string title = job_title(e.info.base, files_->host_path(kSpoolRoot));
    log("Reimprimindo " + e.info.base + " em " + e.printer + " ...");
    // On the roll, as the print form always asks: the settings the ticket was
    // made with are not kept beside it.
    const Delivery d = outlet.submit(TicketJob{e.printer, title, PageSetup{}}, t);
    if (!d.delivered()) {
      say_error("a impressora " + e.printer + " n\xE3o aceitou " + e.file_name + ": " + d.detail);
      log("Reimpressao falhou em " + e.printer + ": " + e.file_name + " !!!");
      return 1;
    }
    SpoolStore store(*files_);
    if (undelivered) {
      store.write_note(folder_path(e.folder_name), e.info.base, d.job_id);
      if (store.read_note(folder_path(e.folder_name), e.info.base) != d.job_id) {
        say_error("a nota do trabalho " + std::to_string(d.job_id) + " de " + name +
                  " n\xE3o p\xF4" "de ser gravada: o monitor pode imprimi-lo de novo; baixe-o com \"settle\" "
                  "quando sair no papel");
        log("Reimpresso sem nota do trabalho: " + name + " !!!");
        return 1;
      }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    JobState state = JobState::pending;
    while (state == JobState::pending && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      state = outlet.job(e.printer, d.job_id);
    }
    if (state == JobState::completed || state == JobState::gone) {
      if (undelivered && !store.unmark(folder_path(e.folder_name), e.info.base)) {
        say_error(name + " foi impresso (trabalho " + std::to_string(d.job_id) +
                  "), mas a marca N\xC3O ENTREGUE n\xE3o p\xF4" "de ser retirada; a nota do trabalho fica, e o "
                  "monitor n\xE3o o imprime de novo");
        log("Reimpresso em " + e.printer + ": " + e.info.base + ", marca nao retirada !!!");
        return 1;
      }
      log("Reimpresso em " + e.printer + ": " + e.info.base);
      say(name + " impresso");
      return 0;
    }
    say_error("o trabalho " + std::to_string(d.job_id) + " de " + e.file_name +
              (state == JobState::aborted ? " foi cancelado" : " ainda espera na fila da impressora"));
    return 1;
  }

  FileSystem& files() { return *files_; }

  std::string folder_of(const Entry& e) const { return folder_path(e.folder_name); }

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
  std::cerr << "uso: kav-spool list [IMPRESSORA]\n"
               "     kav-spool show IMPRESSORA TICKET\n"
               "     kav-spool reprint IMPRESSORA TICKET\n"
               "     kav-spool reprint-undelivered [IMPRESSORA]\n"
               "     kav-spool settle IMPRESSORA TICKET\n";
  return 2;
}

// Undelivered tickets are the monitor's to send again while it runs: the
// one-monitor lock is taken, or nothing is printed. A lock that cannot be
// opened or taken at all (another user's, a folder without rights) may hide
// a running monitor just as well.
bool lock_refused(Spool& spool, std::unique_ptr<InstanceLock>& lock) {
  std::string cause;
  const LockOutcome outcome = take_instance_lock(spool.files(), lock, &cause);
  if (outcome == LockOutcome::taken) return false;
  if (outcome == LockOutcome::held) {
    say_error("o monitor est\xE1 em execu\xE7\xE3o nesta pasta e reenvia sozinho os tickets n\xE3o entregues; "
              "pare-o antes, ou baixe o ticket com \"settle\"");
  } else {
    say_error("n\xE3o foi poss\xEDvel abrir ou travar " + arg(spool.files().host_path(kInstanceLockPath)) + " (" + cause +
              "); nada foi impresso");
  }
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
      say_error("nenhum ticket " + args[2] + " para " + args[1]);
      return 1;
    }
    const std::string shown = KAV_ISATTY(1) ? out(t) : t;
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    return 0;
  }
  if (cmd == "reprint" && args.size() == 3) {
    const auto e = spool.find(args[1], args[2]);
    if (!e) {
      say_error("nenhum ticket " + args[2] + " para " + args[1]);
      return 1;
    }
    std::unique_ptr<InstanceLock> lock;
    if (e->info.kind == SpoolEntry::Kind::undelivered && lock_refused(spool, lock)) return 1;
    auto outlet = make_os_outlet();
    return spool.reprint(*outlet, *e, true);
  }
  if (cmd == "reprint-undelivered" && args.size() <= 2) {
    std::unique_ptr<InstanceLock> lock;
    if (lock_refused(spool, lock)) return 1;
    std::optional<std::string> printer;
    if (args.size() == 2) printer = args[1];
    auto outlet = make_os_outlet();
    int rc = 0;
    for (const auto& e : spool.entries(printer)) {
      if (e.info.kind == SpoolEntry::Kind::undelivered && !e.printer.empty()) rc |= spool.reprint(*outlet, e, false);
    }
    return rc;
  }
  if (cmd == "settle" && args.size() == 3) {
    const auto e = spool.find(args[1], args[2]);
    if (!e || e->info.kind != SpoolEntry::Kind::undelivered) {
      say_error("nenhum ticket n\xE3o entregue " + args[2] + " para " + args[1]);
      return 1;
    }
    if (!SpoolStore(spool.files()).unmark(spool.folder_of(*e), e->info.base)) {
      say_error("n\xE3o foi poss\xEDvel retirar a marca de " + arg(spool.files().host_path(spool.path(*e))));
      return 1;
    }
    spool.log("Baixado a mao: " + e->printer + "\\" + e->info.base);
    say(e->printer + "\\" + e->info.base + " baixado");
    return 0;
  }
  return usage();
}
