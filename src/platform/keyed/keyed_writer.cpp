#include "platform/keyed/keyed_writer.h"

#include <sqlite3.h>

#include "platform/keyed/keyed_format.h"

namespace kav::platform::keyed {

namespace {

constexpr int kBusyTimeoutMs = 10000;

class Stmt {
 public:
  Stmt(sqlite3* db, std::string_view sql) {
    sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  bool blob(int i, std::string_view b) {
    return sqlite3_bind_blob(stmt_, i, b.empty() ? "" : b.data(), static_cast<int>(b.size()), SQLITE_STATIC) ==
           SQLITE_OK;
  }
  int step() { return sqlite3_step(stmt_); }
  std::string_view column(int i) const {
    const void* p = sqlite3_column_blob(stmt_, i);
    const int n = sqlite3_column_bytes(stmt_, i);
    return p == nullptr ? std::string_view{} : std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n));
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

std::string KeyedWriter::open(std::string_view host_path, bool create) {
  close();
  const std::string name = database_name(host_path);
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    std::string why = error();
    close();
    return why.empty() ? "cannot open" : why;
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // In WAL mode a commit then waits for no disk sync; the file stays
  // consistent, a power failure may only lose the latest commits.
  exec("PRAGMA synchronous=NORMAL");
  if (create && (!exec("PRAGMA journal_mode=WAL") || !exec(kCreateTable))) {
    std::string why = error();
    close();
    return why;
  }
  return {};
}

void KeyedWriter::close() {
  if (db_ != nullptr) sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool KeyedWriter::exec(std::string_view sql) {
  const std::string s(sql);
  return db_ != nullptr && sqlite3_exec(db_, s.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool KeyedWriter::begin() { return exec("BEGIN IMMEDIATE"); }
bool KeyedWriter::commit() { return exec("COMMIT"); }

bool KeyedWriter::put(std::string_view key, std::string_view record) {
  if (db_ == nullptr) return false;
  Stmt s(db_, "INSERT OR REPLACE INTO records(key, data) VALUES(?1, ?2)");
  return s.ok() && s.blob(1, key) && s.blob(2, record) && s.step() == SQLITE_DONE;
}

bool KeyedWriter::erase(std::string_view key) {
  if (db_ == nullptr) return false;
  Stmt s(db_, "DELETE FROM records WHERE key = ?1");
  return s.ok() && s.blob(1, key) && s.step() == SQLITE_DONE;
}

bool KeyedWriter::for_each(const std::function<bool(std::string_view, std::string_view)>& each) {
  if (db_ == nullptr) return false;
  Stmt s(db_, "SELECT key, data FROM records ORDER BY key");
  if (!s.ok()) return false;
  for (;;) {
    const int rc = s.step();
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) return false;
    if (!each(s.column(0), s.column(1))) return true;
  }
}

std::string KeyedWriter::error() const { return db_ != nullptr ? sqlite3_errmsg(db_) : std::string(); }

}  // namespace kav::platform::keyed
