// A laid-out temporary root in which the command runner can run real
// programs: GNU Wget where the system expects it, and host tools linked
// under \bin for the tests' own batch lines.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/line_end.h"
#include "support/temp_root.h"

namespace kav::test {

class RunnerRoot : public TempRoot {
 public:
  RunnerRoot() {
    lay_out();
    link("OrbelaTeknovarium/KAV/WGET", "/usr/bin/wget");
    files = platform::make_os_file_system(str());
  }

  // Makes `relative` under the root a symbolic link to the host program.
  void link(const std::string& relative, const std::filesystem::path& program) const {
    const std::filesystem::path at = path() / relative;
    std::filesystem::create_directories(at.parent_path());
    std::filesystem::create_symlink(program, at);
  }

  // Writes a file through the Windows-path file system.
  void put(std::string_view windows_path, std::string_view bytes) const {
    std::unique_ptr<platform::File> file;
    files->open(windows_path, platform::OpenMode::output, file).ignore();
    EXPECT_EQ(file->write(bytes), platform::Status::kOk);
    EXPECT_EQ(file->close(), platform::Status::kOk);
  }

  // A batch file of the given lines, each written as a record with the line end.
  void put_batch(std::string_view windows_path, std::initializer_list<std::string_view> lines) const {
    std::string bytes;
    for (const std::string_view line : lines) (bytes += line) += platform::kLineEnd;
    put(windows_path, bytes);
  }

  std::filesystem::path temp() const { return path() / "OrbelaTeknovarium" / "Temp"; }

  std::unique_ptr<platform::FileSystem> files;
};

// A text placed in a blank-filled field, as the forms hand over command
// lines (8192 characters) and write batch records (200 characters).
inline std::string blank_filled(std::string_view text, std::size_t width) {
  std::string field(text);
  if (field.size() < width) field.resize(width, ' ');
  return field;
}

// The order exchange's batch record for `command` against `host`.
inline std::string get_batch_record(std::string_view host, std::string_view command) {
  std::string line = "\\OrbelaTeknovarium\\Kav\\WGET \"http://";
  line += host;
  line += "/Comandas/GET_KAVCMD.php?COMANDO=";
  line += command;
  line += "\"     --output-document=C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET --no-cache";
  return blank_filled(line, 200);
}

}  // namespace kav::test
