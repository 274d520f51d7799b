// The exchange of one command with the web application: delete the previous
// answer, write a one-line batch file that runs GNU Wget on GET_KAVCMD.php,
// run it through the command interpreter and open the answer it left.
//
// The exchange acts on what each step reports. A local step that fails (the
// old answer still there after its delete, the batch file not written) stops
// it before the web application is asked: the web application hands each
// piece of work out once, and must keep it until it can be received. The
// batch run's result is Wget's exit status (CMD.EXE /C ends with the status
// of the batch file's last program, on Windows and in the stand-in alike) or
// the runner's own code for a refused, overrun or signalled run; anything
// but 0 means the transfer failed, and what arrived, if anything, is not an
// answer to read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "form/form.h"
#include "orders/answer_reader.h"
#include "orders/work_areas.h"
#include "platform/file_system.h"
#include "platform/text_file.h"

namespace kav::orders {

inline constexpr std::string_view kTempFolder = "C:\\OrbelaTeknovarium\\Temp";
inline constexpr std::string_view kPendingPrefix = "C:\\OrbelaTeknovarium\\Temp\\KAVPEND-";
inline constexpr std::string_view kArqbatPath = "C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat";
inline constexpr std::string_view kRespostaPath = "C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET";
inline constexpr std::string_view kDeleteAnswer = "CMD.EXE /C DEL C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET /Q";
inline constexpr std::string_view kRunBatch = "CMD.EXE /C C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat";
inline constexpr std::size_t kCommandTextWidth = 8192;
inline constexpr std::size_t kRegArqbatWidth = 200;

// Reads the whole of a file into `bytes`. False when it cannot be opened or
// a read fails (`bytes` then holds what was read).
bool read_whole(platform::FileSystem& files, std::string_view path, std::string& bytes);
// The size of a file, counted up to one byte past the bound of an answer
// (platform/answer_bound.h); 0 when it cannot be opened.
std::uint64_t size_up_to_bound(platform::FileSystem& files, std::string_view path);

// REG-ARQBAT for a command (CMD_IMP, CAN_ITE or CMD_FEC): 200 characters.
std::string batch_line(std::string_view web_host, std::string_view command);

// The copy of an answer being kept as `pending_path`, written and synced
// before it takes that name: "<pending_path>.<size>-<checksum>.tmp", its
// name sealing its bytes. The pending answer's name (without folder) a copy
// named `copy_name` stands for when it holds exactly `bytes`, the whole
// answer; nothing when the name is no seal of them (cut short by a power
// cut, or a copy of another form).
std::string copy_path(std::string_view pending_path, std::string_view bytes);
std::optional<std::string> whole_copy_of(std::string_view copy_name, std::string_view bytes);

// Temp\KAVFALHA-<stamp>-<command>.RET: what arrived of an answer that
// cannot be printed (a transfer that failed or was cut, an answer the page's
// output ran into), kept for inspection.
inline constexpr std::string_view kFailedPrefix = "C:\\OrbelaTeknovarium\\Temp\\KAVFALHA-";

class Exchange {
 public:
  enum class Outcome {
    answer,      // Wget ended well and the answer is open for reading
    no_answer,   // Wget ended well and left no answer file
    too_large,   // the answer passed platform::kMaxAnswerBytes: Wget stopped, the answer removed
    web_failed,  // Wget failed, was refused or ended at its time limit: see batch_status()
    disk_failed, // a local step failed before the web application was asked: see failed_step()
  };

  Exchange(platform::FileSystem& files, std::string web_host)
      : files_(files), web_host_(std::move(web_host)), resposta_(files_), reader_(resposta_) {}

  // Deletes the old answer, writes and runs the batch, resets the work areas,
  // opens the answer when Wget ended well. A missing answer file then is
  // no_answer (the file is closed again).
  Outcome perform(form::FormContext& ctx, std::string_view command, WorkAreas& areas);
  // The result of the last batch run (CommandRunner::run's).
  const platform::Status& batch_status() const { return batch_status_; }
  // The local step that failed, in the system's words ("gravar GET_KAVCMD.bat").
  const std::string& failed_step() const { return failed_step_; }
  // Why the last batch run failed, in the system's words (Windows-1252).
  // `arrived` is how many bytes of the answer had come.
  static std::string failure_cause(const platform::Status& batch_status, std::size_t arrived);

  // Makes the answer just received durable before it is used: its bytes are
  // written to its copy (copy_path), synced and named `pending_path` in one
  // step, GET_KAVCMD.RET is removed and the folder synced. The answer is
  // then read again from the start of the kept copy. False, with the answer
  // still read from GET_KAVCMD.RET from its start, when it could not be
  // kept; false too, with the kept copy open, when the folder's sync failed
  // (the copy is pending and is done over at the next check).
  bool keep_as(std::string_view pending_path);
  // Opens a kept answer from its start (the work areas reset). False when it
  // cannot be opened.
  bool reopen(std::string_view path, WorkAreas& areas);

  AnswerReader& reader() { return reader_; }
  void close() { resposta_.close().ignore(); }  // read only: nothing to lose

 private:
  platform::FileSystem& files_;
  std::string web_host_;
  platform::TextFile resposta_;
  AnswerReader reader_;
  platform::Status st_arquivo_;
  platform::Status batch_status_;
  std::string failed_step_;
};

}  // namespace kav::orders
