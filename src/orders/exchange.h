// The exchange of one command with the web application: delete the previous
// answer, write a one-line batch file that runs GNU Wget on GET_KAVCMD.php,
// run it through the command interpreter and open the answer it left.
#pragma once

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

// REG-ARQBAT for a command (CMD_IMP, CAN_ITE or CMD_FEC): 200 characters.
std::string batch_line(std::string_view web_host, std::string_view command);

class Exchange {
 public:
  Exchange(platform::FileSystem& files, std::string web_host)
      : files_(files), web_host_(std::move(web_host)), resposta_(files_), reader_(resposta_) {}

  // Deletes the old answer, writes and runs the batch, resets the work areas,
  // opens the answer. False when there is no answer (the file is closed again).
  bool perform(form::FormContext& ctx, std::string_view command, WorkAreas& areas);

  // Makes the answer just received durable before it is used: its bytes are
  // written to `pending_path`, synced and named there in one step, the
  // folder is synced, and only then is GET_KAVCMD.RET removed. The answer is
  // then read again from the start of the kept copy. False, with the answer
  // still read from GET_KAVCMD.RET from its start, when it could not be kept.
  bool keep_as(std::string_view pending_path);
  // Opens a kept answer from its start (the work areas reset). False when it
  // cannot be opened.
  bool reopen(std::string_view path, WorkAreas& areas);

  AnswerReader& reader() { return reader_; }
  void close() { resposta_.close(); }

 private:
  platform::FileSystem& files_;
  std::string web_host_;
  platform::TextFile resposta_;
  AnswerReader reader_;
  std::string st_arquivo_ = "00";
};

}  // namespace kav::orders
