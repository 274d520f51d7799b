// What the system knows of an ERP file: where it lies, its record length and
// the length of its prime key at the start of each record.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "platform/keyed_file.h"

namespace kav::erpfiles {

struct FileLayout {
  std::string_view path;  // no drive letter: the folder on the current drive
  std::size_t record_length;
  std::size_t key_length;
};

// The file declared, not yet open.
inline std::unique_ptr<platform::KeyedFile> declare(platform::KeyedFiles& keyed, const FileLayout& layout) {
  return keyed.file(layout.path, layout.record_length, layout.key_length);
}

}  // namespace kav::erpfiles
