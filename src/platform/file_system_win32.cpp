#include <windows.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_status.h"
#include "platform/file_system.h"

namespace kav::platform {

namespace {

// Windows paths are Windows-1252 here; the ANSI functions take them as they stand.
class Win32File final : public File {
 public:
  explicit Win32File(HANDLE h) : h_(h) {}
  ~Win32File() override { close(); }
  bool write(std::string_view bytes) override {
    while (!bytes.empty()) {
      DWORD n = 0;
      if (!WriteFile(h_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) || n == 0) return false;
      bytes.remove_prefix(n);
    }
    return true;
  }
  long read(char* buf, std::size_t n) override {
    DWORD got = 0;
    if (!ReadFile(h_, buf, static_cast<DWORD>(n), &got, nullptr)) return -1;
    return static_cast<long>(got);
  }
  bool sync() override { return FlushFileBuffers(h_) != 0; }
  bool close() override {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    const BOOL ok = CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok != 0;
  }

 private:
  HANDLE h_;
};

// Paths are used as they stand when the root is drive C: itself. Another
// root (a test's folder) stands for drive C: and for the current drive, as on
// POSIX systems: the drive is dropped and the path placed under the root;
// ".." never climbs above it.
class Win32FileSystem final : public FileSystem {
 public:
  explicit Win32FileSystem(std::string root) : root_(std::move(root)) {
    while (!root_.empty() && (root_.back() == '\\' || root_.back() == '/')) root_.pop_back();
    if (root_.size() == 2 && (root_[0] == 'C' || root_[0] == 'c') && root_[1] == ':') root_.clear();
  }

  std::string open(std::string_view path, OpenMode mode, std::unique_ptr<File>& file) override {
    file.reset();
    const std::string p = host_path(path);
    DWORD access = mode == OpenMode::input ? GENERIC_READ : FILE_APPEND_DATA | GENERIC_WRITE;
    DWORD disposition = mode == OpenMode::output ? CREATE_ALWAYS : OPEN_EXISTING;
    if (mode == OpenMode::extend) access = FILE_APPEND_DATA;
    HANDLE h = CreateFileA(p.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD err = GetLastError();
      // A folder is no file: a permanent error, as on POSIX systems (Windows
      // itself says "access denied").
      const DWORD attributes = GetFileAttributesA(p.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::string(status::failed);
      if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
        return std::string(mode == OpenMode::output ? status::failed : status::not_found);
      if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION) return std::string(status::denied);
      return std::string(status::failed);
    }
    file = std::make_unique<Win32File>(h);
    return std::string(status::ok);
  }
  bool remove(std::string_view path) override { return DeleteFileA(host_path(path).c_str()) != 0; }
  bool rename(std::string_view from, std::string_view to) override {
    return MoveFileExA(host_path(from).c_str(), host_path(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  bool exists(std::string_view path) override {
    return GetFileAttributesA(host_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  bool create_directory(std::string_view path) override {
    return CreateDirectoryA(host_path(path).c_str(), nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS;
  }
  std::string host_path(std::string_view path) override {
    if (root_.empty()) return std::string(path);
    const std::vector<std::string_view> parts = path_parts(path);
    std::string host = root_;
    for (const auto part : parts) (host += '\\') += part;
    if (parts.empty()) host += '\\';
    return host;
  }

  std::vector<std::string> list(std::string_view folder, bool folders) override {
    std::vector<std::string> out;
    WIN32_FIND_DATAA data{};
    HANDLE h = FindFirstFileA((host_path(folder) + "\\*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      if (((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folders) out.push_back(name);
    } while (FindNextFileA(h, &data));
    FindClose(h);
    return out;
  }
  // MoveFileEx with MOVEFILE_WRITE_THROUGH has made the rename durable.
  bool sync_directory(std::string_view) override { return true; }

 private:
  std::string root_;  // empty: drive C: itself
};

}  // namespace

std::string default_root() { return "C:\\"; }

std::unique_ptr<FileSystem> make_os_file_system(std::string root) {
  return std::make_unique<Win32FileSystem>(std::move(root));
}

}  // namespace kav::platform
