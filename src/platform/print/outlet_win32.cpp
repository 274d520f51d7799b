// Printing through the Windows spooler: a ticket goes to the printer of that
// name as a raw Windows-1252 text document; the hand-over returns as soon as
// the spooler holds the job. One look enumerates the printers once and the
// queues of the printers that have tickets in them.
#include <windows.h>
#include <winspool.h>

#include <cctype>
#include <map>
#include <vector>

#include "platform/print/outlet.h"

namespace kav::platform::print {

namespace {

std::string last_error_text() {
  char buf[256] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(), 0, buf,
                 sizeof buf, nullptr);
  return buf;
}

// The spooler compares printer names without regard to case.
std::string key_of(std::string_view name) {
  std::string k(name);
  for (char& c : k) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return k;
}

JobState state_of(DWORD status) {
  if (status & (JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE)) return JobState::completed;
  if (status & (JOB_STATUS_DELETED | JOB_STATUS_DELETING)) return JobState::aborted;
  return JobState::pending;
}

constexpr DWORD kStoppedPrinter = PRINTER_STATUS_PAUSED | PRINTER_STATUS_ERROR | PRINTER_STATUS_PENDING_DELETION |
                                  PRINTER_STATUS_PAPER_OUT | PRINTER_STATUS_OFFLINE | PRINTER_STATUS_NOT_AVAILABLE;

class WindowsOutlet final : public PrinterOutlet {
 public:
  bool refresh(const std::set<std::string>& job_printers, int /*first_job*/) override {
    printers_.clear();
    jobs_.clear();
    DWORD needed = 0;
    DWORD count = 0;
    const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    EnumPrintersA(flags, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buf(needed + 1);
    if (!EnumPrintersA(flags, nullptr, 2, buf.data(), needed, &needed, &count)) return false;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buf.data());
    for (DWORD i = 0; i < count; ++i) {
      if (info[i].pPrinterName == nullptr) continue;
      printers_[key_of(info[i].pPrinterName)] =
          (info[i].Status & kStoppedPrinter) != 0 ? PrinterState::stopped : PrinterState::ready;
    }
    for (const auto& printer : job_printers) list_jobs(printer);
    return true;
  }

  PrinterState printer(std::string_view name) const override {
    const auto it = printers_.find(key_of(name));
    return it == printers_.end() ? PrinterState::unknown : it->second;
  }

  const std::vector<JobInfo>& jobs() const override { return jobs_; }

  // A job that has left the queue has been printed: the spooler keeps no
  // history of finished jobs.
  JobState job(std::string_view printer_name, int job_id) override {
    HANDLE printer = nullptr;
    std::string name(printer_name);
    if (!OpenPrinterA(name.data(), &printer, nullptr)) return JobState::gone;
    DWORD needed = 0;
    GetJobA(printer, static_cast<DWORD>(job_id), 1, nullptr, 0, &needed);
    JobState state = JobState::gone;
    if (needed != 0) {
      std::vector<BYTE> buf(needed);
      if (GetJobA(printer, static_cast<DWORD>(job_id), 1, buf.data(), needed, &needed)) {
        state = state_of(reinterpret_cast<JOB_INFO_1A*>(buf.data())->Status);
      }
    }
    ClosePrinter(printer);
    return state;
  }

  Delivery submit(const TicketJob& job, std::string_view ticket) override {
    if (job.printer.empty()) return Delivery{Outcome::no_printer, 0, {}};
    HANDLE printer = nullptr;
    std::string name = job.printer;
    if (!OpenPrinterA(name.data(), &printer, nullptr)) {
      const DWORD err = GetLastError();
      return Delivery{err == ERROR_INVALID_PRINTER_NAME ? Outcome::unknown_printer : Outcome::failed, 0,
                      last_error_text()};
    }
    std::string title = job.title;
    char datatype[] = "RAW";
    DOC_INFO_1A doc{title.data(), nullptr, datatype};
    const DWORD job_id = StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&doc));
    if (job_id == 0) {
      Delivery d{Outcome::refused, 0, last_error_text()};
      ClosePrinter(printer);
      return d;
    }
    DWORD written = 0;
    const bool sent = StartPagePrinter(printer) &&
                      WritePrinter(printer, const_cast<char*>(ticket.data()), static_cast<DWORD>(ticket.size()),
                                   &written) &&
                      written == ticket.size() && EndPagePrinter(printer);
    const bool ended = EndDocPrinter(printer) != 0;
    Delivery d = sent && ended ? Delivery{Outcome::accepted, static_cast<int>(job_id), {}}
                               : Delivery{Outcome::failed, static_cast<int>(job_id), last_error_text()};
    ClosePrinter(printer);
    return d;
  }

 private:
  void list_jobs(const std::string& printer_name) {
    HANDLE printer = nullptr;
    std::string name = printer_name;
    if (!OpenPrinterA(name.data(), &printer, nullptr)) return;
    DWORD needed = 0;
    DWORD count = 0;
    EnumJobsA(printer, 0, 0xFFFF, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buf(needed + 1);
    if (EnumJobsA(printer, 0, 0xFFFF, 1, buf.data(), needed, &needed, &count)) {
      const auto* info = reinterpret_cast<const JOB_INFO_1A*>(buf.data());
      for (DWORD i = 0; i < count; ++i) {
        jobs_.push_back(JobInfo{static_cast<int>(info[i].JobId), printer_name,
                                info[i].pDocument != nullptr ? info[i].pDocument : "", state_of(info[i].Status)});
      }
    }
    ClosePrinter(printer);
  }

  std::map<std::string, PrinterState> printers_;
  std::vector<JobInfo> jobs_;
};

}  // namespace

std::unique_ptr<PrinterOutlet> make_os_outlet() { return std::make_unique<WindowsOutlet>(); }

}  // namespace kav::platform::print
