// What both command interpreters share: the bound of a command line and the
// settings file of GNU Wget.
#include <algorithm>
#include <memory>

#include "platform/command/command_line.h"
#include "platform/command_runner.h"
#include "platform/status.h"
#include "platform/file_system.h"
#include "platform/line_end.h"

namespace kav::platform {

std::string wget_settings() {
  // Every line a setting GNU Wget 1.x knows (an unknown one would make it
  // stop at once). Those besides tries and the timeouts undo what a
  // system-wide settings file might turn on and the batch lines rely on not
  // having: retries, continuation of a partial file, recursion, proxies.
  static constexpr std::string_view kLines[] = {
      "# GNU Wget settings of KavComanda, rewritten by the monitor when they differ.",
      "tries = 1",
      "retry_connrefused = off",
      "waitretry = 0",
      "continue = off",
      "timestamping = off",
      "recursive = off",
      "page_requisites = off",
      "content_on_error = off",
      "dns_timeout = 5",
      "connect_timeout = 5",
      "read_timeout = 60",
      "use_proxy = off",
  };
  std::string text;
  for (const std::string_view line : kLines) (text += line) += kLineEnd;
  return text;
}

std::chrono::milliseconds time_limit_of(const CommandOptions& options, std::string_view command_line) {
  const command::Request request = command::parse_command_line(command_line);
  if (request.kind != command::Request::Kind::batch) return options.time_limit;
  for (const std::string& batch : options.exchange_batches) {
    if (command::equals_ignoring_case(request.path, batch))
      return std::min(options.time_limit, options.exchange_time_limit);
  }
  return options.time_limit;
}

bool ensure_wget_settings(FileSystem& files) {
  const std::string wanted = wget_settings();
  std::unique_ptr<File> file;
  if (files.open(kWgetSettingsPath, OpenMode::input, file).ok()) {
    std::string present;
    char buf[1024];
    long n = 0;
    while (present.size() <= wanted.size() && (n = file->read(buf, sizeof buf)) > 0)
      present.append(buf, static_cast<std::size_t>(n));
    file->close().ignore();  // read only
    if (n >= 0 && present == wanted) return true;
  }
  // Written beside and put in place in one step, so that a program never
  // reads half a file.
  static constexpr std::string_view kNew = "C:\\OrbelaTeknovarium\\Temp\\KAVWGET.NEW";
  file.reset();
  if (!files.open(kNew, OpenMode::output, file).ok()) return false;
  const bool written = file->write(wanted).ok() && file->sync().ok();
  const bool closed = file->close().ok();
  if (!written || !closed || !files.rename(kNew, kWgetSettingsPath).ok()) {
    files.remove(kNew).ignore();
    return false;
  }
  return true;
}

}  // namespace kav::platform
