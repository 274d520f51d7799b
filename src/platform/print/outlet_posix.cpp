// Printing through CUPS: a ticket goes to the destination of the printer's
// name as plain UTF-8 text in one Print-Job request, with the options of its
// page for the text filter (cups_text_options); the hand-over returns
// as soon as CUPS holds the job. One look at CUPS asks for every printer's
// state in one request and for the jobs in a second one, so a check costs
// the same with 1 or 100 tickets. A raw job (ESC/POS bytes) goes the same way
// as application/vnd.cups-raw, which CUPS hands to the backend untouched.
#include <cups/cups.h>
#include <cups/pwg.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <map>

#include "platform/print/outlet.h"
#include "record/cp1252.h"
#include "record/letter_case.h"

namespace kav::platform::print {

namespace {

// CUPS compares printer names without regard to case.
std::string key_of(std::string_view utf8_name) {
  return record::lower(utf8_name);
}

JobState state_of(int ipp_state) {
  switch (ipp_state) {
    case IPP_JSTATE_COMPLETED: return JobState::completed;
    case IPP_JSTATE_CANCELED:
    case IPP_JSTATE_ABORTED: return JobState::aborted;
    case 0: return JobState::gone;
    default: return JobState::pending;  // pending, held, processing, stopped
  }
}

Delivery result(Outcome outcome, int job_id = 0) { return Delivery{outcome, job_id, cupsLastErrorString()}; }

class CupsOutlet final : public PrinterOutlet {
 public:
  bool refresh(const std::set<std::string>& job_printers, int first_job) override {
    printers_.clear();
    jobs_.clear();
    unlisted_.clear();
    if (!look_at_printers()) return false;
    if (!job_printers.empty()) look_at_jobs(job_printers, first_job);
    return true;
  }

  PrinterState printer(std::string_view name) const override {
    const auto it = printers_.find(key_of(record::to_utf8(name)));
    return it == printers_.end() ? PrinterState::unknown : it->second;
  }

  const std::vector<JobInfo>& jobs() const override { return jobs_; }

  // A job the scheduler does not know is gone; one it could not be asked
  // about (no answer, a refusal) is unknown.
  JobState job(std::string_view, int job_id) override {
    int state = 0;
    const ipp_status_t status = job_attribute(job_id, "job-state", [&](ipp_attribute_t* attr) {
      if (ippGetValueTag(attr) == IPP_TAG_ENUM) state = ippGetInteger(attr, 0);
    });
    if (status == IPP_STATUS_ERROR_NOT_FOUND) return JobState::gone;
    if (status > IPP_STATUS_OK_EVENTS_COMPLETE || state == 0) return JobState::unknown;
    return state_of(state);
  }

  std::string job_name(int job_id) override {
    std::string name;
    job_attribute(job_id, "job-name", [&](ipp_attribute_t* attr) {
      if (const char* text = ippGetString(attr, 0, nullptr)) name = record::cp1252(text);
    });
    return name;
  }

  // One Print-Job request carries the job and its document together: CUPS
  // makes the job only when the whole request has arrived, so a monitor
  // stopped in the middle leaves no job without its ticket behind.
  Delivery submit(const TicketJob& job, std::string_view ticket) override {
    return print_job(job, record::to_utf8(ticket), CUPS_FORMAT_TEXT, true);
  }

  // A raw job: CUPS passes the bytes to the printer's backend untouched.
  Delivery submit_raw(const TicketJob& job, std::string_view bytes) override {
    return print_job(job, std::string(bytes), CUPS_FORMAT_RAW, false);
  }

  // The queue's default media: its size from media-col-default, or from the
  // PWG (or PPD) name in media-default.
  std::optional<Paper> default_paper(std::string_view printer_name) override {
    const std::string name = record::to_utf8(printer_name);
    if (name.empty()) return std::nullopt;
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     name.c_str());
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    static const char* const kWanted[] = {"media-default", "media-col-default"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr, kWanted);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (response == nullptr) return std::nullopt;
    std::optional<Paper> paper;
    if (ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE) {
      Paper p;
      if (ipp_attribute_t* media = ippFindAttribute(response, "media-default", IPP_TAG_ZERO)) {
        if (const char* text = ippGetString(media, 0, nullptr)) p.name = text;
      }
      if (ipp_attribute_t* col = ippFindAttribute(response, "media-col-default", IPP_TAG_BEGIN_COLLECTION)) {
        ipp_t* size = nullptr;
        if (ipp_attribute_t* s = ippFindAttribute(ippGetCollection(col, 0), "media-size", IPP_TAG_BEGIN_COLLECTION)) {
          size = ippGetCollection(s, 0);
        }
        ipp_attribute_t* x = size != nullptr ? ippFindAttribute(size, "x-dimension", IPP_TAG_INTEGER) : nullptr;
        ipp_attribute_t* y = size != nullptr ? ippFindAttribute(size, "y-dimension", IPP_TAG_INTEGER) : nullptr;
        if (x != nullptr && y != nullptr) {
          p.width = ippGetInteger(x, 0) / 10;  // hundredths of a millimetre
          p.length = ippGetInteger(y, 0) / 10;
        }
      }
      if (p.width == 0 && !p.name.empty()) {
        const pwg_media_t* known = pwgMediaForPWG(p.name.c_str());
        if (known == nullptr) known = pwgMediaForPPD(p.name.c_str());
        if (known == nullptr) known = pwgMediaForLegacy(p.name.c_str());
        if (known != nullptr) {
          p.width = known->width / 10;
          p.length = known->length / 10;
        }
      }
      if (!p.name.empty() || p.width > 0) paper = p;
    }
    ippDelete(response);
    return paper;
  }

 private:
  Delivery print_job(const TicketJob& job, const std::string& text, const char* format, bool text_options) {
    const std::string name = record::to_utf8(job.printer);
    const std::string title = record::to_utf8(job.title);
    if (name.empty()) return Delivery{Outcome::no_printer, 0, {}};

    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     name.c_str());
    const std::string_view whole = uri;
    const std::string resource(whole.substr(std::min(whole.find("/printers/"), whole.size())));
    ipp_t* request = ippNewRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, format);
    if (text_options) {
      cups_option_t* options = nullptr;
      int num_options = 0;
      for (const auto& [option, value] : cups_text_options(job.page)) {
        num_options = cupsAddOption(option.c_str(), value.c_str(), num_options, &options);
      }
      cupsEncodeOptions2(request, num_options, options, IPP_TAG_JOB);
      cupsFreeOptions(num_options, options);
    }
    // The document goes from an unnamed temporary file, which the system
    // removes however this process ends.
    std::FILE* doc = std::tmpfile();
    const bool staged = doc != nullptr && std::fwrite(text.data(), 1, text.size(), doc) == text.size() &&
                        std::fflush(doc) == 0 && std::fseek(doc, 0, SEEK_SET) == 0;
    if (!staged) {
      if (doc != nullptr) std::fclose(doc);
      ippDelete(request);
      return Delivery{Outcome::failed, 0, "no temporary file for the document"};
    }
    ipp_t* response = cupsDoIORequest(CUPS_HTTP_DEFAULT, request, resource.c_str(), fileno(doc), -1);  // frees request
    std::fclose(doc);
    const ipp_status_t err = cupsLastError();
    int job_id = 0;
    if (response != nullptr) {
      if (ipp_attribute_t* attr = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER)) {
        job_id = ippGetInteger(attr, 0);
      }
      ippDelete(response);
    }
    if (job_id > 0 && err <= IPP_STATUS_OK_EVENTS_COMPLETE) return Delivery{Outcome::accepted, job_id, {}};
    if (response == nullptr && err == IPP_STATUS_OK) return result(Outcome::failed);
    const bool unknown = err == IPP_STATUS_ERROR_NOT_FOUND || printer(job.printer) == PrinterState::unknown;
    return result(unknown                                      ? Outcome::unknown_printer
                  : err == IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS ? Outcome::stopped
                                                               : Outcome::refused);
  }

  // Every printer's state, in one request; false when CUPS did not answer.
  bool look_at_printers() {
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    static const char* const kWanted[] = {"printer-name", "printer-state", "printer-is-accepting-jobs"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, kWanted);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (response == nullptr) return false;
    const bool answered = ippGetStatusCode(response) <= IPP_STATUS_OK_EVENTS_COMPLETE ||
                          ippGetStatusCode(response) == IPP_STATUS_ERROR_NOT_FOUND;
    std::string name;
    bool accepting = true;
    int state = IPP_PSTATE_IDLE;
    auto keep = [&] {
      if (!name.empty()) {
        printers_[key_of(name)] =
            accepting && state != IPP_PSTATE_STOPPED ? PrinterState::ready : PrinterState::stopped;
      }
      name.clear();
      accepting = true;
      state = IPP_PSTATE_IDLE;
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr; a = ippNextAttribute(response)) {
      const char* an = ippGetName(a);
      if (an == nullptr) {  // a separator between printers
        keep();
        continue;
      }
      const std::string_view attr = an;
      if (attr == "printer-name") name = ippGetString(a, 0, nullptr);
      if (attr == "printer-state") state = ippGetInteger(a, 0);
      if (attr == "printer-is-accepting-jobs") accepting = ippGetBoolean(a, 0) != 0;
    }
    keep();
    ippDelete(response);
    return answered;
  }

  // The jobs of `job_printers` from `first_job` on, in one Get-Jobs request
  // with only what is needed of each: the whole history of a busy server
  // takes seconds. Finished jobs that CUPS no longer holds in memory come
  // without their names (job_name() asks for one).
  void look_at_jobs(const std::set<std::string>& job_printers, int first_job) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    if (first_job > 0) ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "first-job-id", first_job);
    static const char* const kJobAttrs[] = {"job-id", "job-state", "job-name", "job-printer-uri"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 4, nullptr, kJobAttrs);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    // A refusal (a busy scheduler, say) lists no jobs: taken as "no jobs" it
    // would make tickets already printed look never handed over, and they
    // would be sent again. Their jobs are asked for one by one instead.
    if (response == nullptr || (ippGetStatusCode(response) > IPP_STATUS_OK_EVENTS_COMPLETE &&
                                ippGetStatusCode(response) != IPP_STATUS_ERROR_NOT_FOUND)) {
      ippDelete(response);
      unlisted_ = job_printers;
      return;
    }
    keep_jobs(response, job_printers);
    ippDelete(response);
  }

  // The jobs of a Get-Jobs answer that went to one of `job_printers`.
  void keep_jobs(ipp_t* response, const std::set<std::string>& job_printers) {
    std::set<std::string> wanted;
    for (const auto& p : job_printers) wanted.insert(key_of(record::to_utf8(p)));
    JobInfo job;
    auto keep_job = [&] {
      if (job.id > 0 && wanted.contains(key_of(record::to_utf8(job.printer)))) jobs_.push_back(job);
      job = JobInfo{};
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr; a = ippNextAttribute(response)) {
      const char* an = ippGetName(a);
      if (an == nullptr) {
        keep_job();
        continue;
      }
      const std::string_view attr = an;
      if (attr == "job-id") job.id = ippGetInteger(a, 0);
      if (attr == "job-state") job.state = state_of(ippGetInteger(a, 0));
      if (attr == "job-name") job.title = record::cp1252(ippGetString(a, 0, nullptr));
      if (attr == "job-printer-uri") {
        const std::string_view uri = ippGetString(a, 0, nullptr);
        job.printer = record::cp1252(uri.substr(uri.rfind('/') + 1));
      }
    }
    keep_job();
  }

  // One attribute of one job, asked for by itself, handed to `use` when the
  // spooler answers with it.
  // The scheduler's status of the request.
  static ipp_status_t job_attribute(int job_id, const char* name,
                                    const std::function<void(ipp_attribute_t*)>& use) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    const std::string uri = "ipp://localhost/jobs/" + std::to_string(job_id);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, name);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (response == nullptr) return cupsLastError();
    const ipp_status_t status = ippGetStatusCode(response);
    if (ipp_attribute_t* attr = ippFindAttribute(response, name, IPP_TAG_ZERO)) use(attr);
    ippDelete(response);
    return status;
  }

  std::map<std::string, PrinterState> printers_;
  std::vector<JobInfo> jobs_;
};

}  // namespace

std::unique_ptr<PrinterOutlet> make_os_outlet() { return std::make_unique<CupsOutlet>(); }

}  // namespace kav::platform::print
