#include "webstub/import.h"

#include <strings.h>

#include <system_error>

namespace kav::webstub {

namespace {

// The entry of `folder` named `name` without regard to case, or `folder`/`name`.
std::filesystem::path entry(const std::filesystem::path& folder, const std::string& name) {
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (::strcasecmp(it->path().filename().c_str(), name.c_str()) == 0) return it->path();
  }
  return folder / name;
}

}  // namespace

ImportResult import_exchange_file(const std::filesystem::path& docroot) {
  const std::filesystem::path file = entry(entry(docroot, "FILES"), "KAVCMD.TXT");
  std::error_code ec;
  const auto size = std::filesystem::file_size(file, ec);
  if (ec) return {"ERRO: FILES/KAVCMD.TXT nao encontrado\n", "KAVCMD.TXT-missing"};
  return {"OK\n", "KAVCMD.TXT-" + std::to_string(size) + "-bytes"};
}

}  // namespace kav::webstub
