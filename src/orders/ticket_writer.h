// The tickets of the order-processing form, on the print form IMPRESSAO:
// a ticket begins with the printer setup and its head, holds item lines,
// and ends. The print form and its record REG-IMPRESSAO are kept for the
// life of the form: REG-IMPRESSAO is never cleared as a whole.
//
// Once a ticket of an answer could not be made (FORMPRT.PRT or the spool
// not written), no further ticket of that answer is begun: the answer stays
// pending and is done over, and its tickets keep their numbers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "orders/print_form.h"
#include "orders/work_areas.h"
#include "platform/file_system.h"
#include "printing/print_service.h"
#include "record/area.h"

namespace kav::orders {

class TicketWriter {
 public:
  TicketWriter(platform::FileSystem& files, platform::PrintService& printing, const WorkAreas& areas)
      : files_(files), impressao_(files, printing), areas_(areas) {}

  // A new answer: no ticket of it has failed yet, none is made.
  void start_answer() {
    failure_.clear();
    printers_.clear();
    blocked_.clear();
  }
  // The file that could not be written while this answer's tickets were
  // made ("FORMPRT.PRT", "no Spool"); empty when none.
  const std::string& failure() const { return failure_; }
  // The printers of the tickets begun for this answer, in order: the names
  // FORMPRT.PRT gave the print service.
  const std::vector<std::string>& printers() const { return printers_; }
  // A printer whose spool folder could not be made (a file of its name in
  // the way, a name the system refuses as a folder, a link): its ticket is
  // not kept, and the answer's other tickets go on.
  struct Blocked {
    std::string printer;
    std::string folder;  // as the operator finds it: "Spool\<name>"
  };
  const std::vector<Blocked>& blocked() const { return blocked_; }

  // Begins a ticket: the printer setup for entry W-IND of TAB-IMPRESSORAS,
  // IMPRESSAO opened, and the head written (CABEC and CABCMD) with the order
  // number, the order's texts and people (all blank unless `order_texts`) and
  // `printer_line` for the printer line (left out when blank).
  void begin(bool order_texts, std::string_view printer_line);
  // The item's line (ITECMD, or ITEQTD with its quantity), then OBSITE when
  // it has an observation.
  void item_lines(const Item& item);
  // A line every ticket begun from now on carries under its head (an item
  // line); none when empty.
  void check_line(std::string text) { check_line_ = std::move(text); }
  // A notice on the open ticket, in its item lines.
  void notice(std::string_view text);
  // Ends a ticket: TRACO and ORBELA, then IMPRESSAO closed.
  void end();

  // REG-IMPRESSAO and its groups, for the lines only one ticket has.
  record::Area& reg_impressao() { return impressao_.reg_impressao(); }
  void write(std::string_view group) { impressao_.write(group).ignore(); }  // no print status is examined

 private:
  platform::FileSystem& files_;
  PrintForm impressao_;
  const WorkAreas& areas_;
  std::string failure_;
  std::string check_line_;
  std::vector<std::string> printers_;
  std::vector<Blocked> blocked_;
};

}  // namespace kav::orders
