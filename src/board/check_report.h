// What one check did, for the monitor's list: a row for every order whose
// tickets the check made (its kind, its number and the printers they went
// to) and a row for every failure the check met, in the order they came.
// The order-processing form and the print service's reports fill it while
// the check runs; the monitor takes the rows when the check has closed and
// shows them below the check's own row. The log is not written here: every
// row repeats words the log already has.
//
// Texts are Windows-1252 and cut as the log cuts its lines (106
// characters), so the list, the console and the log show the same words.
// The report is used on the one thread that runs the forms (the print
// service makes its reports within its operations, on its caller's thread).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kav::log {

class CheckReport {
 public:
  enum class Kind { items, cancellation, bill };

  // Where the rows of the next piece of work begin: its order row goes
  // there, before the failures met while its tickets were made.
  std::size_t mark() const { return rows_.size(); }
  // The order `numero` of `kind` made tickets for `printers` (the spooler's
  // names, in the order the tickets were made; none or a blank one: the
  // order named no printer). The row goes to the place `at` (see mark()).
  void order(std::size_t at, Kind kind, std::string_view numero, const std::vector<std::string>& printers);
  // A failure, in the words of its log line.
  void failure(std::string_view text);
  // A line the print service reports to the log: its failures (the lines
  // that end in " !!!") are rows too.
  void report(std::string_view text);

  // The rows since the last take, oldest first; the report is empty then.
  std::vector<std::string> take();

  // "Comanda 0012 itens » COZINHA, BAR": the printers that do not fit
  // the width are counted ("... e mais 3").
  static std::string order_row(Kind kind, std::string_view numero, const std::vector<std::string>& printers);
  static constexpr std::size_t kTextWidth = 106;

  // A check that ended with work still waiting at the web application (a
  // rush of distinct orders): the next one is to start at once.
  void set_work_left(bool left) { work_left_ = left; }
  bool work_left() const { return work_left_; }

 private:
  std::vector<std::string> rows_;
  bool work_left_ = false;
};

}  // namespace kav::log
