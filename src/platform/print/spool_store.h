// The spool folder as a store of tickets: writing a ticket, syncing it,
// keeping it under its marked name, clearing the mark, the job notes beside
// the tickets, and the listing of what an earlier run left. Only mechanism:
// which ticket to keep, send or report is decided above.
//
// A ticket is named by its printer's folder (its Windows path) and its base
// name (spool.h). Its files:
//   <base>.tmp                being written
//   <base>-NAO-ENTREGUE.txt   kept, its printer has not finished it
//   <base>.txt                kept, printed (or settled by hand)
//   <base>.job                the spooler's job number, once handed over
//   YYYYMMDD\<base>.txt       printed, of an earlier day: filed in its day's
//                             folder, so that the printer's own folder holds
//                             a day's tickets however many years it keeps
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/print/spool.h"

namespace kav::platform::print {

// Printers compare without regard to case, as the spoolers do: the key of a
// printer is its name (trailing blanks dropped) in lower case.
std::string printer_key(std::string_view printer);
bool same_printer(std::string_view a, std::string_view b);

// The job name under which a ticket of the spool folder `spool_root_host`
// (its host path) goes to the spooler.
std::string job_title(std::string_view base, std::string_view spool_root_host);

// The text of a kept ticket, or nothing when it cannot be read.
bool read_ticket(FileSystem& files, std::string_view path, std::string& text);

// "<base>-NAO-ENTREGUE.txt"
std::string marked_name(std::string_view base);

// True for the name of a day folder: "YYYYMMDD".
bool is_day_name(std::string_view name);

class SpoolStore {
 public:
  explicit SpoolStore(FileSystem& files) : files_(files) {}

  FileSystem& files() { return files_; }

  // The folder of a printer's tickets (its Windows path), made when missing.
  std::string folder_for(std::string_view printer);
  // The host path of the spool root: what job titles are tagged with.
  std::string root_host() { return files_.host_path(kSpoolRoot); }

  static std::string path(std::string_view folder, std::string_view base, bool marked);
  static std::string unfinished_path(std::string_view folder, std::string_view base);
  static std::string note_path(std::string_view folder, std::string_view base);

  // The folder of a printer's filed tickets of `day` (YYYYMMDD), and where a
  // ticket is once filed.
  static std::string day_folder(std::string_view folder, std::string_view day);
  static std::string filed_path(std::string_view folder, std::string_view base);
  // The day folders of a printer's folder, oldest first.
  std::vector<std::string> days(std::string_view folder);
  // Files a printed ticket in its day's folder (made, and synced into the
  // printer's folder, when missing); the folders are synced by the caller
  // (sync_folder), once for many. True when it moved.
  bool file_by_day(std::string_view folder, std::string_view base);
  // True when a filed ticket of some printer bears the stamp
  // ("YYYYMMDD-HHMMSScc"): the clock was set back to a day already filed.
  bool stamp_filed(std::string_view stamp);

  // True when the ticket is kept, marked or not, filed or not.
  bool holds(std::string_view folder, std::string_view base);
  bool holds_marked(std::string_view folder, std::string_view base);

  // Opens "<base>.tmp" and writes `text` into it, not synced; nothing when
  // the file cannot be made or written (then it is gone again).
  std::unique_ptr<File> begin(std::string_view folder, std::string_view base, std::string_view text);
  // Syncs and closes a file begun with begin(); true when both went well.
  static bool finish(File& file);
  // Renames "<base>.tmp" to the marked name.
  bool mark_kept(std::string_view folder, std::string_view base);
  // Drops "<base>.tmp".
  void drop_unfinished(std::string_view folder, std::string_view base);
  // Writes, syncs and keeps a ticket under its marked name in one go.
  bool keep(std::string_view folder, std::string_view base, std::string_view text);
  bool sync_folder(std::string_view folder) { return files_.sync_directory(folder).ok(); }

  // Clears the mark of a kept ticket and drops its job note, each step synced
  // into the folder before the next; true when the mark went.
  bool unmark(std::string_view folder, std::string_view base);
  bool read_marked(std::string_view folder, std::string_view base, std::string& text);

  // The job note: written by the hand-over, read after a restart. Written,
  // synced and its name synced into the folder; false when any of it failed.
  bool write_note(std::string_view folder, std::string_view base, int job_id);
  // The job number noted, 0 when there is no note, kNoteUnreadable when one
  // stands that says no job (empty, unreadable, not a number: a power cut
  // took what was written): the job may have been handed over.
  static constexpr int kNoteUnreadable = -1;
  int read_note(std::string_view folder, std::string_view base);

  // What the spool holds, folder by folder and name by name, sorted.
  struct Folder {
    std::string name;  // the folder's own name
    std::string path;  // its Windows path
    std::vector<std::pair<std::string, SpoolEntry>> files;  // file name, what it is
  };
  std::vector<Folder> list();
  void remove(std::string_view path) { files_.remove(path).ignore(); }

  // The newest tickets the store knows of, newest first, as (folder, base):
  // those the last list() found (with those of the newest day folders, as
  // many as it takes) and every ticket kept through the store since, at most
  // kNewestKnown of each folder, so that the newest are found without
  // reading a year's tickets. Nothing before the first list(). A ticket
  // removed or filed stays among them: whoever reads them looks for the
  // file, in the printer's folder and then in its day's.
  static constexpr std::size_t kNewestKnown = 1000;
  bool knows_newest() const { return listed_; }
  std::vector<std::pair<std::string, std::string>> newest(std::size_t limit) const;

 private:
  void known(std::string_view folder, std::string_view base);

  FileSystem& files_;
  bool listed_ = false;
  // By folder (upper case): its path, and the newest bases of its tickets.
  std::map<std::string, std::pair<std::string, std::set<std::string>>> newest_;
};

}  // namespace kav::platform::print
