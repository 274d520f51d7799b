// A temporary folder laid out as a root (drive C:) for tests on real files.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace kav::test {

class TempRoot {
 public:
  // A new folder of a random name in the temporary folder, made by this
  // process alone (creation fails when the name is taken).
  TempRoot() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
      const auto candidate = base / ("kav-root-" + std::to_string(random()));
      std::error_code taken;
      if (std::filesystem::create_directory(candidate, taken)) {
        path_ = candidate;
        break;
      }
      if (taken) throw std::filesystem::filesystem_error("no temporary root", candidate, taken);
    }
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
