// Files held unchanged while a program reads them: the batch files and GNU
// Wget's settings.
#include <memory>

#include "platform/status.h"
#include "platform/file_system.h"

namespace kav::platform {

bool hold_if_holding(FileSystem& files, std::string_view path, std::string_view contents,
                     std::unique_ptr<File>& held) {
  held.reset();
  std::unique_ptr<File> file;
  if (!files.hold(path, file).ok()) return false;
  // Read up to one byte more than wanted: a longer file is another file.
  std::string present;
  char buf[512];
  long n = 0;
  while (present.size() <= contents.size() && (n = file->read(buf, sizeof buf)) > 0)
    present.append(buf, static_cast<std::size_t>(n));
  if (n < 0 || present != contents) return false;
  held = std::move(file);
  return true;
}

bool place_and_hold(FileSystem& files, std::string_view path, std::string_view contents,
                    std::unique_ptr<File>& held) {
  if (hold_if_holding(files, path, contents, held)) return true;
  std::unique_ptr<File> out;
  if (!files.open(path, OpenMode::output, out).ok()) return false;
  const bool written = out->write(contents).ok();
  if (!out->close().ok() || !written) return false;
  return hold_if_holding(files, path, contents, held);
}

}  // namespace kav::platform
