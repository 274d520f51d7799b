#include "platform/print/spooling_print_service.h"

#include "platform/file_status.h"
#include "platform/line_end.h"
#include "platform/print/spool.h"
#include "platform/text_file.h"
#include "record/area.h"
#include "record/cp1252.h"

namespace kav::platform::print {

namespace {

// How far an odd printer name may reach into a log line.
std::string shown(std::string_view name) { return record::blank_controls(printer_name(name)); }

std::string_view reason(Outcome outcome) {
  switch (outcome) {
    case Outcome::unknown_printer: return "inexistente";
    case Outcome::refused: return "recusado";
    case Outcome::aborted: return "abortado";
    case Outcome::stopped: return "parado";
    default: return "falha de envio";
  }
}

std::string read_all(FileSystem& files, std::string_view path, std::string& status) {
  TextFile file(files);
  status = file.open(path, OpenMode::input);
  std::string text;
  if (status != status::ok) return text;
  char c = 0;
  while (file.read_char(c) == status::ok) text += c;
  file.close();
  return text;
}

}  // namespace

SpoolingPrintService::SpoolingPrintService(FileSystem& files, Clock& clock, const TicketLayout& layout,
                                           std::unique_ptr<PrinterOutlet> outlet, PrintReport report)
    : files_(files), clock_(clock), layout_(layout), outlet_(std::move(outlet)), report_(std::move(report)) {}

SpoolingPrintService::~SpoolingPrintService() {
  if (open_) close();  // a job left open is still a ticket
}

std::string SpoolingPrintService::open(std::string_view print_form, std::string_view printer_info_path) {
  if (open_) close();
  if (!layout_.is_form(print_form)) return std::string(status::bad_file);
  std::string st;
  const std::string text = read_all(files_, printer_info_path, st);
  settings_ = parse_printer_info(text);
  lines_.clear();
  open_ = true;
  return st == status::ok ? st : std::string(status::not_found);
}

std::string SpoolingPrintService::write(std::string_view group, std::string_view print_record) {
  if (!open_) return std::string(status::write_not_open);
  auto lines = layout_.lines(group, print_record);
  if (!lines) return std::string(status::no_record);
  for (auto& line : *lines) lines_.push_back(std::move(line));
  return std::string(status::ok);
}

std::string SpoolingPrintService::next_base_name(const std::string& folder) {
  std::string date = "20" + clock_.date_yymmdd();
  std::string time = clock_.time_hhmmsscc();
  if (const std::string again = "20" + clock_.date_yymmdd(); again != date) {  // midnight passed in between
    date = again;
    time = clock_.time_hhmmsscc();
  }
  std::string stamp = date + "-" + time;
  if (stamp < last_stamp_) stamp = last_stamp_;  // the clock went back: keep the order of the names
  last_stamp_ = stamp;
  for (int tries = 0;; ++tries) {
    std::string base = ticket_base_name(stamp.substr(0, 8), stamp.substr(9), ++sequence_);
    const std::string path = folder + "\\" + base;
    if (tries >= 1000 || (!files_.exists(path + std::string(kTicketExtension)) &&
                          !files_.exists(path + std::string(kNotDeliveredMark) + std::string(kTicketExtension)))) {
      return base;
    }
  }
}

bool SpoolingPrintService::keep(const std::string& tmp, const std::string& path, const std::string& text) {
  std::unique_ptr<File> file;
  if (files_.open(tmp, OpenMode::output, file) != status::ok) return false;
  const bool written = file->write(text) && file->sync();
  const bool closed = file->close();
  if (written && closed && files_.rename(tmp, path)) return true;
  files_.remove(tmp);
  return false;
}

void SpoolingPrintService::report(std::string_view text) {
  if (report_) report_(text);
}

std::string SpoolingPrintService::close() {
  if (!open_) return std::string(status::not_open);
  open_ = false;

  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += kLineEnd;
  }
  lines_.clear();

  const std::string_view printer = printer_name(settings_.printer);
  const std::string folder = std::string(kSpoolRoot) + "\\" + spool_folder_name(settings_.printer);
  files_.create_directory(kSpoolRoot);
  files_.create_directory(folder);
  const std::string base = next_base_name(folder);
  const std::string kept = folder + "\\" + base + std::string(kNotDeliveredMark) + std::string(kTicketExtension);
  const bool spooled = keep(folder + "\\" + base + ".tmp", kept, text);
  last_ticket_ = spooled ? kept : std::string();

  if (printer.empty()) {
    last_delivery_ = Delivery{Outcome::no_printer, 0, {}};
  } else {
    last_delivery_ = outlet_->deliver(TicketJob{std::string(printer), base, settings_.form_size}, text);
  }

  const std::string file_name = base + std::string(kNotDeliveredMark) + std::string(kTicketExtension);
  if (last_delivery_.delivered()) {
    const std::string delivered = folder + "\\" + base + std::string(kTicketExtension);
    if (spooled && files_.rename(kept, delivered)) last_ticket_ = delivered;
  } else if (last_delivery_.outcome == Outcome::no_printer) {
    report(record::cp1252("Não impresso, sem impressora: ") + file_name + " !!!");
  } else {
    report(record::cp1252("Não impresso em ") + shown(printer) + " (" + std::string(reason(last_delivery_.outcome)) +
           "): " + file_name + " !!!");
  }
  if (!spooled) {
    report("Falha ao gravar Spool de " + (printer.empty() ? std::string("(sem impressora)") : shown(printer)) +
           " !!!");
    return std::string(status::failed);
  }
  return std::string(status::ok);
}

}  // namespace kav::platform::print

namespace kav::platform {

std::unique_ptr<PrintService> make_print_service(FileSystem& files, Clock& clock, const TicketLayout& layout,
                                                 PrintReport report) {
  // Long enough for a ticket printer to finish a ticket; a queue that is
  // slower than that still holds the job, which then counts as taken.
  constexpr std::chrono::milliseconds kFollowFor{2000};
  return std::make_unique<print::SpoolingPrintService>(files, clock, layout, print::make_os_outlet(kFollowFor),
                                                       std::move(report));
}

}  // namespace kav::platform
