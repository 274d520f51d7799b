// The test page of a printer: what the installer prints to see that a
// printer's profile suits it. It shows the profile as read, a ruler of 48
// columns, a large order number, and (ESC/POS modes) one line of Portuguese
// in each candidate code page, labelled, so the page that reads right can be
// chosen; then the cut and the buzzer of the profile.
#pragma once

#include <optional>
#include <string>

#include "platform/print/outlet.h"

#include "printing/printer_profiles.h"

namespace kav::printing {

// The sample line shown in each code page (Windows-1252).
std::string test_page_sample();

// The page as text for the driver (Windows-1252, lines ended by `line_end`).
// `sheet`: the printer's default paper when it is a sheet, said on the page.
std::string test_page_text(const PrinterProfile& profile, std::string_view line_end,
                           const std::optional<platform::print::Paper>& sheet = std::nullopt);

// The page as ESC/POS bytes for the escpos modes.
std::string test_page_bytes(const PrinterProfile& profile);

}  // namespace kav::printing
