#include "platform/print/spool_store.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "platform/status.h"
#include "platform/text_file.h"
#include "record/area.h"
#include "record/digits.h"
#include "record/letter_case.h"

namespace kav::platform::print {

std::string printer_key(std::string_view printer) {
  return record::lower(printer_name(printer));
}

bool same_printer(std::string_view a, std::string_view b) {
  return record::same_letters(a, b);
}

std::string job_title(std::string_view base, std::string_view spool_root_host) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (char c : spool_root_host) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  char tag[16];
  std::snprintf(tag, sizeof tag, "%06x", static_cast<unsigned>(h & 0xFFFFFFu));
  return std::string(base) + "@" + tag;
}

bool read_ticket(FileSystem& files, std::string_view path, std::string& text) {
  TextFile file(files);
  text.clear();
  if (!file.open(path, OpenMode::input).ok()) return false;
  char c = 0;
  while (file.read_char(c).ok()) text += c;
  file.close().ignore();
  return true;
}

std::string marked_name(std::string_view base) {
  return std::string(base) + std::string(kNotDeliveredMark) + std::string(kTicketExtension);
}

// A folder made is synced into the one above it before a ticket is kept in
// it: otherwise a power cut could take the folder with tickets synced in it.
std::string SpoolStore::folder_for(std::string_view printer) {
  const std::string folder = std::string(kSpoolRoot) + "\\" + spool_folder_name(printer);
  if (files_.exists(folder)) return folder;
  // A folder that could not be made or synced shows when a ticket cannot be
  // kept in it.
  if (!files_.exists(kSpoolRoot) && files_.create_directory(kSpoolRoot).ok()) {
    files_.sync_directory(std::string_view(kSpoolRoot).substr(0, kSpoolRoot.rfind('\\'))).ignore();
  }
  if (files_.create_directory(folder).ok()) files_.sync_directory(kSpoolRoot).ignore();
  return folder;
}

std::string SpoolStore::path(std::string_view folder, std::string_view base, bool marked) {
  return std::string(folder) + "\\" + (marked ? marked_name(base) : std::string(base) + std::string(kTicketExtension));
}

std::string SpoolStore::unfinished_path(std::string_view folder, std::string_view base) {
  return std::string(folder) + "\\" + std::string(base) + std::string(kUnfinishedExtension);
}

std::string SpoolStore::note_path(std::string_view folder, std::string_view base) {
  return std::string(folder) + "\\" + std::string(base) + ".job";
}

std::string SpoolStore::day_folder(std::string_view folder, std::string_view day) {
  return std::string(folder) + "\\" + std::string(day.substr(0, 8));
}

std::string SpoolStore::filed_path(std::string_view folder, std::string_view base) {
  return day_folder(folder, base) + "\\" + std::string(base) + std::string(kTicketExtension);
}

bool is_day_name(std::string_view name) {
  return name.size() == 8 && name.find_first_not_of("0123456789") == std::string_view::npos;
}

std::vector<std::string> SpoolStore::days(std::string_view folder) {
  std::vector<std::string> out = files_.list(folder, true);
  std::erase_if(out, [](const std::string& d) { return !is_day_name(d); });
  std::sort(out.begin(), out.end());
  return out;
}

bool SpoolStore::file_by_day(std::string_view folder, std::string_view base) {
  const std::string day = day_folder(folder, base);
  if (!files_.exists(day)) {
    if (!files_.create_directory(day).ok() || !files_.sync_directory(folder).ok()) return false;
  }
  return files_.rename(path(folder, base, false), filed_path(folder, base)).ok();
}

bool SpoolStore::stamp_filed(std::string_view stamp) {
  if (stamp.size() < 17) return false;
  for (const auto& printer : files_.list(kSpoolRoot, true)) {
    const std::string day = day_folder(std::string(kSpoolRoot) + "\\" + printer, stamp);
    if (!files_.exists(day)) continue;
    for (const auto& name : files_.list(day, false)) {
      if (record::upper(name).starts_with(stamp.substr(0, 17))) return true;
    }
  }
  return false;
}

bool SpoolStore::holds(std::string_view folder, std::string_view base) {
  return files_.exists(path(folder, base, false)) || files_.exists(path(folder, base, true)) ||
         files_.exists(filed_path(folder, base));
}

bool SpoolStore::holds_marked(std::string_view folder, std::string_view base) {
  return files_.exists(path(folder, base, true));
}

std::unique_ptr<File> SpoolStore::begin(std::string_view folder, std::string_view base, std::string_view text) {
  const std::string tmp = unfinished_path(folder, base);
  std::unique_ptr<File> file;
  if (files_.open(tmp, OpenMode::output, file).ok() && file->write(text).ok()) return file;
  if (file) file->close().ignore();  // dropped anyway
  files_.remove(tmp).ignore();
  return nullptr;
}

bool SpoolStore::finish(File& file) {
  const bool synced = file.sync().ok();
  return file.close().ok() && synced;
}

bool SpoolStore::mark_kept(std::string_view folder, std::string_view base) {
  if (!files_.rename(unfinished_path(folder, base), path(folder, base, true)).ok()) return false;
  known(folder, base);
  return true;
}

void SpoolStore::drop_unfinished(std::string_view folder, std::string_view base) {
  files_.remove(unfinished_path(folder, base)).ignore();
}

bool SpoolStore::keep(std::string_view folder, std::string_view base, std::string_view text) {
  const std::string tmp = unfinished_path(folder, base);
  std::unique_ptr<File> file;
  if (!files_.open(tmp, OpenMode::output, file).ok()) return false;
  const bool written = file->write(text).ok() && file->sync().ok();
  const bool closed = file->close().ok();
  if (written && closed && mark_kept(folder, base)) return true;
  files_.remove(tmp).ignore();
  return false;
}

// The new name reaches the disk before the note goes: a ticket still marked
// after a power cut keeps its note, by which it is known printed.
bool SpoolStore::unmark(std::string_view folder, std::string_view base) {
  // A folder not synced here is synced with the next change in it.
  const bool renamed = files_.rename(path(folder, base, true), path(folder, base, false)).ok();
  if (renamed) files_.sync_directory(folder).ignore();
  if (files_.remove(note_path(folder, base)).ok()) files_.sync_directory(folder).ignore();
  return renamed;
}

bool SpoolStore::read_marked(std::string_view folder, std::string_view base, std::string& text) {
  return read_ticket(files_, path(folder, base, true), text);
}

bool SpoolStore::write_note(std::string_view folder, std::string_view base, int job_id) {
  std::unique_ptr<File> note;
  if (!files_.open(note_path(folder, base), OpenMode::output, note).ok()) return false;
  const bool written = note->write(std::to_string(job_id)).ok() && note->sync().ok();
  return note->close().ok() && written && files_.sync_directory(folder).ok();
}

int SpoolStore::read_note(std::string_view folder, std::string_view base) {
  std::string note;
  if (!read_ticket(files_, note_path(folder, base), note)) return files_.exists(note_path(folder, base)) ? kNoteUnreadable : 0;
  const std::string digits(record::trim_right(note));
  if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return kNoteUnreadable;
  }
  const int job = static_cast<int>(record::digits_value(digits));
  return job > 0 ? job : kNoteUnreadable;
}

std::vector<SpoolStore::Folder> SpoolStore::list() {
  std::vector<Folder> out;
  std::vector<std::string> folders = files_.list(kSpoolRoot, true);
  std::sort(folders.begin(), folders.end());
  for (auto& name : folders) {
    Folder f{name, std::string(kSpoolRoot) + "\\" + name, {}};
    std::vector<std::string> names = files_.list(f.path, false);
    std::sort(names.begin(), names.end());
    auto& [folder_path, bases] = newest_[record::upper(f.path)];
    folder_path = f.path;
    for (auto& n : names) {
      SpoolEntry e = classify_spool_file(n);
      if (e.kind == SpoolEntry::Kind::printed || e.kind == SpoolEntry::Kind::undelivered) bases.insert(e.base);
      if (e.kind != SpoolEntry::Kind::other) f.files.emplace_back(std::move(n), std::move(e));
    }
    // Too few in the folder itself: the newest days filed, newest first.
    const std::vector<std::string> filed = bases.size() < kNewestKnown ? days(f.path) : std::vector<std::string>{};
    for (auto day = filed.rbegin(); day != filed.rend() && bases.size() < kNewestKnown; ++day) {
      for (const auto& n : files_.list(f.path + "\\" + *day, false)) {
        if (SpoolEntry e = classify_spool_file(n); e.kind == SpoolEntry::Kind::printed) bases.insert(std::move(e.base));
      }
    }
    while (bases.size() > kNewestKnown) bases.erase(bases.begin());
    out.push_back(std::move(f));
  }
  listed_ = true;
  return out;
}

void SpoolStore::known(std::string_view folder, std::string_view base) {
  if (!listed_) return;
  auto& [folder_path, bases] = newest_[record::upper(folder)];
  if (folder_path.empty()) folder_path = folder;
  bases.emplace(base);
  if (bases.size() > kNewestKnown) bases.erase(bases.begin());
}

std::vector<std::pair<std::string, std::string>> SpoolStore::newest(std::size_t limit) const {
  // Merged from the newest end of every folder: names sort in time order.
  using Cursor = std::pair<std::set<std::string>::const_reverse_iterator, const std::pair<std::string, std::set<std::string>>*>;
  std::vector<Cursor> cursors;
  for (const auto& [key, f] : newest_) {
    if (!f.second.empty()) cursors.emplace_back(f.second.rbegin(), &f);
  }
  std::vector<std::pair<std::string, std::string>> out;
  while (out.size() < limit) {
    Cursor* best = nullptr;
    for (auto& c : cursors) {
      if (c.first == c.second->second.rend()) continue;
      if (best == nullptr || *c.first > *best->first) best = &c;
    }
    if (best == nullptr) break;
    out.emplace_back(best->second->first, *best->first);
    ++best->first;
  }
  return out;
}

}  // namespace kav::platform::print
