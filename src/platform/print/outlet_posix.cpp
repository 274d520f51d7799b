// Printing through CUPS: the ticket goes to the destination of the printer's
// name as plain UTF-8 text, and the job is followed until CUPS has finished
// it, failed it, or the time to follow it has run out.
#include <cups/cups.h>

#include <thread>

#include "platform/print/outlet.h"
#include "record/cp1252.h"

namespace kav::platform::print {

namespace {

// The state of a job, or 0 when CUPS cannot tell.
int job_state(int job_id) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  const std::string uri = "ipp://localhost/jobs/" + std::to_string(job_id);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "job-state");
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  int state = 0;
  if (response != nullptr) {
    if (ipp_attribute_t* attr = ippFindAttribute(response, "job-state", IPP_TAG_ENUM)) state = ippGetInteger(attr, 0);
    ippDelete(response);
  }
  return state;
}

Delivery result(Outcome outcome, int job_id = 0) { return Delivery{outcome, job_id, cupsLastErrorString()}; }

class CupsOutlet final : public PrinterOutlet {
 public:
  explicit CupsOutlet(std::chrono::milliseconds follow_for) : follow_for_(follow_for) {}

  Delivery deliver(const TicketJob& job, std::string_view ticket) override {
    const std::string name = record::to_utf8(job.printer);
    const std::string title = record::to_utf8(job.title);
    if (name.empty()) return Delivery{Outcome::no_printer, 0, {}};

    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.c_str(), nullptr);
    if (dest == nullptr) {
      const ipp_status_t err = cupsLastError();
      return result(err == IPP_STATUS_OK || err == IPP_STATUS_ERROR_NOT_FOUND ? Outcome::unknown_printer
                                                                               : Outcome::failed);
    }
    cupsFreeDests(1, dest);

    cups_option_t* options = nullptr;
    int num_options = 0;
    if (!job.form_size.empty()) num_options = cupsAddOption("media", job.form_size.c_str(), num_options, &options);
    const int job_id = cupsCreateJob(CUPS_HTTP_DEFAULT, name.c_str(), title.c_str(), num_options, options);
    cupsFreeOptions(num_options, options);
    if (job_id == 0) return result(Outcome::refused);

    const std::string text = record::to_utf8(ticket);
    if (cupsStartDocument(CUPS_HTTP_DEFAULT, name.c_str(), job_id, title.c_str(), CUPS_FORMAT_TEXT, 1) !=
        HTTP_STATUS_CONTINUE) {
      cupsCancelJob2(CUPS_HTTP_DEFAULT, name.c_str(), job_id, 0);
      return result(Outcome::refused, job_id);
    }
    const bool sent = cupsWriteRequestData(CUPS_HTTP_DEFAULT, text.data(), text.size()) == HTTP_STATUS_CONTINUE;
    const ipp_status_t finished = cupsFinishDocument(CUPS_HTTP_DEFAULT, name.c_str());
    if (!sent || finished > IPP_STATUS_OK_EVENTS_COMPLETE) {
      cupsCancelJob2(CUPS_HTTP_DEFAULT, name.c_str(), job_id, 0);
      return result(sent ? Outcome::refused : Outcome::failed, job_id);
    }
    return follow(job_id);
  }

 private:
  Delivery follow(int job_id) const {
    const auto deadline = std::chrono::steady_clock::now() + follow_for_;
    int state = 0;
    for (;;) {
      state = job_state(job_id);
      if (state == IPP_JSTATE_COMPLETED) return Delivery{Outcome::printed, job_id, {}};
      if (state == IPP_JSTATE_CANCELED || state == IPP_JSTATE_ABORTED) return result(Outcome::aborted, job_id);
      if (std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (state == IPP_JSTATE_STOPPED) return Delivery{Outcome::stopped, job_id, "job stopped"};
    // Waiting, held or printing: the queue has the job.
    return Delivery{Outcome::accepted, job_id, {}};
  }

  std::chrono::milliseconds follow_for_;
};

}  // namespace

std::unique_ptr<PrinterOutlet> make_os_outlet(std::chrono::milliseconds follow_for) {
  return std::make_unique<CupsOutlet>(follow_for);
}

}  // namespace kav::platform::print
