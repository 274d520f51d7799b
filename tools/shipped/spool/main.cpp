// kav-spool: the operator's view of the spool folder.
//
//   kav-spool list [--todos] [PRINTER]
//                                     tickets by printer and state: those
//                                     not delivered, and today's (--todos:
//                                     every one the spool keeps)
//   kav-spool show PRINTER TICKET     one ticket as text
//   kav-spool reprint PRINTER TICKET  prints one ticket again
//   kav-spool reprint-order PRINTER TICKET
//                                     prints again the tickets of that ticket's
//                                     order of its kind (a bill: the bill)
//   kav-spool reprint-order-all PRINTER TICKET
//                                     prints again every ticket of its order
//   kav-spool reprint-undelivered [PRINTER]
//                                     prints every undelivered ticket, in order
//   kav-spool settle PRINTER TICKET   marks an undelivered ticket settled by hand
//   kav-spool enviar PRINTER TICKET OTHER
//                                     prints an undelivered ticket on OTHER instead
//   kav-spool teste PRINTER           prints the printer's test page
//   kav-spool retidas                 the answers kept aside, newest first, numbered
//   kav-spool descartar-retida N      removes kept answer N of that list
//   kav-spool imprimir-retida N       prints kept answer N as the monitor's window does
//
// PRINTER is the printer's name (or its spool folder's name); TICKET is the
// ticket's name with or without its mark and extension. The root is the
// monitor's ($KAVCOMANDA_ROOT, or ~/KavComanda). Reprints go to the
// spooler through the same printer outlet the monitor's hand-over uses,
// which converts the Windows-1252 text the way the monitor prints it, and
// carry the mark "2ª via" on the paper (printing/reprint.h holds the rules,
// which the monitor's own reprints follow too).
//
// A kept answer is printed by the monitor's own order form (kept_commands.h):
// from its window while it runs (Reimprimir, "Respostas retidas"), from here
// while none does.
//
// Every file is read only when it is a regular file within its bound (a
// ticket kMaxTicketBytes, a kept answer an answer's); anything else is
// refused, said, and the tool exits 2.
//
// Every printer prints by its profile in kavcomanda.ini, as in the monitor.
//
// Nothing prints while a monitor runs on the root (its window prints:
// Reimprimir), and nothing prints twice. A ticket is printed only while this
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
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define KAV_ISATTY _isatty
#else
#include <unistd.h>
#define KAV_ISATTY isatty
#endif

#include "log/log_form.h"
#include "orders/fcomanda.h"
#include "orders/kept_answers.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "platform/print/outlet.h"
#include "platform/print/spool.h"
#include "platform/print/spool_store.h"
#include "platform/line_end.h"
#include "printing/printer_profiles.h"
#include "printing/profiled_outlet.h"
#include "printing/reprint.h"
#include "printing/test_page.h"
#include "settings/kav_settings.h"
#include "common/tool_files.h"
#include "spool/kept_commands.h"
#include "record/cp1252.h"

namespace {

using namespace kav;
using namespace kav::platform;
using namespace kav::platform::print;
using printing::KeptTicket;

const char* state_word(const KeptTicket& t) {
  if (t.unfinished) return "incompleto";
  return t.marked ? "nao-entregue" : "impresso";
}

std::string out(std::string_view cp1252) { return record::to_terminal(cp1252); }

std::string arg(std::string_view text) { return record::from_terminal(text); }

// Windows-1252 texts for the operator.
void say(std::string_view text) { std::cout << out(text) << "\n"; }
void say_error(std::string_view text) { std::cerr << "kav-spool: " << out(text) << "\n"; }

// The spool of the monitor's root, read and printed with the rules of
// printing/reprint.h.
class Spool {
 public:
  Spool()
      : files_(make_os_file_system(default_root())),
        clock_(make_system_clock()),
        view_(*files_, orders::fcomanda_layout()) {}

  std::vector<KeptTicket> entries(const std::optional<std::string>& printer, bool with_unfinished = false) {
    return view_.all(printer, with_unfinished);
  }
  std::vector<KeptTicket> entries_since(std::string_view since, bool& earlier,
                                        const std::optional<std::string>& printer) {
    return view_.since(since, earlier, printer, true);
  }
  std::optional<KeptTicket> find(const std::string& printer, const std::string& ticket) {
    return view_.find(printer, ticket);
  }
  void log(std::string_view text) { log::write_log_line(*files_, *clock_, text); }
  std::string today() { return clock_->date_yymmdd(); }

  int reprint(PrinterOutlet& outlet, const KeptTicket& t, bool reprint_unknown) {
    printing::DirectReprint direct(*files_, *clock_, outlet, orders::fcomanda_layout(), say, say_error);
    return direct.reprint(t, reprint_unknown);
  }

  // The tickets of `chosen`'s order, oldest first: those of its kind, or
  // all of them when `whole` (printing::tickets_of_order).
  std::vector<KeptTicket> order_of(KeptTicket chosen, bool whole) {
    const std::vector<KeptTicket> day = view_.day_of(chosen);
    return whole ? printing::tickets_of_order(day, chosen) : printing::tickets_of_order_like(day, chosen);
  }

  FileSystem& files() { return *files_; }
  Clock& clock() { return *clock_; }

 private:
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<Clock> clock_;
  printing::SpoolView view_;
};

// Undelivered tickets are the monitor's to send again while it runs: the
// one-monitor lock is taken, or nothing is printed. A lock that cannot be
// opened or taken at all (another user's, a folder without rights) may hide
// a running monitor just as well.
bool lock_refused(Spool& spool, std::unique_ptr<InstanceLock>& lock) {
  std::string cause;
  const LockOutcome outcome = take_instance_lock(spool.files(), lock, &cause);
  if (outcome == LockOutcome::taken) return false;
  if (outcome == LockOutcome::held) {
    say_error(
        record::cp1252("o monitor está em execução nesta pasta: imprima pela janela (Reimprimir: Ticket, Comanda "
                       "ou Enviar para…); nada foi impresso"));
  } else {
    say_error(record::cp1252("não foi possível abrir ou travar ") + arg(spool.files().host_path(kInstanceLockPath)) +
              " (" + cause + "); nada foi impresso");
  }
  return true;
}

// "enviar": an undelivered ticket printed on another printer in its place,
// under the line "*** PARA <printer> - ENVIADO À <other> ***". The copy is
// kept in the other printer's folder, marked, with its job noted, so the
// monitor follows it at its next start; the original is settled.
int send_elsewhere(Spool& spool, const KeptTicket& e, const std::string& to_name) {
  SpoolStore store(spool.files());
  std::string text;
  if (!store.read_marked(e.folder, e.base, text)) {
    say_error(record::cp1252("nenhum ticket não entregue ") + e.base + " para " + e.printer);
    return 1;
  }
  const std::string to(printer_name(to_name));
  if (to.empty() || same_printer(to, e.printer)) {
    say_error("escolha outra impressora");
    return 1;
  }
  text = "*** PARA " + e.printer + record::cp1252(" - ENVIADO À ") + to + " ***" + std::string(kLineEnd) + text;
  const std::string folder = store.folder_for(to);
  const std::string stamp = stamp_now(spool.clock());
  std::string base;
  for (unsigned long n = 1; n < 1000000 && (base.empty() || store.holds(folder, base)); ++n) {
    base = ticket_base_name(stamp.substr(0, 8), stamp.substr(9), n);
  }
  if (!store.keep(folder, base, text) || !store.sync_folder(folder)) {
    say_error(record::cp1252("não foi possível gravar o ticket em ") + arg(spool.files().host_path(folder)));
    return 1;
  }
  auto outlet = printing::make_profiled_outlet(spool.files(), orders::fcomanda_layout());
  outlet->refresh({}, 0);
  const Delivery d = outlet->submit(TicketJob{to, job_title(base, store.root_host()), PageSetup{}}, text);
  if (d.outcome == Outcome::printed) {
    store.unmark(folder, base);
  } else if (d.delivered() && d.job_id > 0) {
    store.write_note(folder, base, d.job_id);
  }
  const bool unmarked = store.unmark(e.folder, e.base);
  spool.log("Enviado para " + to + " (kav-spool): " + e.printer + "\\" + e.base + " como " + base);
  if (!d.delivered()) {
    say_error(record::cp1252("não entregue em ") + to + " (" + d.detail + "); " + base +
              record::cp1252(" fica marcado: o monitor o reenvia quando iniciar"));
  } else {
    say(e.printer + "\\" + e.base + " enviado para " + to + ": " + base);
  }
  if (!unmarked) say_error(record::cp1252("não foi possível retirar a marca de ") + e.base);
  return d.delivered() && unmarked ? 0 : 1;
}

// "Comanda (2ª via)" of the monitor's reprint list, by hand: the order of
// the named ticket, of its kind or whole, printed again oldest first.
int reprint_order(Spool& spool, const std::string& printer, const std::string& ticket, bool whole) {
  const auto chosen = spool.find(printer, ticket);
  if (!chosen || chosen->unfinished) {
    say_error("nenhum ticket " + ticket + " para " + printer);
    return 1;
  }
  const std::vector<KeptTicket> tickets = spool.order_of(*chosen, whole);
  if (tickets.empty()) {
    say_error(record::cp1252("o ticket ") + ticket + record::cp1252(" não tem número de comanda; use \"reprint\""));
    return 1;
  }
  std::unique_ptr<InstanceLock> lock;
  if (lock_refused(spool, lock)) return 1;
  auto outlet = printing::make_profiled_outlet(spool.files(), orders::fcomanda_layout());
  int rc = 0;
  for (const KeptTicket& t : tickets) rc |= spool.reprint(*outlet, t, false);  // a forgotten job is the operator's
  return rc;
}

// No ticket the monitor makes comes near this: an order of ten thousand
// items prints in about 2 MB.
constexpr std::uint64_t kMaxTicketBytes = 8u * 1024u * 1024u;

// The ticket `t` when it may be read (a regular file within the bound);
// otherwise the refusal is said and its exit status returned.
std::optional<int> ticket_refused(Spool& spool, const KeptTicket& t) {
  const tools::FileCheck c = tools::check_file(spool.files().host_path(t.path()), kMaxTicketBytes, false);
  if (c == tools::FileCheck::ok) return std::nullopt;
  say_error(t.printer + "\\" + t.base + ": " + tools::refusal_text(c, kMaxTicketBytes, "o limite de um ticket"));
  return tools::kExitRefused;
}

std::optional<int> read_ticket(Spool& spool, const KeptTicket& t, std::string& text) {
  const tools::FileCheck c = tools::read_file(spool.files().host_path(t.path()), kMaxTicketBytes, false, text);
  if (c == tools::FileCheck::ok) return std::nullopt;
  say_error(t.printer + "\\" + t.base + ": " + tools::refusal_text(c, kMaxTicketBytes, "o limite de um ticket"));
  return tools::kExitRefused;
}

using Args = std::vector<std::string>;

// "list [--todos] [PRINTER]": a year's tickets make a long list, so the
// delivered ones of earlier days only when asked for.
int list_command(Spool& spool, const Args& args) {
  const bool every = args.size() >= 2 && args[1] == "--todos";
  if (args.size() == 3 && !every) return -1;
  std::optional<std::string> printer;
  if (args.size() == (every ? 3u : 2u)) printer = args.back();
  const std::string today = "20" + spool.today();
  std::string last;
  bool earlier = false;
  for (const auto& e : every ? spool.entries(printer, true) : spool.entries_since(today, earlier, printer)) {
    if (e.folder_name != last) {
      std::cout << (e.printer.empty() ? std::string("(sem impressora)") : out(e.printer)) << "\n";
      last = e.folder_name;
    }
    std::printf("  %-12s %s\n", state_word(e), out(e.base).c_str());
  }
  if (earlier) say(record::cp1252("(tickets impressos de dias anteriores não listados; veja todos com \"kav-spool list --todos\")"));
  return 0;
}

int show_command(Spool& spool, const Args& args) {
  const auto e = spool.find(args[1], args[2]);
  if (!e) {
    say_error("nenhum ticket " + args[2] + " para " + args[1]);
    return 1;
  }
  std::string t;
  if (const auto refused = read_ticket(spool, *e, t)) return *refused;
  const std::string shown = KAV_ISATTY(1) ? out(t) : t;
  std::fwrite(shown.data(), 1, shown.size(), stdout);
  return 0;
}

int reprint_command(Spool& spool, const Args& args) {
  const auto e = spool.find(args[1], args[2]);
  if (!e) {
    say_error("nenhum ticket " + args[2] + " para " + args[1]);
    return 1;
  }
  if (const auto refused = ticket_refused(spool, *e)) return *refused;
  std::unique_ptr<InstanceLock> lock;
  if (lock_refused(spool, lock)) return 1;
  auto outlet = printing::make_profiled_outlet(spool.files(), orders::fcomanda_layout());
  return spool.reprint(*outlet, *e, true);
}

int reprint_order_command(Spool& spool, const Args& args) { return reprint_order(spool, args[1], args[2], false); }

int reprint_order_all_command(Spool& spool, const Args& args) { return reprint_order(spool, args[1], args[2], true); }

int reprint_undelivered_command(Spool& spool, const Args& args) {
  std::unique_ptr<InstanceLock> lock;
  if (lock_refused(spool, lock)) return 1;
  std::optional<std::string> printer;
  if (args.size() == 2) printer = args[1];
  auto outlet = printing::make_profiled_outlet(spool.files(), orders::fcomanda_layout());
  int rc = 0;
  for (const auto& e : spool.entries(printer)) {
    if (!e.marked || e.printer.empty()) continue;
    if (const auto refused = ticket_refused(spool, e)) {
      rc |= *refused;
      continue;
    }
    rc |= spool.reprint(*outlet, e, false);
  }
  return rc;
}

int settle_command(Spool& spool, const Args& args) {
  const auto e = spool.find(args[1], args[2]);
  if (!e || !e->marked) {
    say_error(record::cp1252("nenhum ticket não entregue ") + args[2] + " para " + args[1]);
    return 1;
  }
  if (!SpoolStore(spool.files()).unmark(e->folder, e->base)) {
    say_error(record::cp1252("não foi possível retirar a marca de ") + arg(spool.files().host_path(e->path())));
    return 1;
  }
  spool.log("Baixado a mao: " + e->printer + "\\" + e->base);
  say(e->printer + "\\" + e->base + " baixado");
  return 0;
}

int send_command(Spool& spool, const Args& args) {
  const auto e = spool.find(args[1], args[2]);
  if (!e || !e->marked) {
    say_error(record::cp1252("nenhum ticket não entregue ") + args[2] + " para " + args[1]);
    return 1;
  }
  std::unique_ptr<InstanceLock> lock;
  if (lock_refused(spool, lock)) return 1;
  return send_elsewhere(spool, *e, args[3]);
}

// "teste PRINTER": the printer's test page, by its profile; a driver that
// feeds a sheet for each ticket is said here and on the page.
int test_page_command(Spool& spool, const Args& args) {
  const printing::PrinterProfiles profiles(settings::read_kav_settings(spool.files()));
  for (const auto& line : profiles.problems()) say_error(line);
  const printing::PrinterProfile p = profiles.of(args[1]);
  auto outlet = printing::make_profiled_outlet(spool.files(), orders::fcomanda_layout());
  outlet->refresh({}, 0);
  const TicketJob job{p.printer, "Teste de impressora " + p.printer, PageSetup{}};
  const auto sheet = p.mode == printing::PrintMode::driver
                         ? printing::SheetWatch(platform::print::make_os_outlet(), nullptr).sheet(p.printer)
                         : std::nullopt;
  if (sheet) {
    for (const auto& line : printing::sheet_log_lines(p.printer, *sheet)) {
      say_error(line);
      spool.log(line);
    }
  }
  const Delivery d = p.mode == printing::PrintMode::driver
                         ? outlet->submit(job, printing::test_page_text(p, kLineEnd, sheet))
                         : outlet->submit_raw(job, printing::test_page_bytes(p));
  if (!d.delivered()) {
    say_error("p\xE1gina de teste n\xE3o impressa em " + p.printer + " (" + d.detail + ")");
    return 1;
  }
  spool.log("Pagina de teste em " + p.printer + " (modo " + std::string(printing::mode_name(p.mode)) + ")");
  say("P\xE1gina de teste enviada para " + p.printer + " (modo " + std::string(printing::mode_name(p.mode)) + ")");
  return 0;
}

// The commands on the answers kept aside (kept_commands.h).
const spool_tool::Voice kVoice{say, say_error};

int kept_list_command(Spool& spool, const Args&) { return spool_tool::list_kept(spool.files(), kVoice); }

int kept_discard_command(Spool& spool, const Args& args) {
  return spool_tool::discard_kept(spool.files(), spool.clock(), args[1], kVoice);
}

int kept_print_command(Spool& spool, const Args& args) {
  return spool_tool::print_kept(spool.files(), spool.clock(), args[1], kVoice);
}

// The command words, with the number of words each takes (its own
// included) and their names in the usage text, in the order usage() says them.
struct Command {
  std::string_view word;
  std::size_t min_words;
  std::size_t max_words;
  std::string_view operands;
  int (*run)(Spool&, const Args&);  // -1: the words do not fit; usage() is said
};

constexpr Command kCommands[] = {
    {"list", 1, 3, "[--todos] [IMPRESSORA]", list_command},
    {"show", 3, 3, "IMPRESSORA TICKET", show_command},
    {"reprint", 3, 3, "IMPRESSORA TICKET", reprint_command},
    {"reprint-order", 3, 3, "IMPRESSORA TICKET", reprint_order_command},
    {"reprint-order-all", 3, 3, "IMPRESSORA TICKET", reprint_order_all_command},
    {"reprint-undelivered", 1, 2, "[IMPRESSORA]", reprint_undelivered_command},
    {"settle", 3, 3, "IMPRESSORA TICKET", settle_command},
    {"enviar", 4, 4, "IMPRESSORA TICKET OUTRA", send_command},
    {"teste", 2, 2, "IMPRESSORA", test_page_command},
    {"retidas", 1, 1, "", kept_list_command},
    {"descartar-retida", 2, 2, "N", kept_discard_command},
    {"imprimir-retida", 2, 2, "N", kept_print_command},
};

int usage() {
  const char* lead = "uso: ";
  for (const Command& c : kCommands) {
    std::cerr << lead << "kav-spool " << c.word << (c.operands.empty() ? "" : " ") << c.operands << "\n";
    lead = "     ";
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  for (int i = 1; i < argc; ++i) args.push_back(arg(argv[i]));
  if (args.empty()) return usage();
  Spool spool;
  // A root that is not there has no spool to show: say so, not an empty list.
  if (!spool.files().exists("C:\\OrbelaTeknovarium")) {
    std::cerr << "kav-spool: a pasta " << spool.files().host_path("C:\\OrbelaTeknovarium")
              << " não existe; confira KAVCOMANDA_ROOT\n";  // UTF-8, as the host path
    return 4;
  }
  for (const Command& c : kCommands) {
    if (c.word != args[0] || args.size() < c.min_words || args.size() > c.max_words) continue;
    const int rc = c.run(spool, args);
    return rc < 0 ? usage() : rc;
  }
  return usage();
}
