// The print service behind the print file of the order-processing form.
//
// A job is opened with a print form name and the printer information file
// just written for it, receives the print record once per group written, and
// becomes one ticket when it is closed. Each operation leaves a two-character
// status.
#pragma once

#include <string>
#include <string_view>

namespace kav::platform {

class PrintService {
 public:
  virtual ~PrintService() = default;
  virtual std::string open(std::string_view print_form, std::string_view printer_info_path) = 0;
  virtual std::string write(std::string_view group, std::string_view print_record) = 0;
  virtual std::string close() = 0;
};

}  // namespace kav::platform
