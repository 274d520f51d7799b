// The profile of each printer, from the [impressora NOME] sections of
// kavcomanda.ini (settings/kav_settings.h): how its tickets reach it.
//   driver       the spooler's driver lays out the text, as always
//   escpos       ESC/POS bytes as a raw spooler job
//   escpos-rede  ESC/POS bytes straight to the printer's network port
// A printer without a section, or whose section was refused, prints through
// the driver. A section for escpos-rede without an address, and one that
// gives an address to another mode, is refused too.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "platform/print/escpos.h"
#include "settings/config_file.h"

namespace kav::printing {

enum class PrintMode { driver, escpos, network };

struct PrinterProfile {
  std::string printer;  // as the section names it
  PrintMode mode = PrintMode::driver;
  platform::print::EscPosOptions escpos;
  std::string host;  // escpos-rede
  int port = 0;
  // When it is away (unknown to the spooler, refusing jobs, a network
  // printer not ready) for longer than `backup_after`, its tickets go to
  // `backup` (none: they wait for it).
  std::string backup;
  std::chrono::minutes backup_after{2};
  // A ticket handed to it later than this after it was kept says so.
  std::chrono::minutes late_after{3};
};

std::string_view mode_name(PrintMode mode);

class PrinterProfiles {
 public:
  PrinterProfiles() = default;
  explicit PrinterProfiles(const settings::Settings& settings);

  // The profile of `printer` (compared as the spoolers do, without regard to
  // case and trailing blanks); the driver's when none is given.
  PrinterProfile of(std::string_view printer) const;
  // The printers with a profile of their own, in the file's order.
  const std::vector<PrinterProfile>& all() const { return profiles_; }
  // What the file got wrong, for the day's log (one line each), and the
  // printers whose section was refused.
  const std::vector<std::string>& problems() const { return problems_; }
  const std::vector<std::string>& refused() const { return refused_; }
  bool found() const { return found_; }

  // The lines that describe a profile, for the test page.
  static std::vector<std::string> describe(const PrinterProfile& profile);

 private:
  bool found_ = false;
  std::vector<PrinterProfile> profiles_;
  std::vector<std::string> problems_;
  std::vector<std::string> refused_;
};

}  // namespace kav::printing
