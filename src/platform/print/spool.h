// The spool folder: every ticket is kept as a Windows-1252 text file in
// C:\OrbelaTeknovarium\Spool\<printer>\ before it is handed to the printer.
// It is also the history from which an operator sees and reprints tickets.
//
// A ticket is named by date, time and number, "YYYYMMDD-HHMMSScc-NNNNNN",
// so that the names of a folder sort in printing order. The tickets made from
// one answer of the web application share its stamp, the time the answer was
// received, and are numbered 000001, 000002, ... in the order the answer
// prints them: the name is the ticket's identity, and a ticket whose name is
// already in the spool is never made again. A ticket that its printer has not
// finished carries the mark "-NAO-ENTREGUE" before ".txt"; a ticket still
// being written is "<name>.tmp".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kav::platform::print {

inline constexpr std::string_view kSpoolRoot = "C:\\OrbelaTeknovarium\\Spool";
inline constexpr std::string_view kNotDeliveredMark = "-NAO-ENTREGUE";
inline constexpr std::string_view kTicketExtension = ".txt";
inline constexpr std::string_view kUnfinishedExtension = ".tmp";

// The printer's name without trailing blanks: the name the spooler knows.
std::string_view printer_name(std::string_view printer);

// The folder of a printer's tickets: the name as it stands (trailing blanks
// dropped) when it makes a safe Windows file name. A character that a file
// name cannot hold (control characters, < > : " / \ | ? *), the "%" itself,
// a leading blank, a trailing dot, and the first letter of a
// reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) are written as
// "%" and two hexadecimal digits, so distinct names keep distinct folders
// (apart from case, which Windows ignores). A blank name gives "%20".
std::string spool_folder_name(std::string_view printer);

// "YYYYMMDD-HHMMSScc-NNNNNN" from a date YYYYMMDD, a time HHMMSScc and a
// sequence number (its last six digits).
std::string ticket_base_name(std::string_view yyyymmdd, std::string_view hhmmsscc, unsigned long sequence);

// The printer name that a spool folder stands for: spool_folder_name()
// undone ("%20" gives a blank name).
std::string printer_of_folder(std::string_view folder);

// What a file of a printer's spool folder is (extensions and the mark are
// matched without regard to case).
struct SpoolEntry {
  enum class Kind { printed, undelivered, unfinished, other };
  Kind kind = Kind::other;
  std::string base;  // the name without mark and extension
};
SpoolEntry classify_spool_file(std::string_view file_name);

}  // namespace kav::platform::print
