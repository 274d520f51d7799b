#include "printing/reprint.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "log/log_form.h"
#include "platform/status.h"
#include "platform/line_end.h"
#include "platform/print/spool.h"
#include "platform/print/spool_store.h"
#include "record/cp1252.h"
#include "record/letter_case.h"

namespace kav::printing {

using platform::print::JobState;
using platform::print::PrinterState;
using platform::print::SpoolEntry;
using platform::print::SpoolStore;

namespace {

// A host path as the operator's texts hold it.
std::string shown_path(platform::FileSystem& files, std::string_view path) {
  return record::from_terminal(files.host_path(path));
}

std::string folder_path(std::string_view folder_name) {
  return std::string(platform::print::kSpoolRoot) + "\\" + std::string(folder_name);
}

TicketState file_state(bool marked, bool job_noted) {
  if (!marked) return TicketState::printed;
  return job_noted ? TicketState::waiting : TicketState::undelivered;
}

}  // namespace

std::string KeptTicket::time() const {
  if (!platform::stamp_centis(base)) return {};
  return base.substr(9, 2) + ":" + base.substr(11, 2) + ":" + base.substr(13, 2);
}

std::string KeptTicket::moment(std::string_view today) const {
  const std::string t = time();
  if (t.empty() || date() == today) return t;
  return base.substr(6, 2) + "/" + base.substr(4, 2) + " " + t;
}

std::string state_text(TicketState state) {
  switch (state) {
    case TicketState::printed: return "impresso";
    case TicketState::waiting: return "aguardando";
    case TicketState::undelivered:
      return record::cp1252("não entregue");
    case TicketState::late: return record::cp1252("não entregue (atrasado)");
    case TicketState::uncertain: return record::cp1252("sem situação");
  }
  return "?";
}

std::string kind_text(platform::TicketFacts::Kind kind) {
  using Kind = platform::TicketFacts::Kind;
  switch (kind) {
    case Kind::items: return "itens";
    case Kind::cancellation: return "cancelamento";
    case Kind::bill: return "conta";
    case Kind::unknown: break;
  }
  return "?";
}

// ---------------------------------------------------------------------------
// SpoolView

bool read_kept_ticket(platform::FileSystem& files, const KeptTicket& ticket, std::string& text) {
  if (platform::print::read_ticket(files, ticket.path(), text)) return true;
  if (ticket.marked || ticket.filed || ticket.unfinished) return false;
  return platform::print::read_ticket(files, SpoolStore::filed_path(ticket.folder, ticket.base), text);
}

// The printers' folders (Windows paths), by name; only those of `printer`
// (its name or its folder's, case ignored) when it is given.
std::vector<std::string> SpoolView::folders(const std::optional<std::string>& printer) {
  std::vector<std::string> names = files_.list(platform::print::kSpoolRoot, true);
  std::sort(names.begin(), names.end());
  std::vector<std::string> out;
  for (const auto& folder : names) {
    const std::string name = platform::print::printer_of_folder(folder);
    if (printer && !record::same_letters(*printer, name) && !record::same_letters(*printer, folder)) continue;
    out.push_back(folder_path(folder));
  }
  return out;
}

std::vector<KeptTicket> SpoolView::all(const std::optional<std::string>& printer, bool with_unfinished) {
  std::vector<KeptTicket> out;
  SpoolStore store(files_);
  for (const auto& folder : folders(printer)) {
    const std::size_t first = out.size();
    for (const auto& day : store.days(folder)) read_day(folder, day, out);
    bool earlier = false;
    read_folder(folder, {}, earlier, with_unfinished, out);
    std::stable_sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
                     [](const KeptTicket& a, const KeptTicket& b) { return a.file_name < b.file_name; });
  }
  return out;
}

std::vector<KeptTicket> SpoolView::since(std::string_view since, bool& earlier,
                                         const std::optional<std::string>& printer, bool with_unfinished) {
  std::vector<KeptTicket> out;
  SpoolStore store(files_);
  for (const auto& folder : folders(printer)) {
    if (!store.days(folder).empty()) earlier = true;
    read_folder(folder, since, earlier, with_unfinished, out);
  }
  return out;
}

// The tickets of a printer's own folder, by name; the printed ones dated
// before `since` left out.
void SpoolView::read_folder(const std::string& folder, std::string_view since, bool& earlier, bool with_unfinished,
                            std::vector<KeptTicket>& out) {
  std::vector<std::string> names = files_.list(folder, false);
  std::sort(names.begin(), names.end());
  SpoolStore store(files_);
  const std::string folder_name = folder.substr(folder.rfind('\\') + 1);
  for (const auto& n : names) {
    const SpoolEntry e = platform::print::classify_spool_file(n);
    const bool unfinished = e.kind == SpoolEntry::Kind::unfinished;
    if (e.kind != SpoolEntry::Kind::printed && e.kind != SpoolEntry::Kind::undelivered &&
        !(unfinished && with_unfinished)) {
      continue;
    }
    if (e.kind == SpoolEntry::Kind::printed && !since.empty() && std::string_view(e.base).substr(0, 8) < since) {
      earlier = true;  // a printed ticket of an earlier day: not listed
      continue;
    }
    KeptTicket t;
    t.folder = folder;
    t.folder_name = folder_name;
    t.printer = platform::print::printer_of_folder(folder_name);
    t.base = e.base;
    t.file_name = n;
    t.marked = e.kind == SpoolEntry::Kind::undelivered;
    t.unfinished = unfinished;
    t.job_noted = t.marked && store.read_note(t.folder, t.base) != 0;
    t.state = file_state(t.marked, t.job_noted);
    out.push_back(std::move(t));
  }
}

// The printed tickets filed in a printer's folder of `day`, by name.
void SpoolView::read_day(const std::string& folder, std::string_view day, std::vector<KeptTicket>& out) {
  std::vector<std::string> names = files_.list(SpoolStore::day_folder(folder, day), false);
  std::sort(names.begin(), names.end());
  const std::string folder_name = folder.substr(folder.rfind('\\') + 1);
  for (auto& n : names) {
    SpoolEntry e = platform::print::classify_spool_file(n);
    if (e.kind != SpoolEntry::Kind::printed || !std::string_view(e.base).starts_with(day)) continue;
    KeptTicket t;
    t.folder = folder;
    t.folder_name = folder_name;
    t.printer = platform::print::printer_of_folder(folder_name);
    t.base = std::move(e.base);
    t.file_name = std::move(n);
    t.filed = true;
    out.push_back(std::move(t));
  }
}

std::vector<KeptTicket> SpoolView::recent(std::size_t limit, std::map<std::string, platform::TicketFacts>* known) {
  std::vector<KeptTicket> tickets = all();
  // Newest first across the printers; names sort in printing order.
  std::stable_sort(tickets.begin(), tickets.end(),
                   [](const KeptTicket& a, const KeptTicket& b) { return a.base > b.base; });
  if (tickets.size() > limit) tickets.resize(limit);
  read_facts(tickets, known);
  return tickets;
}

std::vector<KeptTicket> SpoolView::recent_of(const std::vector<std::pair<std::string, std::string>>& names,
                                             std::size_t limit,
                                             std::map<std::string, platform::TicketFacts>* known) {
  std::vector<KeptTicket> tickets;
  SpoolStore store(files_);
  for (const auto& [folder, base] : names) {
    if (tickets.size() == limit) break;
    KeptTicket t;
    t.folder = folder;
    t.folder_name = folder.substr(folder.rfind('\\') + 1);
    t.printer = platform::print::printer_of_folder(t.folder_name);
    t.base = base;
    // Most are printed: their name is looked for first, in the printer's
    // folder and then in its day's.
    if (!files_.exists(SpoolStore::path(folder, base, false))) {
      if (files_.exists(SpoolStore::filed_path(folder, base))) {
        t.filed = true;
      } else if (files_.exists(SpoolStore::path(folder, base, true))) {
        t.marked = true;
      } else {
        continue;  // removed
      }
    }
    t.file_name = platform::print::marked_name(base);
    if (!t.marked) t.file_name = base + std::string(platform::print::kTicketExtension);
    t.job_noted = t.marked && store.read_note(t.folder, t.base) != 0;
    t.state = file_state(t.marked, t.job_noted);
    tickets.push_back(std::move(t));
  }
  read_facts(tickets, known);
  return tickets;
}

void SpoolView::read_facts(std::vector<KeptTicket>& tickets, std::map<std::string, platform::TicketFacts>* known) {
  std::map<std::string, platform::TicketFacts> now;
  for (auto& t : tickets) {
    // Marked or not, a ticket is the same text: known by its folder and base.
    const std::string key = t.folder + "\\" + t.base;
    if (known != nullptr) {
      if (const auto it = known->find(key); it != known->end()) {
        t.facts = it->second;
        now.emplace(key, t.facts);
        continue;
      }
    }
    std::string text;
    if (this->text(t, text)) {
      t.facts = layout_.facts(text);
      now.emplace(key, t.facts);
    }
  }
  if (known != nullptr) *known = std::move(now);
}

std::optional<KeptTicket> SpoolView::find(std::string_view printer, std::string_view ticket) {
  const auto named = [&](const KeptTicket& t) {
    return record::same_letters(t.file_name, ticket) || record::same_letters(t.base, ticket);
  };
  for (const auto& folder : folders(std::string(printer))) {
    std::vector<KeptTicket> found;
    bool earlier = false;
    read_folder(folder, {}, earlier, true, found);
    // Not in the folder itself: filed in the day its name carries.
    if (ticket.size() >= 8 && platform::print::is_day_name(ticket.substr(0, 8))) {
      read_day(folder, ticket.substr(0, 8), found);
    }
    for (auto& t : found) {
      if (named(t)) return std::move(t);
    }
  }
  return std::nullopt;
}

std::vector<KeptTicket> SpoolView::day_of(KeptTicket& chosen) {
  std::vector<KeptTicket> day;
  for (const auto& folder : folders(std::nullopt)) {
    bool earlier = false;
    read_day(folder, chosen.date(), day);
    read_folder(folder, {}, earlier, false, day);
  }
  std::erase_if(day, [&](const KeptTicket& t) { return t.date() != chosen.date(); });
  for (KeptTicket& t : day) {
    if (std::string text; this->text(t, text)) t.facts = layout_.facts(text);
    if (t.folder == chosen.folder && t.base == chosen.base) chosen.facts = t.facts;
  }
  return day;
}

bool SpoolView::text(const KeptTicket& ticket, std::string& out) { return read_kept_ticket(files_, ticket, out); }

std::vector<KeptTicket> tickets_of_order(const std::vector<KeptTicket>& tickets, const KeptTicket& chosen) {
  using Kind = platform::TicketFacts::Kind;
  if (chosen.facts.order.empty()) return {};
  std::vector<KeptTicket> same;
  for (const auto& t : tickets) {
    if (t.facts.order == chosen.facts.order && t.date() == chosen.date() && !t.facts.second_copy) same.push_back(t);
  }
  std::sort(same.begin(), same.end(), [](const KeptTicket& a, const KeptTicket& b) { return a.base < b.base; });
  // The order's span: after the bill before the chosen ticket, up to its own bill.
  std::size_t first = 0;
  std::size_t last = same.size();
  for (std::size_t i = 0; i < same.size(); ++i) {
    const bool bill = same[i].facts.kind == Kind::bill;
    if (same[i].base < chosen.base && bill) first = i + 1;
    if (same[i].base >= chosen.base && bill) {
      last = i + 1;
      break;
    }
  }
  return {same.begin() + static_cast<std::ptrdiff_t>(first), same.begin() + static_cast<std::ptrdiff_t>(last)};
}

std::vector<KeptTicket> tickets_of_order_like(const std::vector<KeptTicket>& tickets, const KeptTicket& chosen) {
  std::vector<KeptTicket> same = tickets_of_order(tickets, chosen);
  std::erase_if(same, [&](const KeptTicket& t) { return t.facts.kind != chosen.facts.kind; });
  return same;
}

// ---------------------------------------------------------------------------
// DirectReprint

void DirectReprint::log(std::string_view text) { log::write_log_line(files_, clock_, text); }

// Whether the ticket's folder takes files: a ticket whose mark could not be
// taken off afterwards would be printed again by the monitor.
bool DirectReprint::folder_writable(const KeptTicket& t) {
  const std::string probe = t.folder + "\\KAVSPOOL.TST";
  std::unique_ptr<platform::File> file;
  bool written = files_.open(probe, platform::OpenMode::output, file).ok();
  if (written) written = file->write("kav-spool").ok() && file->close().ok();
  file.reset();
  files_.remove(probe).ignore();  // a probe left behind is harmless
  return written;
}

// A marked ticket already handed over: what its job became. Settles one the
// spooler finished; says so of one still in the queue. True when the ticket
// is dealt with (nothing to print), with `rc` set.
bool DirectReprint::settled_by_its_job(const KeptTicket& t, bool reprint_unknown, int& rc) {
  if (!t.marked) return false;
  SpoolStore store(files_);
  const int job_id = store.read_note(t.folder, t.base);
  if (job_id <= 0) return false;
  const JobState state = outlet_.job(t.printer, job_id);
  const std::string name = t.printer + "\\" + t.base;
  const std::string job = std::to_string(job_id);
  if (state == JobState::completed) {
    if (!store.unmark(t.folder, t.base)) {
      say_error_("o trabalho " + job + " de " + name +
                 record::cp1252(" já foi impresso, mas a marca NÃO ENTREGUE não pôde ser retirada (") +
                 shown_path(files_, t.path()) + record::cp1252("); verifique as permissões da pasta"));
      rc = 1;
      return true;
    }
    log("Baixado: " + name + " (trabalho " + job + record::cp1252(" já impresso)"));
    say_(name + record::cp1252(" já impresso (trabalho ") + job + "); marca retirada");
    rc = 0;
    return true;
  }
  if (state == JobState::pending) {
    say_(name + record::cp1252(" ainda está na fila da impressora (trabalho ") + job +
         record::cp1252("); não foi reimpresso"));
    rc = 0;
    return true;
  }
  if (state == JobState::gone && !reprint_unknown) {
    // The spooler forgot the job: it may have printed.
    say_error_(record::cp1252("o spooler não conhece mais o trabalho ") + job + " de " + name +
               record::cp1252(", que pode ter sido impresso; não foi reimpresso. Confira o papel e use \"reprint\" ou "
                              "\"settle\" para este ticket"));
    rc = 1;
    return true;
  }
  return false;  // cancelled (or forgotten, and asked for by name): print it again
}

// Hands the ticket over, marked as a second copy, and follows its job for
// at most a minute. The mark of an undelivered ticket goes when the printer
// has finished it; its job is noted beside it first, so that a mark that
// cannot go never makes the monitor print it again.
int DirectReprint::reprint(const KeptTicket& t, bool reprint_unknown) {
  const std::string name = t.printer + "\\" + t.base;
  std::string text;
  if (!read_kept_ticket(files_, t, text)) {
    say_error_(record::cp1252("não foi possível ler ") + shown_path(files_, t.path()));
    return 1;
  }
  if (t.marked && !folder_writable(t)) {
    say_error_("a pasta " + shown_path(files_, t.folder) + record::cp1252(" não aceita gravação: a marca de ") + name +
               record::cp1252(" não poderia ser retirada; não foi impresso"));
    return 1;
  }
  if (!outlet_.refresh({})) {
    say_error_(record::cp1252("o spooler de impressão não responde; ") + name + record::cp1252(" não foi impresso"));
    log(record::cp1252("Reimpressão falhou: spooler fora do ar (") + name + ") !!!");
    return 1;
  }
  if (int rc = 0; settled_by_its_job(t, reprint_unknown, rc)) return rc;
  if (outlet_.printer(t.printer) != PrinterState::ready) {
    say_error_("a impressora " + t.printer + record::cp1252(" não existe ou está parada; ") + t.file_name +
               record::cp1252(" não foi impresso"));
    log(record::cp1252("Reimpressão falhou: ") + t.printer + " parada ou inexistente !!!");
    return 1;
  }
  const std::string title = platform::print::job_title(t.base, files_.host_path(platform::print::kSpoolRoot));
  log("Reimprimindo " + t.base + " em " + t.printer + record::cp1252(" (2ª via) ..."));
  // On the roll, as the print form always asks: the settings the ticket was
  // made with are not kept beside it.
  const platform::print::Delivery d = outlet_.submit(
      platform::print::TicketJob{t.printer, title, platform::print::PageSetup{}},
      layout_.second_copy(text, platform::kLineEnd));
  if (!d.delivered()) {
    say_error_("a impressora " + t.printer + record::cp1252(" não aceitou ") + t.file_name + ": " + d.detail);
    log(record::cp1252("Reimpressão falhou em ") + t.printer + ": " + t.file_name + " !!!");
    return 1;
  }
  SpoolStore store(files_);
  if (t.marked) {
    store.write_note(t.folder, t.base, d.job_id);
    if (store.read_note(t.folder, t.base) != d.job_id) {
      say_error_("a nota do trabalho " + std::to_string(d.job_id) + " de " + name +
                 record::cp1252(" não pôde ser gravada: o monitor pode imprimi-lo de novo; baixe-o com \"settle\" "
                                "quando sair no papel"));
      log("Reimpresso sem nota do trabalho: " + name + " !!!");
      return 1;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  JobState state = JobState::pending;
  while (state == JobState::pending && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    state = outlet_.job(t.printer, d.job_id);
  }
  if (state == JobState::completed || state == JobState::gone) {
    if (t.marked && !store.unmark(t.folder, t.base)) {
      say_error_(name + " foi impresso (trabalho " + std::to_string(d.job_id) +
                 record::cp1252("), mas a marca NÃO ENTREGUE não pôde ser retirada; a nota do trabalho fica, e o "
                                "monitor não o imprime de novo"));
      log("Reimpresso em " + t.printer + ": " + t.base + record::cp1252(", marca não retirada !!!"));
      return 1;
    }
    log("Reimpresso em " + t.printer + ": " + t.base + record::cp1252(" (2ª via)"));
    say_(name + " impresso");
    return 0;
  }
  say_error_("o trabalho " + std::to_string(d.job_id) + " de " + t.file_name +
             (state == JobState::aborted ? " foi cancelado" : " ainda espera na fila da impressora"));
  return 1;
}

}  // namespace kav::printing
