// What a monitor checks before it starts, in order: the window setting, the
// web host, the work folder, the one-monitor lock, and the programs the
// previous monitor left running. A check that fails is a refusal, said
// where the operator looks, with its own exit status (see the README).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/instance_lock.h"

namespace kav::app {

enum class Ui { windows, console, refused };

// Exit statuses of a monitor that does not start.
constexpr int kExitBadSetting = 2;          // KAVCOMANDA_WEB_HOST or KAVCOMANDA_UI
constexpr int kExitAlreadyRunning = 3;      // another monitor holds the root's lock, or it cannot be had
constexpr int kExitNoWorkFolder = 4;        // the root's work folder is missing
constexpr int kExitWorkFolderReadOnly = 5;  // it takes no files

struct Refusal {
  int status;
  std::string text;  // Windows-1252
};

// The windows or the console: KAVCOMANDA_UI, read once ("qt" asks for
// windows, "console" for console mode; without it windows are shown when a
// display is named), then what this program can show. Refused (and said on
// the error output) when the setting is neither.
Ui choose_ui();

// Says a refusal: a box in window mode, a line on the error output in
// console mode. Returns its exit status.
int refuse(Ui ui, const Refusal& refusal, int& argc, char** argv);

// KAVCOMANDA_WEB_HOST must name a host the batch files can carry.
std::optional<Refusal> check_web_host(const std::string& web_host);

// The work folder is there and takes files, and this is the root's only
// monitor: `instance_lock` holds the root's lock for the program's life.
std::optional<Refusal> check_work_folder_and_lock(Ui ui, platform::FileSystem& files,
                                                  std::unique_ptr<platform::InstanceLock>& instance_lock);

// Waits for what the previous monitor left running; says so (error output
// and the day's log) when one still runs, and goes on.
void wait_for_earlier_programs(platform::FileSystem& files, platform::Clock& clock);

}  // namespace kav::app
