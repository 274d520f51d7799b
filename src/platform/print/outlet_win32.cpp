// Printing through the Windows spooler: the ticket goes to the printer of
// that name as a raw Windows-1252 text document, and the job is followed in
// the printer's queue until it is printed, fails, or the time to follow it
// has run out.
#include <windows.h>
#include <winspool.h>

#include <thread>
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

// The job's status bits, or -1 when the job has left the queue.
long job_status(HANDLE printer, DWORD job_id) {
  DWORD needed = 0;
  GetJobA(printer, job_id, 1, nullptr, 0, &needed);
  if (needed == 0) return -1;
  std::vector<BYTE> buf(needed);
  if (!GetJobA(printer, job_id, 1, buf.data(), needed, &needed)) return -1;
  return static_cast<long>(reinterpret_cast<JOB_INFO_1A*>(buf.data())->Status);
}

class WindowsOutlet final : public PrinterOutlet {
 public:
  explicit WindowsOutlet(std::chrono::milliseconds follow_for) : follow_for_(follow_for) {}

  Delivery deliver(const TicketJob& job, std::string_view ticket) override {
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
    Delivery d = sent && ended ? follow(printer, job_id)
                               : Delivery{Outcome::failed, static_cast<int>(job_id), last_error_text()};
    ClosePrinter(printer);
    return d;
  }

 private:
  Delivery follow(HANDLE printer, DWORD job_id) const {
    const auto deadline = std::chrono::steady_clock::now() + follow_for_;
    const int id = static_cast<int>(job_id);
    for (;;) {
      const long status = job_status(printer, job_id);
      if (status < 0 || (status & (JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE))) return Delivery{Outcome::printed, id, {}};
      if (status & (JOB_STATUS_DELETED | JOB_STATUS_DELETING)) return Delivery{Outcome::aborted, id, "job deleted"};
      if (std::chrono::steady_clock::now() >= deadline) {
        if (status & (JOB_STATUS_ERROR | JOB_STATUS_OFFLINE | JOB_STATUS_PAPEROUT | JOB_STATUS_BLOCKED_DEVQ)) {
          return Delivery{Outcome::stopped, id, "job in error"};
        }
        return Delivery{Outcome::accepted, id, {}};
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  std::chrono::milliseconds follow_for_;
};

}  // namespace

std::unique_ptr<PrinterOutlet> make_os_outlet(std::chrono::milliseconds follow_for) {
  return std::make_unique<WindowsOutlet>(follow_for);
}

}  // namespace kav::platform::print
