#include "orders/pending_journal.h"

#include <algorithm>
#include <cctype>

#include "orders/answer_reader.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "record/area.h"
#include "record/letter_case.h"

namespace kav::orders {

namespace {

constexpr std::string_view kPendingName = "KAVPEND-";

}  // namespace

std::string pending_path(std::string_view stamp, const Command& command) {
  return std::string(kPendingPrefix) + std::string(stamp) + "-" + std::string(command.name) + ".RET";
}

std::optional<PendingName> parse_pending_name(std::string_view name) {
  if (name.size() != kPendingName.size() + 17 + 1 + 7 + 4 || !name.starts_with(kPendingName)) return std::nullopt;
  if (record::upper(name.substr(name.size() - 4)) != ".RET") return std::nullopt;
  const std::string stamp(name.substr(kPendingName.size(), 17));
  if (!platform::stamp_centis(stamp)) return std::nullopt;
  const auto command = command_named(record::upper(name.substr(kPendingName.size() + 18, 7)));
  if (!command) return std::nullopt;
  return PendingName{stamp, *command};
}

std::vector<std::string> PendingJournal::list() const {
  std::vector<std::string> names;
  for (auto& name : files_.list(kTempFolder, false)) {
    if (parse_pending_name(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

void PendingJournal::start() {
  bool kept = false;
  for (const auto& name : files_.list(kTempFolder, false)) {
    const std::string upper_name = record::upper(name);
    if (!upper_name.starts_with(kPendingName) || !upper_name.ends_with(".TMP")) continue;
    const std::string path = std::string(kTempFolder) + "\\" + name;
    std::string bytes, answer;
    const auto pending = read_whole(files_, path, bytes) ? whole_copy_of(name, bytes) : std::nullopt;
    // A copy cut short goes: its answer is still in GET_KAVCMD.RET (a crash),
    // or it never reached the disk whole (a power cut before its sync). So
    // does a whole one whose answer stands in GET_KAVCMD.RET as it was: that
    // is kept again below. A whole copy whose answer has gone (a power cut
    // took what Wget wrote, never synced) is the answer: it is kept, and what
    // is left of GET_KAVCMD.RET goes with the same sync.
    const bool answer_stands = read_whole(files_, kRespostaPath, answer) && answer == bytes;
    if (pending && parse_pending_name(*pending) && !answer_stands) {
      if (files_.rename(path, std::string(kTempFolder) + "\\" + *pending).ok()) {
        files_.remove(kRespostaPath).ignore();  // its answer is kept
        kept = true;
      }
      continue;  // one that cannot be renamed now is tried again at the next start
    }
    files_.remove(path).ignore();  // one left is looked at again at the next start
  }
  if (kept) files_.sync_directory(kTempFolder).ignore();  // durable with the folder's next sync
  leftover_waits_ = true;
  std::string cut;
  if (read_whole(files_, platform::kProgramCutPath, cut)) {
    files_.remove(platform::kProgramCutPath).ignore();  // read once: a note left says the same again
    const std::string_view named = record::trim_right(std::string_view(cut).substr(0, cut.find('\n')));
    leftover_cut_ = record::upper(named) == record::upper(kArqbatPath);
  }
}

// Done over after a power cut that undid the removal, an answer whose
// tickets the spool holds makes none again; the sync only spares that.
void PendingJournal::retire(std::string_view path) {
  if (files_.remove(path).ok()) files_.sync_directory(kTempFolder).ignore();
}

bool PendingJournal::keep(std::string_view path) {
  if (exchange_.keep_as(path)) return true;
  leftover_waits_ = true;
  return false;
}

PendingJournal::Leftover PendingJournal::take_leftover_answer(const std::vector<std::string>& pending,
                                                              std::optional<Command>& command, WorkAreas& areas,
                                                              const std::function<std::string()>& new_stamp) {
  const Leftover leftover = take_leftover(pending, command, areas, new_stamp);
  if (leftover != Leftover::not_kept) leftover_waits_ = leftover_cut_ = false;
  return leftover;
}

PendingJournal::Leftover PendingJournal::take_leftover(const std::vector<std::string>& pending,
                                                       std::optional<Command>& command, WorkAreas& areas,
                                                       const std::function<std::string()>& new_stamp) {
  std::string answer;
  if (!read_whole(files_, kRespostaPath, answer)) return Leftover::none;
  std::string batch;
  read_whole(files_, kArqbatPath, batch);
  const auto at = batch.find("COMANDO=");
  command = at == std::string::npos ? std::nullopt : command_named(batch.substr(at + 8, 7));
  if (!command) return Leftover::none;
  if (!pending.empty()) {
    std::string newest;
    if (read_whole(files_, std::string(kTempFolder) + "\\" + pending.back(), newest) && newest == answer) {
      files_.remove(kRespostaPath).ignore();  // kept already
      return Leftover::none;
    }
  }
  if (leftover_cut_) return answer.empty() ? Leftover::none : Leftover::cut;
  if (!exchange_.reopen(kRespostaPath, areas)) return Leftover::none;
  AnswerReader& r = exchange_.reader();
  const bool work = r.skip_to_record(4) && !is_end_marker(areas.cmd.numero = r.fixed(4));
  exchange_.close();
  Leftover result = Leftover::none;
  if (work) result = exchange_.keep_as(pending_path(new_stamp(), *command)) ? Leftover::kept : Leftover::not_kept;
  exchange_.close();
  return result;
}

}  // namespace kav::orders
