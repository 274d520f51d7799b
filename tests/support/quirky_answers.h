// Answers of pages that say what they mean with something else around it,
// or in another shape: the notices, errors and habits of real PHP sites
// (display_errors on, html_errors on and off, default_charset UTF-8), each
// with what the monitor makes of it. The same answers run through the order
// form, through the checker (kav-answer) and, as PHP pages, through the
// Apache + PHP stand-in; tests/fuzz/corpus holds them as files of the same
// names.
#pragma once

#include <string>
#include <vector>

#include "record/cp1252.h"

namespace kav::test {

struct QuirkyAnswer {
  const char* name;
  const char* command;
  std::string bytes;  // as the page sends them (Windows-1252, or UTF-8 where the page is UTF-8)
  // The same answer written as a PHP page for the stand-in, whose output is
  // `bytes` up to the paths PHP names; empty when the file is served as it is.
  std::string php;
  bool printed;                       // false: kept aside and alerted, nothing printed
  std::vector<std::string> printers;  // the tickets, in order (Windows-1252)
  std::string shows;                  // what one of the tickets shows (Windows-1252)
  // Kept aside: the order the alert names, and why as the log says it.
  std::string order = {};
  std::string refusal = {};
};

inline std::vector<QuirkyAnswer> quirky_answers() {
  using record::cp1252;
  const std::string header = cp1252("<0012><000345><Mesa 05 - Salão><04><Garçom: João>\n");
  const std::string cozinha = cp1252("<0012><000101><Filé à parmegiana><000002,000><0000045,90><sem cebola><COZINHA>\n");
  const std::string bar = cp1252("<0012><000201><Caipirinha de limão><000003,000><0000018,50><><BAR>\n");
  const std::string notice =
      "\nNotice: Undefined index: obs in C:\\xampp\\htdocs\\Comandas\\GET_KAVCMD.php on line 12\n";
  const std::string html_warning =
      "<br />\n<b>Warning</b>:  Undefined variable $mesa in <b>C:\\xampp\\htdocs\\Comandas\\GET_KAVCMD.php</b> on "
      "line <b>3</b><br />\n";
  const std::string html_fatal =
      "<br />\n<b>Fatal error</b>:  Uncaught Error: Call to undefined function f() in "
      "C:\\xampp\\htdocs\\Comandas\\GET_KAVCMD.php:7\nStack trace:\n#0 {main}\n  thrown in "
      "<b>C:\\xampp\\htdocs\\Comandas\\GET_KAVCMD.php</b> on line <b>7</b><br />\n";
  const std::string plain_fatal =
      "\nFatal error: Uncaught Error: Call to undefined function f() in "
      "C:\\xampp\\htdocs\\Comandas\\GET_KAVCMD.php:7\nStack trace:\n#0 {main}\n  thrown in "
      "C:\\xampp\\htdocs\\Comandas\\GET_KAVCMD.php on line 7\n";
  const std::string plain_errors = "<?php ini_set('html_errors', '0'); ?>";
  const std::string utf8_header = "<0012><000345><Mesa 05 - Salão><04><Garçom: João>\n";
  const std::string utf8_item = "<0012><000201><Caipirinha de limão><000003,000><0000018,50><pouco açúcar><BAR SALÃO>\n";

  return {
      {"notice_between_records", "CMD_IMP", header + notice + cozinha + notice + bar + "<0000>\n",
       plain_errors + header + "<?php echo $obs; ?>" + cozinha + "<?php echo $obs; ?>" + bar + "<0000>\n", true,
       {"COZINHA", "BAR"}, cp1252("2 x Filé à parmegiana")},
      {"ctrl_z_nul_after_last", "CMD_IMP", header + cozinha + "\x1a", "", true, {"COZINHA"}, cp1252("2 x Filé à parmegiana")},
      {"nul_after_last", "CMD_IMP", header + cozinha + std::string(3, '\0'), "", true, {"COZINHA"}, ""},
      {"people_short", "CMD_IMP", cp1252("<0012><000345><Mesa 05><4><>\n") + cozinha, "", true, {"COZINHA"},
       "Pessoas :04"},
      {"people_blank", "CMD_IMP", cp1252("<0012><000345><Mesa 05>< 4><Varanda>\n") + cozinha, "", true,
       {"COZINHA"}, "Pessoas : 4"},
      {"order_number_short", "CMD_IMP",
       "<12><345><Mesa 5><02><>\n<12><101><Bolo><1><10,00><><COZINHA>\n<0>\n", "", true, {"COZINHA"},
       "*** COMANDA 0012 ***"},
      {"bill_code_letters", "CMD_FEC",
       "<0012><000345><Mesa 5><02><><CAIXA><00>\n<PIZ001><Pizza calabresa><000001,000><0000031,00>\n<000000>\n",
       "", true, {"CAIXA"}, "31,00"},
      {"html_warning_between_records", "CMD_IMP", header + html_warning + cozinha + html_warning + bar,
       header + "<?php echo $mesa; ?>" + cozinha + "<?php echo $mesa; ?>" + bar, true, {"COZINHA", "BAR"},
       cp1252("3 x Caipirinha de limão")},
      {"fatal_after_last_html", "CMD_IMP", header + cozinha + html_fatal, header + cozinha + "<?php f(); ?>",
       false, {}, ""},
      {"fatal_after_last_plain", "CMD_IMP", header + cozinha + plain_fatal,
       plain_errors + header + cozinha + "<?php f(); ?>", false, {}, ""},
      {"error_page_only", "CMD_FEC",
       "<br />\n<b>Parse error</b>:  syntax error, unexpected end of file in "
       "<b>C:\\xampp\\htdocs\\Comandas\\GET_KAVCMD.php</b> on line <b>40</b><br />\n",
       "<?php f(", false, {}, ""},
      {"notice_without_end_marker", "CAN_ITE",
       "\nWarning: Undefined variable $nada in C:\\xampp\\htdocs\\Comandas\\GET_KAVCMD.php on line 5\n",
       plain_errors + "<?php echo $nada; ?>", false, {}, ""},
      {"utf8_page", "CMD_IMP", utf8_header + utf8_item, "", true,
       {cp1252("BAR SALÃO")}, cp1252("3 x Caipirinha de limão")},
      // An order numbered as an end marker, a marker among a bill's items:
      // kept aside and named, never dropped or printed short.
      {"order_9999_with_items", "CMD_IMP",
       "<9999><000345><Mesa 5><02><>\n<9999><000101><Bolo><000001,000><0000010,00><><COZINHA>\n", "", false, {}, "",
       "9999", cp1252("comanda: '9999' é marcador de fim, mas há registros depois dele")},
      {"order_0000_with_items", "CMD_IMP",
       "<0000><000345><Mesa 5><02><>\n<0000><000101><Bolo><000001,000><0000010,00><><COZINHA>\n", "", false, {}, "",
       "0000", cp1252("comanda: '0000' é marcador de fim, mas há registros depois dele")},
      {"bill_code_zeros_between_items", "CMD_FEC",
       "<0012><000345><Mesa 5><02><><CAIXA><00>\n<000101><Bolo><000001,000><0000010,00>\n"
       "<000000><Brinde><000001,000><0000000,00>\n<000102><Cafe><000001,000><0000005,00>\n",
       "", false, {}, "", "0012", cp1252("item 2, código: '000000' é marcador de fim, mas há registros depois dele")},
      {"bill_code_letters_only", "CMD_FEC",
       "<0012><000345><Mesa 5><02><><CAIXA><00>\n<PIZZAS><Pizza grande><000001,000><0000031,00>\n<000000>\n",
       "", true, {"CAIXA"}, "PIZZAS"},
      {"warning_after_last_plain", "CMD_IMP",
       header + cozinha + "\nWarning: Undefined variable $x in C:\\xampp\\htdocs\\Comandas\\GET_KAVCMD.php on line 3\n",
       "", true, {"COZINHA"}, cp1252("2 x Filé à parmegiana")},
      {"warning_after_last_html", "CMD_IMP", header + cozinha + html_warning + html_warning, "", true, {"COZINHA"},
       cp1252("2 x Filé à parmegiana")},
      {"deprecated_after_last", "CMD_IMP",
       header + bar + "\nDeprecated: Function strftime() is deprecated in C:\\xampp\\htdocs\\Comandas\\x.php on line 9\n",
       "", true, {"BAR"}, cp1252("3 x Caipirinha de limão")},
      {"warning_then_fatal_after_last", "CMD_IMP", header + cozinha + html_warning + html_fatal, "", false, {}, "",
       "0012", cp1252("texto após o último registro: 'Warning: Undefined variable")},
      {"gt_in_description", "CMD_IMP",
       header + "<0012><000101><Bolo > grande><000001,000><0000010,00><><COZINHA>\n", "", false, {}, "", "0012",
       cp1252("item 1, descrição: '>' dentro do texto: 'grande><000001,000><0000010...'")},
      {"lt_in_description", "CMD_IMP", header + "<0012><000101><Pizza <3 queijos><000001,000><0000010,00><><COZINHA>\n",
       "", true, {"COZINHA"}, "Pizza <3 queijos"},
      {"utf8_cancellation", "CAN_ITE", "\xEF\xBB\xBF<0012><0003><000201><Caipirinha de limão ☕><><BAR SALÃO>\n", "",
       true, {cp1252("BAR SALÃO")}, cp1252("Caipirinha de limão ?")},
  };
}

}  // namespace kav::test
