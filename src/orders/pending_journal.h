// The pending answers (docs/spool.md): an answer that holds work is kept as
// C:\OrbelaTeknovarium\Temp\KAVPEND-<stamp>-<command>.RET (synced) before it
// is used, and removed only when every ticket it made is durably in the
// spool. The journal names, lists, keeps and retires these files, removes
// the copies cut short, and keeps the answer that Wget left and no run kept.
// Reporting what fails is the form's.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orders/command.h"
#include "orders/exchange.h"
#include "orders/work_areas.h"
#include "platform/file_system.h"

namespace kav::orders {

// The pending answer of a stamp and a command, and what a file name of the
// folder says about it (KAVPEND-YYYYMMDD-HHMMSScc-CMD_IMP.RET; the extension
// and the command in any case).
std::string pending_path(std::string_view stamp, const Command& command);
struct PendingName {
  std::string stamp;
  Command command;
};
std::optional<PendingName> parse_pending_name(std::string_view file_name);

class PendingJournal {
 public:
  PendingJournal(platform::FileSystem& files, Exchange& exchange) : files_(files), exchange_(exchange) {}

  // The file names of the pending answers in Temp, in stamp order.
  std::vector<std::string> list() const;
  // At start, before the pending answers are listed: removes the
  // KAVPEND-*.tmp copies cut short and the whole ones whose answer still
  // stands in GET_KAVCMD.RET (it is kept again), keeps a whole copy whose
  // answer the power cut took (Exchange::keep_as), and notes whether the
  // monitor before this one went in the middle of an exchange whose Wget
  // then had to be ended at its time limit (what it left is cut short).
  void start();

  // Keeps the open answer as `path` (Exchange::keep_as). When it cannot be,
  // the answer stays in GET_KAVCMD.RET, which is then taken first at the
  // next check.
  bool keep(std::string_view path);
  // Removes a pending answer whose tickets are all kept (and synced).
  void retire(std::string_view path);

  // GET_KAVCMD.RET may hold work that no run kept: at start, and after a
  // keep that failed.
  bool leftover_waits() const { return leftover_waits_; }
  enum class Leftover { none, kept, not_kept, cut };
  // Takes the answer that Wget left and the run before did not keep (it
  // stopped in between, or the disk had no room for the copy): kept now as
  // a pending answer stamped `new_stamp()`, unless it is the newest of
  // `pending` itself (the run stopped after keeping it and before removing
  // GET_KAVCMD.RET); `cut` when Wget was ended while writing it. `command`:
  // the command GET_KAVCMD.bat names, when it names one. Unless not_kept,
  // nothing waits any more.
  Leftover take_leftover_answer(const std::vector<std::string>& pending, std::optional<Command>& command,
                                WorkAreas& areas, const std::function<std::string()>& new_stamp);

 private:
  Leftover take_leftover(const std::vector<std::string>& pending, std::optional<Command>& command, WorkAreas& areas,
                         const std::function<std::string()>& new_stamp);

  platform::FileSystem& files_;
  Exchange& exchange_;
  bool leftover_waits_ = false;
  bool leftover_cut_ = false;  // the answer Wget left was ended at its time limit
};

}  // namespace kav::orders
