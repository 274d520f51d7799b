#include "common/tool_files.h"

#include <fstream>

#include "record/cp1252.h"

namespace kav::tools {

FileCheck check_file(const std::filesystem::path& path, std::uint64_t limit, bool follow_links) {
  std::error_code err;
  const auto st = follow_links ? std::filesystem::status(path, err) : std::filesystem::symlink_status(path, err);
  if (err || !std::filesystem::exists(st)) return FileCheck::unreadable;
  if (std::filesystem::is_symlink(st)) return FileCheck::link;
  if (!std::filesystem::is_regular_file(st)) return FileCheck::not_a_file;
  const auto size = std::filesystem::file_size(path, err);
  if (err) return FileCheck::unreadable;
  return size > limit ? FileCheck::too_large : FileCheck::ok;
}

FileCheck read_file(const std::filesystem::path& path, std::uint64_t limit, bool follow_links, std::string& bytes) {
  bytes.clear();
  if (const FileCheck c = check_file(path, limit, follow_links); c != FileCheck::ok) return c;
  std::ifstream in(path, std::ios::binary);
  if (!in) return FileCheck::unreadable;
  char buf[16384];
  while (in.read(buf, sizeof buf) || in.gcount() > 0) {
    bytes.append(buf, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > limit) {
      bytes.clear();
      return FileCheck::too_large;
    }
  }
  return in.bad() ? FileCheck::unreadable : FileCheck::ok;
}

std::string refusal_text(FileCheck check, std::uint64_t limit, std::string_view bound) {
  switch (check) {
    case FileCheck::ok: return {};
    case FileCheck::unreadable: return record::cp1252("não foi possível ler o arquivo");
    case FileCheck::not_a_file: return record::cp1252("não é um arquivo comum; recusado");
    case FileCheck::link: return record::cp1252("é um link; recusado");
    case FileCheck::too_large: break;
  }
  return record::cp1252("maior que ") + std::to_string(limit) + " bytes, " + std::string(bound) + "; recusado";
}

}  // namespace kav::tools
