// Printing through the Windows spooler: a ticket is drawn as text on the
// printer of that name through its driver (GDI), in the font and on the paper
// of its page; the hand-over returns as soon as the spooler holds the job. One look enumerates the printers once and the
// queues of the printers that have tickets in them.
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwchar>
#include <map>
#include <vector>

#include "platform/print/outlet.h"
#include "record/letter_case.h"

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
  return record::lower(name);
}

JobState state_of(DWORD status) {
  if (status & (JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE)) return JobState::completed;
  if (status & (JOB_STATUS_DELETED | JOB_STATUS_DELETING)) return JobState::aborted;
  return JobState::pending;
}

// "No such job" from GetJob: Windows names ERROR_INVALID_PARAMETER. Wine's
// spooler, which passes a job on to CUPS when it ends and forgets it, fails
// without naming any error (the one set before the call stands).
bool no_such_job(DWORD error) { return error == ERROR_INVALID_PARAMETER || error == ERROR_SUCCESS; }

constexpr DWORD kStoppedPrinter = PRINTER_STATUS_PAUSED | PRINTER_STATUS_ERROR | PRINTER_STATUS_PENDING_DELETION |
                                  PRINTER_STATUS_PAPER_OUT | PRINTER_STATUS_OFFLINE | PRINTER_STATUS_NOT_AVAILABLE;

// Windows-1252 text as UTF-16, whatever the machine's code page.
std::wstring wide(std::string_view text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// The printer's own settings, with the paper of a sheet form when it names
// one; empty when the driver gives none (the printer's defaults are used).
std::vector<BYTE> device_mode(HANDLE printer, std::string& name, const PageSetup& page) {
  const LONG size = DocumentPropertiesA(nullptr, printer, name.data(), nullptr, nullptr, 0);
  if (size <= 0) return {};
  std::vector<BYTE> mode(static_cast<std::size_t>(size));
  auto* dm = reinterpret_cast<DEVMODEA*>(mode.data());
  if (DocumentPropertiesA(nullptr, printer, name.data(), dm, nullptr, DM_OUT_BUFFER) != IDOK) return {};
  if (const short paper = windows_paper(page); paper != 0) {
    dm->dmPaperSize = paper;
    dm->dmFields |= DM_PAPERSIZE;
    dm->dmFields &= ~static_cast<DWORD>(DM_PAPERLENGTH | DM_PAPERWIDTH | DM_FORMNAME);
    DocumentPropertiesA(nullptr, printer, name.data(), dm, dm, DM_IN_BUFFER | DM_OUT_BUFFER);
  }
  return mode;
}

// Draws the ticket line by line from the top of the printable area, on as
// many pages as it takes.
// A ticket keeps a margin on the printable area: 2 mm at the top, and on the
// left what the 48 columns leave of the width, split in two, at most 4 mm.
bool draw(HDC dc, HFONT font, std::string_view ticket) {
  const int page_height = GetDeviceCaps(dc, VERTRES);
  const int top = GetDeviceCaps(dc, LOGPIXELSY) * 2 * 10 / 254;
  const int most_left = GetDeviceCaps(dc, LOGPIXELSX) * 4 * 10 / 254;
  bool page_open = false;
  int y = 0;
  int left = 0;
  int line_height = 0;
  auto start_page = [&] {
    if (StartPage(dc) <= 0) return false;
    if (font != nullptr) SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    line_height = static_cast<int>(tm.tmHeight + tm.tmExternalLeading);
    if (line_height < 1) line_height = 1;
    left = std::clamp((GetDeviceCaps(dc, HORZRES) - 48 * static_cast<int>(tm.tmAveCharWidth)) / 2, 0, most_left);
    page_open = true;
    y = top;
    return true;
  };
  while (!ticket.empty()) {
    const std::size_t nl = ticket.find('\n');
    std::string_view line = ticket.substr(0, nl);
    ticket.remove_prefix(nl == std::string_view::npos ? ticket.size() : nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (page_open && y + line_height > page_height) {
      if (EndPage(dc) <= 0) return false;
      page_open = false;
    }
    if (!page_open && !start_page()) return false;
    const std::wstring text = wide(line);
    if (!text.empty() && !TextOutW(dc, left, y, text.c_str(), static_cast<int>(text.size()))) return false;
    y += line_height;
  }
  if (!page_open && !start_page()) return false;  // an empty ticket is still one page
  return EndPage(dc) > 0;
}

class WindowsOutlet final : public PrinterOutlet {
 public:
  bool refresh(const std::set<std::string>& job_printers, int /*first_job*/) override {
    printers_.clear();
    jobs_.clear();
    unlisted_.clear();
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
    // A job listing that fails lists nothing: taken as "no jobs" it would
    // make tickets still queued look printed. Its jobs are asked for one by
    // one (job()) instead; the other printers' listings stand.
    for (const auto& printer : job_printers) {
      if (!list_jobs(printer)) unlisted_.insert(printer);
    }
    return true;
  }

  PrinterState printer(std::string_view name) const override {
    const auto it = printers_.find(key_of(name));
    return it == printers_.end() ? PrinterState::unknown : it->second;
  }

  const std::vector<JobInfo>& jobs() const override { return jobs_; }

  // A job that has left the queue has been printed: the spooler keeps no
  // history of finished jobs. A printer that cannot be opened, or an answer
  // other than "no such job", leaves the job's state unknown.
  JobState job(std::string_view printer_name, int job_id) override {
    HANDLE printer = nullptr;
    std::string name(printer_name);
    if (!OpenPrinterA(name.data(), &printer, nullptr)) return JobState::unknown;
    DWORD needed = 0;
    SetLastError(ERROR_SUCCESS);
    JobState state = JobState::unknown;
    if (!GetJobA(printer, static_cast<DWORD>(job_id), 1, nullptr, 0, &needed) && needed == 0) {
      if (no_such_job(GetLastError())) state = JobState::gone;
    } else if (needed != 0) {
      std::vector<BYTE> buf(needed);
      if (GetJobA(printer, static_cast<DWORD>(job_id), 1, buf.data(), needed, &needed)) {
        state = state_of(reinterpret_cast<JOB_INFO_1A*>(buf.data())->Status);
      }
    }
    ClosePrinter(printer);
    return state;
  }

  // The ticket is drawn as text through the printer's driver, so any printer
  // with a Windows driver prints it: in the font the job names, on the
  // printer's default paper for a roll, on the named paper for sheets.
  Delivery submit(const TicketJob& job, std::string_view ticket) override {
    if (job.printer.empty()) return Delivery{Outcome::no_printer, 0, {}};
    HANDLE printer = nullptr;
    std::string name = job.printer;
    if (!OpenPrinterA(name.data(), &printer, nullptr)) {
      const DWORD err = GetLastError();
      return Delivery{err == ERROR_INVALID_PRINTER_NAME ? Outcome::unknown_printer : Outcome::failed, 0,
                      last_error_text()};
    }
    std::vector<BYTE> mode = device_mode(printer, name, job.page);
    ClosePrinter(printer);
    HDC dc = CreateDCA("WINSPOOL", name.c_str(), nullptr,
                       mode.empty() ? nullptr : reinterpret_cast<const DEVMODEA*>(mode.data()));
    if (dc == nullptr) return Delivery{Outcome::failed, 0, last_error_text()};

    const TicketFont font = ticket_font(job.page);
    const std::wstring face = wide(font.face);
    LOGFONTW lf{};
    lf.lfHeight = -static_cast<LONG>(font.points * GetDeviceCaps(dc, LOGPIXELSY) / 72.0 + 0.5);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = ANSI_CHARSET;
    lf.lfOutPrecision = OUT_TT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    HFONT hfont = CreateFontIndirectW(&lf);

    std::string title = job.title;
    DOCINFOA doc{};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = title.c_str();
    const int job_id = StartDocA(dc, &doc);
    if (job_id <= 0) {
      Delivery d{Outcome::refused, 0, last_error_text()};
      if (hfont != nullptr) DeleteObject(hfont);
      DeleteDC(dc);
      return d;
    }
    const bool sent = draw(dc, hfont, ticket);
    bool ended = false;
    if (sent) {
      ended = EndDoc(dc) > 0;
    } else {
      AbortDoc(dc);
    }
    Delivery d = sent && ended ? Delivery{Outcome::accepted, job_id, {}}
                               : Delivery{Outcome::failed, job_id, last_error_text()};
    if (hfont != nullptr) DeleteObject(hfont);
    DeleteDC(dc);
    return d;
  }

  // A raw job: StartDocPrinter with the "RAW" data type and WritePrinter, so
  // the bytes reach the printer past its driver.
  Delivery submit_raw(const TicketJob& job, std::string_view bytes) override {
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
    DOC_INFO_1A doc{};
    doc.pDocName = title.data();
    doc.pDatatype = datatype;
    const DWORD job_id = StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&doc));
    if (job_id == 0) {
      Delivery d{Outcome::refused, 0, last_error_text()};
      ClosePrinter(printer);
      return d;
    }
    bool sent = StartPagePrinter(printer) != 0;
    std::size_t at = 0;
    while (sent && at < bytes.size()) {
      DWORD written = 0;
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, 1 << 16));
      sent = WritePrinter(printer, const_cast<char*>(bytes.data() + at), chunk, &written) != 0 && written > 0;
      at += written;
    }
    sent = sent && EndPagePrinter(printer) != 0;
    // A job not written whole is taken back: it never prints in part.
    const bool ended = sent ? EndDocPrinter(printer) != 0 : (AbortPrinter(printer), false);
    Delivery d = sent && ended ? Delivery{Outcome::accepted, static_cast<int>(job_id), {}}
                               : Delivery{Outcome::failed, static_cast<int>(job_id), last_error_text()};
    ClosePrinter(printer);
    return d;
  }

  // The driver's default paper: its number and, from the driver's list of
  // papers (DeviceCapabilities), its name and size; a size of its own
  // (dmPaperWidth, dmPaperLength) when the driver gives one.
  std::optional<Paper> default_paper(std::string_view printer_name) override {
    if (printer_name.empty()) return std::nullopt;
    HANDLE printer = nullptr;
    std::string name(printer_name);
    if (!OpenPrinterA(name.data(), &printer, nullptr)) return std::nullopt;
    const std::vector<BYTE> mode = device_mode(printer, name, PageSetup{});
    ClosePrinter(printer);
    if (mode.empty()) return std::nullopt;
    const auto* dm = reinterpret_cast<const DEVMODEA*>(mode.data());
    Paper paper;
    if ((dm->dmFields & DM_PAPERWIDTH) != 0 && dm->dmPaperWidth > 0) paper.width = dm->dmPaperWidth;
    if ((dm->dmFields & DM_PAPERLENGTH) != 0 && dm->dmPaperLength > 0) paper.length = dm->dmPaperLength;
    if ((dm->dmFields & DM_FORMNAME) != 0) {
      paper.name.assign(reinterpret_cast<const char*>(dm->dmFormName),
                        strnlen(reinterpret_cast<const char*>(dm->dmFormName), CCHFORMNAME));
    }
    const short number = (dm->dmFields & DM_PAPERSIZE) != 0 ? dm->dmPaperSize : short{0};
    if (number > 0 && (paper.width == 0 || paper.length == 0 || paper.name.empty())) {
      const int count = DeviceCapabilitiesA(name.c_str(), nullptr, DC_PAPERS, nullptr, dm);
      if (count > 0) {
        std::vector<WORD> numbers(static_cast<std::size_t>(count));
        std::vector<POINT> sizes(static_cast<std::size_t>(count));
        std::vector<char> names(static_cast<std::size_t>(count) * 64 + 1, '\0');
        const bool listed =
            DeviceCapabilitiesA(name.c_str(), nullptr, DC_PAPERS, reinterpret_cast<LPSTR>(numbers.data()), dm) ==
                count &&
            DeviceCapabilitiesA(name.c_str(), nullptr, DC_PAPERSIZE, reinterpret_cast<LPSTR>(sizes.data()), dm) ==
                count;
        const bool named =
            DeviceCapabilitiesA(name.c_str(), nullptr, DC_PAPERNAMES, names.data(), dm) == count;
        for (std::size_t i = 0; listed && i < numbers.size(); ++i) {
          if (numbers[i] != static_cast<WORD>(number)) continue;
          if (paper.width == 0) paper.width = static_cast<int>(sizes[i].x);
          if (paper.length == 0) paper.length = static_cast<int>(sizes[i].y);
          if (paper.name.empty() && named) paper.name.assign(&names[i * 64], strnlen(&names[i * 64], 64));
          break;
        }
      }
      if (paper.name.empty()) paper.name = "DMPAPER " + std::to_string(number);
    }
    if (paper.name.empty() && paper.width == 0) return std::nullopt;
    return paper;
  }

 private:
  // False when the jobs of a printer the spooler has could not be listed.
  bool list_jobs(const std::string& printer_name) {
    HANDLE printer = nullptr;
    std::string name = printer_name;
    if (!OpenPrinterA(name.data(), &printer, nullptr)) return !printers_.contains(key_of(printer_name));
    DWORD needed = 0;
    DWORD count = 0;
    EnumJobsA(printer, 0, 0xFFFF, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buf(needed + 1);
    const bool listed = EnumJobsA(printer, 0, 0xFFFF, 1, buf.data(), needed, &needed, &count) != 0;
    if (listed) {
      const auto* info = reinterpret_cast<const JOB_INFO_1A*>(buf.data());
      for (DWORD i = 0; i < count; ++i) {
        jobs_.push_back(JobInfo{static_cast<int>(info[i].JobId), printer_name,
                                info[i].pDocument != nullptr ? info[i].pDocument : "", state_of(info[i].Status)});
      }
    }
    ClosePrinter(printer);
    return listed;
  }

  std::map<std::string, PrinterState> printers_;
  std::vector<JobInfo> jobs_;
};

}  // namespace

std::unique_ptr<PrinterOutlet> make_os_outlet() { return std::make_unique<WindowsOutlet>(); }

}  // namespace kav::platform::print
