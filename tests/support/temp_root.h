// A temporary folder laid out as a root (drive C:) for tests on real files.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kav::test {

class TempRoot {
 public:
  TempRoot() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kav-root-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

  // The folders of a laid-out root.
  void lay_out() const {
    for (const char* d : {"OrbelaTeknovarium/Temp", "OrbelaTeknovarium/KAV/Arquivos", "xampp/htdocs/Comandas/FILES"}) {
      std::filesystem::create_directories(path_ / d);
    }
  }

 private:
  std::filesystem::path path_;
};

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace kav::test
