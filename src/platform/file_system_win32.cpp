#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "platform/file_system.h"
#include "platform/refused_links.h"

namespace kav::platform {

namespace {

// An antivirus scanner, the search indexer or the print spooler opens a file
// that was just written for a few milliseconds; an open, rename or delete that
// meets it then fails. Every operation of this file system tries again for
// this long before it reports the failure.
constexpr DWORD kSharingRetryMs = 1000;

// STATUS_DELETE_PENDING: the file is being deleted and goes when the last
// handle on it closes. Windows reports it as "access denied".
constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056L);

LONG last_nt_status() {
  using Getter = LONG(WINAPI*)();
  static const Getter get = [] {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll == nullptr ? Getter{}
                            : reinterpret_cast<Getter>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetLastNtStatus")));
  }();
  return get == nullptr ? 0 : get();
}

// Whether the error of the call that just failed may come from another
// program holding the file for a moment: a sharing or lock violation, "access
// denied" on a file whose deletion is pending, or, for a rename onto
// `replaced`, "access denied" while that is an ordinary file (Windows refuses
// to replace a file that is open).
bool held_for_a_moment(DWORD error, const std::string* replaced) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
  if (error != ERROR_ACCESS_DENIED) return false;
  if (last_nt_status() == kStatusDeletePending) return true;
  if (replaced == nullptr) return false;
  const DWORD attributes = GetFileAttributesA(replaced->c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// Runs `attempt` (true on success) until it succeeds, fails otherwise than by
// another program's hold, or kSharingRetryMs have passed; the last failure's
// error stays the thread's last error.
template <class Attempt>
bool retrying(Attempt attempt, const std::string* replaced = nullptr) {
  const ULONGLONG started = GetTickCount64();
  DWORD pause = 2;
  for (;;) {
    if (attempt()) return true;
    const DWORD error = GetLastError();
    const ULONGLONG waited = GetTickCount64() - started;
    if (!held_for_a_moment(error, replaced) || waited >= kSharingRetryMs) {
      SetLastError(error);
      return false;
    }
    Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause, kSharingRetryMs - waited)));
    pause = std::min<DWORD>(pause * 2, 50);
  }
}

// The status of a failure with Windows error `error`; the system's words go
// with a plain failure, where the code alone does not tell what happened (a
// full disk, an I/O error).
Status status_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return Status::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return Status::kDenied;
    default: {
      std::string words = std::system_category().message(static_cast<int>(error));
      while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ')) words.pop_back();
      return Status(Status::kFailed, std::move(words));
    }
  }
}

// The status of the call that failed just now, by GetLastError().
Status last_failure() { return status_of(GetLastError()); }

// Opens `path` as CreateFile does, through retrying().
HANDLE create_file(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE h = INVALID_HANDLE_VALUE;
  retrying([&] {
    // The entry itself: a link or junction is opened as such, never followed.
    h = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return h != INVALID_HANDLE_VALUE;
  });
  return h;
}

// Windows paths are Windows-1252 here; the ANSI functions take them as they stand.
class Win32File final : public File {
 public:
  explicit Win32File(HANDLE h) : h_(h) {}
  ~Win32File() override { close().ignore(); }
  Status write(std::string_view bytes) override {
    while (!bytes.empty()) {
      DWORD n = 0;
      if (!WriteFile(h_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr)) return last_failure();
      if (n == 0) return Status::kFailed;
      bytes.remove_prefix(n);
    }
    return Status::kOk;
  }
  long read(char* buf, std::size_t n) override {
    DWORD got = 0;
    if (!ReadFile(h_, buf, static_cast<DWORD>(n), &got, nullptr)) return -1;
    return static_cast<long>(got);
  }
  Status sync() override { return FlushFileBuffers(h_) != 0 ? Status() : last_failure(); }
  Status close() override {
    if (h_ == INVALID_HANDLE_VALUE) return Status::kOk;
    const BOOL ok = CloseHandle(h_);
    const DWORD error = GetLastError();
    h_ = INVALID_HANDLE_VALUE;
    return ok != 0 ? Status() : status_of(error);
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

  Status open(std::string_view path, OpenMode mode, std::unique_ptr<File>& file) override {
    file.reset();
    const std::string p = host_path(path);
    DWORD access = mode == OpenMode::input ? GENERIC_READ : FILE_APPEND_DATA | GENERIC_WRITE;
    // Cut only once it is known to be a plain file (open_handle).
    DWORD disposition = mode == OpenMode::output ? OPEN_ALWAYS : OPEN_EXISTING;
    if (mode == OpenMode::extend) access = FILE_APPEND_DATA;
    return open_handle(p, access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition, mode, file);
  }
  // Shared for reading only: CMD.EXE and Wget can read it, nobody can write,
  // delete or rename it while it is held.
  Status hold(std::string_view path, std::unique_ptr<File>& file) override {
    file.reset();
    return open_handle(host_path(path), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, OpenMode::input, file);
  }
  Status remove(std::string_view path) override {
    const std::string p = host_path(path);
    if (!folders_plain(p)) return Status(Status::kDenied, "link");
    return retrying([&] { return DeleteFileA(p.c_str()) != 0; }) ? Status() : last_failure();
  }
  Status rename(std::string_view from, std::string_view to) override {
    const std::string source = host_path(from);
    const std::string target = host_path(to);
    if (!folders_plain(source) || !folders_plain(target)) return Status(Status::kDenied, "link");
    if (const DWORD a = GetFileAttributesA(source.c_str());
        a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      note_refused_link(source);
      return Status(Status::kDenied, "link");
    }
    const bool moved = retrying(
        [&] {
          return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
        },
        &target);
    return moved ? Status() : last_failure();
  }
  bool exists(std::string_view path) override {
    return GetFileAttributesA(host_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  Status create_directory(std::string_view path) override {
    const std::string p = host_path(path);
    if (!folders_plain(p)) return Status(Status::kDenied, "link");
    if (CreateDirectoryA(p.c_str(), nullptr) != 0) return Status::kOk;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return last_failure();
    const DWORD a = GetFileAttributesA(p.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      note_refused_link(p);
      return Status(Status::kDenied, "link");
    }
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0) return Status::kOk;
    return Status(Status::kFailed, "not a folder");
  }
  Status remove_folder(std::string_view path) override {
    const std::string p = host_path(path);
    if (!folders_plain(p)) return Status(Status::kDenied, "link");
    const DWORD a = GetFileAttributesA(p.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      note_refused_link(p);
      return Status(Status::kDenied, "link");
    }
    return RemoveDirectoryA(p.c_str()) != 0 ? Status() : last_failure();
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
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;  // neither file nor folder
      if (((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) == folders) out.push_back(name);
    } while (FindNextFileA(h, &data));
    FindClose(h);
    return out;
  }
  // Renames go through MoveFileEx with MOVEFILE_WRITE_THROUGH, which returns
  // once the rename is on the disk, and a file's sync (FlushFileBuffers)
  // writes out NTFS's journal, where its folder's entries stand. Besides,
  // the folder itself is flushed where Windows allows it (a handle on the
  // folder opened for writing): that covers new folders and removals. Where the system refuses to flush a folder (older systems,
  // other file systems, no right to open it for writing) nothing more can
  // be done, and the folder counts as synced; a folder that is not there
  // fails.
  Status sync_directory(std::string_view folder) override {
    const std::string p = host_path(folder);
    HANDLE h = CreateFileA(p.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD err = GetLastError();
      if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME)
        return Status::kNotFound;
      return Status::kOk;
    }
    const bool flushed = FlushFileBuffers(h) != 0;
    const DWORD err = GetLastError();
    CloseHandle(h);
    if (flushed || err == ERROR_ACCESS_DENIED || err == ERROR_INVALID_FUNCTION || err == ERROR_INVALID_PARAMETER ||
        err == ERROR_NOT_SUPPORTED || err == ERROR_INVALID_HANDLE)
      return Status::kOk;
    return status_of(err);
  }

 private:
  // Whether no folder between the root (or the drive) and the last name of
  // `p` is a reparse point (a link or junction that would lead elsewhere);
  // one that is gets noted.
  bool folders_plain(const std::string& p) const {
    std::size_t at = root_.empty() ? p.find('\\') : root_.size();
    if (at == std::string::npos) return true;
    for (std::size_t next = p.find('\\', at + 1); next != std::string::npos; next = p.find('\\', next + 1)) {
      const std::string folder = p.substr(0, next);
      const DWORD a = GetFileAttributesA(folder.c_str());
      if (a == INVALID_FILE_ATTRIBUTES) return true;  // missing: nothing below it is reached
      if ((a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        note_refused_link(folder);
        return false;
      }
    }
    return true;
  }

  Status open_handle(const std::string& p, DWORD access, DWORD share, DWORD disposition, OpenMode mode,
                     std::unique_ptr<File>& file) const {
    if (!folders_plain(p)) return Status(Status::kDenied, "link");
    HANDLE h = create_file(p, access, share, disposition);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD err = GetLastError();
      // A folder is no file: a permanent error, as on POSIX systems (Windows
      // itself says "access denied").
      const DWORD attributes = GetFileAttributesA(p.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return Status::kFailed;
      if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
        return mode == OpenMode::output ? Status::kFailed : Status::kNotFound;
      if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION) return Status::kDenied;
      return Status::kFailed;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      CloseHandle(h);
      return Status::kFailed;
    }
    // A link or junction, or (written to) a file with another name
    // elsewhere: refused, nothing written through it.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (mode != OpenMode::input && info.nNumberOfLinks > 1)) {
      CloseHandle(h);
      note_refused_link(p);
      return Status(Status::kDenied, "link");
    }
    if (mode == OpenMode::output && !SetEndOfFile(h)) {
      CloseHandle(h);
      return Status::kFailed;
    }
    file = std::make_unique<Win32File>(h);
    return Status::kOk;
  }

  std::string root_;  // empty: drive C: itself
};

}  // namespace

std::string default_root() { return "C:\\"; }

std::unique_ptr<FileSystem> make_os_file_system(std::string root) {
  return std::make_unique<Win32FileSystem>(std::move(root));
}

}  // namespace kav::platform
