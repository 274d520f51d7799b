// Keyed files kept in SQLite databases (see keyed_format.h).
//
// Reading holds no transaction between operations: every read next is a new
// query (one read transaction) for the first key after the last key read, so
// the ERP can insert, change and delete records during an export, and the
// export sees each record in the state the read finds it. A record's lock
// byte is locked shared before its data is fetched, so that the record is
// never read while the ERP holds it; the shared lock is kept until unlock (or
// the next read, or close), as a keyed file keeps the lock of the last record
// read.
//
// A fetch brings the records that follow too, up to kAhead of them. One of
// those is returned without a new query only when, with its lock byte held,
// the database is seen not to have changed since that fetch: a file in WAL
// mode shows every commit in the header of its shared WAL index, which the
// reader compares. Anything else (a commit, a lock refused, a file in another
// journal mode) sends the read back to a query of its own, so a record is
// always returned as the ERP left it, as if fetched at that moment.
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/status.h"
#include "platform/file_system.h"
#include "platform/keyed/keyed_format.h"
#include "platform/keyed_file.h"
#include "record/area.h"

namespace kav::platform {

namespace keyed {

std::uint64_t lock_offset(std::string_view key) {
  bool digits = key.size() == 6;
  std::uint64_t value = 0;
  for (const char c : key) {
    if (c < '0' || c > '9') {
      digits = false;
      break;
    }
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return digits ? value : 1000000u + fnv1a32(key);
}

}  // namespace keyed

namespace {

// A prepared statement that is reset after each use.
class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool prepare(sqlite3* db, std::string_view sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt_,
                              nullptr) == SQLITE_OK;
  }
  void finalize() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
  sqlite3_stmt* get() const { return stmt_; }

  bool bind_blob(int i, std::string_view bytes) {
    return sqlite3_bind_blob(stmt_, i, bytes.empty() ? "" : bytes.data(), static_cast<int>(bytes.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
  }
  bool bind_int(int i, std::size_t v) {
    return sqlite3_bind_int64(stmt_, i, static_cast<sqlite3_int64>(v)) == SQLITE_OK;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return sqlite3_step(stmt_); }
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  std::string_view column_blob(int i) const {
    const void* p = sqlite3_column_blob(stmt_, i);
    const int n = sqlite3_column_bytes(stmt_, i);
    return p == nullptr ? std::string_view{} : std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n));
  }
  int column_type(int i) const { return sqlite3_column_type(stmt_, i); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement when a scope ends, whatever the way out.
class ResetGuard {
 public:
  explicit ResetGuard(Statement& s) : s_(s) {}
  ~ResetGuard() { s_.reset(); }
  ResetGuard(const ResetGuard&) = delete;
  ResetGuard& operator=(const ResetGuard&) = delete;

 private:
  Statement& s_;
};

constexpr int kBusyTimeoutMs = 5000;

class SqliteKeyedFile final : public KeyedFile {
 public:
  SqliteKeyedFile(FileSystem& fs, std::string windows_path, std::size_t record_length, std::size_t key_length)
      : fs_(fs), path_(std::move(windows_path)), record_length_(record_length), key_length_(key_length) {}
  ~SqliteKeyedFile() override { close().ignore(); }

  Status open_input() override {
    if (db_ != nullptr) return Status::kAlreadyOpen;
    // The host name is found at each open: the file may have appeared, or
    // changed the case of its name, since it was declared.
    if (!fs_.exists(path_)) return Status::kNotFound;
    const std::string host = fs_.host_path(path_);
    const std::string name = keyed::database_name(host);
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(name.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    db_ = db;  // closed by close_all() even when the open failed
    if (rc != SQLITE_OK) {
      const int err = sqlite3_extended_errcode(db);
      close_all();
      return err == SQLITE_CANTOPEN ? Status::kNotFound : Status::kFailed;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    const Status st = check_and_prepare();
    if (!st.ok()) {
      close_all();
      return st;
    }
    // Without a lock file nobody can hold a record locked: reads go on
    // without one when it can be neither opened nor created.
    locks_.open(host + std::string(keyed::kLockSuffix));
    positioned_ = false;
    return Status::kOk;
  }

  Status start(std::string_view key) override {
    if (db_ == nullptr) return Status::kReadNotOpen;
    release_lock();
    positioned_ = false;
    const std::string k = record::padded(key, key_length_);
    std::string first;
    const Found found = next_record(k, true, first, nullptr);
    if (found == Found::failure) return Status::kFailed;
    if (found == Found::none) return Status::kNoRecord;
    from_ = k;
    inclusive_ = true;
    positioned_ = true;
    predicted_ = std::move(first);
    return Status::kOk;
  }

  // The record to read is the first after the position. Its lock byte is
  // taken before the record is fetched, so the fetch sees the record as the
  // ERP left it once it let go. The key to lock is the one the previous fetch
  // saw next; when the fetch under the lock finds another record first (one
  // inserted or deleted meanwhile), that one's lock is taken instead.
  Status read_next(std::string& area) override {
    if (db_ == nullptr) return Status::kReadNotOpen;
    if (!positioned_) return Status::kNoPosition;
    release_lock();
    if (ahead_next_ < ahead_end_) {
      Row& row = ahead_[ahead_next_];
      const std::uint64_t offset = keyed::lock_offset(row.key);
      if (!locks_.is_open() || locks_.try_shared(offset)) {
        if (unchanged_since_fetch()) {
          if (row.data.size() != record_length_ || row.data.compare(0, key_length_, row.key) != 0) {
            if (locks_.is_open()) locks_.release(offset);
            ahead_end_ = 0;
            return Status::kFailed;
          }
          area.swap(row.data);
          from_.swap(row.key);
          inclusive_ = false;
          ++ahead_next_;
          predicted_ = ahead_next_ < ahead_end_ ? ahead_[ahead_next_].key : after_ahead_;
          if (locks_.is_open()) held_ = offset;
          return Status::kOk;
        }
        if (locks_.is_open()) locks_.release(offset);
      }
      // Locked, or changed: read as if nothing had been fetched ahead.
      predicted_ = row.key;
      ahead_end_ = 0;
    }
    for (;;) {
      if (predicted_.empty()) {
        const Found found = next_record(from_, inclusive_, predicted_, nullptr);
        if (found == Found::failure) return Status::kFailed;
        if (found == Found::none) return Status::kAtEnd;
      }
      const std::uint64_t offset = keyed::lock_offset(predicted_);
      if (locks_.is_open() && !locks_.try_shared(offset)) {
        // Locked, if it is still the next record.
        std::string next;
        const Found found = next_record(from_, inclusive_, next, nullptr);
        if (found == Found::failure) return Status::kFailed;
        if (found == Found::record && next == predicted_) return Status::kLocked;
        predicted_.clear();
        if (found == Found::none) return Status::kAtEnd;
        continue;
      }

      std::string key, following;
      const Found found = next_record(from_, inclusive_, key, &fetched_, &following);
      if (found != Found::record || key != predicted_) {
        if (locks_.is_open()) locks_.release(offset);
        predicted_.clear();
        if (found == Found::record) continue;
        return found == Found::none ? Status::kAtEnd : Status::kFailed;
      }
      area.swap(fetched_);
      from_ = std::move(key);
      inclusive_ = false;
      predicted_ = std::move(following);
      if (locks_.is_open()) held_ = offset;
      return Status::kOk;
    }
  }

  Status unlock() override {
    release_lock();
    return Status::kOk;
  }

  Status close() override {
    if (db_ == nullptr) return Status::kNotOpen;
    close_all();
    return Status::kOk;
  }

 private:
  static constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();
  static constexpr std::size_t kAhead = 32;      // records fetched after the one asked for
  static constexpr int kWalIndexRegion = 32768;  // SQLite's WAL index page
  using WalHeader = std::array<unsigned char, 96>;  // its two header copies
  struct Row {
    std::string key, data;
  };

  // Checks that the database holds the table of the format with every record
  // of the right length and key, and prepares the statements of the reads.
  Status check_and_prepare() {
    Statement pk;
    // A file that is not a database fails here, when SQLite first reads it.
    if (!pk.prepare(db_, "SELECT pk, name FROM pragma_table_info('records') ORDER BY pk DESC"))
      return not_database();
    bool key_is_pk = false;
    bool has_data = false;
    int primary_columns = 0;
    for (int rc = pk.step();; rc = pk.step()) {
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) return not_database();
      const long long n = sqlite3_column_int64(pk.get(), 0);
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(pk.get(), 1));
      const std::string_view column = name == nullptr ? std::string_view{} : name;
      if (n > 0) ++primary_columns;
      if (column == "key" && n == 1) key_is_pk = true;
      if (column == "data") has_data = true;
    }
    if (!key_is_pk || !has_data || primary_columns != 1) return Status::kBadFile;

    if (!at_or_after_.prepare(db_, "SELECT key, data FROM records WHERE key >= ?1 ORDER BY key LIMIT ?2") ||
        !after_.prepare(db_, "SELECT key, data FROM records WHERE key > ?1 ORDER BY key LIMIT ?2"))
      return Status::kFailed;

    // A key that is not a blob (text, a number, NULL) sorts below every blob,
    // where no read would ever reach it: one step down the key index finds
    // the first such key, if any.
    Statement stray;
    if (!stray.prepare(db_, "SELECT 1 FROM records WHERE key < X'' LIMIT 1")) return not_database();
    int rc = stray.step();
    if (rc == SQLITE_ROW) return Status::kBadFile;
    if (rc != SQLITE_DONE) return not_database();
    // The first record shows the file's record length. Every record is
    // checked again as it is read (a wrong one fails that read), so the open
    // does not read the whole file.
    std::string first, data;
    const Found found = next_record(std::string_view{}, true, first, &data);
    if (found != Found::failure) {
      find_wal_index();
      return Status::kOk;
    }
    const int err = sqlite3_errcode(db_);
    return err == SQLITE_ROW || err == SQLITE_DONE || err == SQLITE_OK ? Status::kBadFile : not_database();
  }

  // The shared WAL index of a file in WAL mode, whose header changes with
  // every commit; none for a file in another journal mode.
  void find_wal_index() {
    wal_file_ = nullptr;
    Statement mode;
    if (!mode.prepare(db_, "PRAGMA journal_mode") || mode.step() != SQLITE_ROW) return;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0));
    if (text == nullptr || std::string_view(text) != "wal") return;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || file == nullptr ||
        file->pMethods == nullptr || file->pMethods->iVersion < 2 || file->pMethods->xShmMap == nullptr)
      return;
    wal_file_ = file;
  }

  // The WAL index header (both copies) as it stands; false without one.
  bool wal_header(WalHeader& out) const {
    if (wal_file_ == nullptr) return false;
    volatile void* region = nullptr;
    if (wal_file_->pMethods->xShmMap(wal_file_, 0, kWalIndexRegion, 0, &region) != SQLITE_OK || region == nullptr)
      return false;
    const auto* header = static_cast<const volatile unsigned char*>(region);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = header[i];
    return true;
  }

  bool unchanged_since_fetch() const {
    WalHeader now;
    return wal_header(now) && now == fetched_at_;
  }

  enum class Found { record, none, failure };

  // One query, so one read transaction: the first record at or after `key`
  // (`inclusive`) or after it, its data into `area` when asked for, and the
  // key of the record that follows it into `following` (empty at the end).
  // A fetch of data with its following key also keeps the records after it,
  // up to kAhead, with the WAL index header seen before the query.
  Found next_record(std::string_view key, bool inclusive, std::string& first, std::string* area,
                    std::string* following = nullptr) {
    Statement& q = inclusive ? at_or_after_ : after_;
    ResetGuard guard(q);
    const bool ahead = area != nullptr && following != nullptr && wal_header(fetched_at_);
    ahead_end_ = ahead_next_ = 0;
    if (!q.bind_blob(1, key) || !q.bind_int(2, ahead ? kAhead + 2 : 2)) return Found::failure;
    int rc = q.step();
    if (rc == SQLITE_DONE) return Found::none;
    if (rc != SQLITE_ROW || q.column_type(0) != SQLITE_BLOB || q.column_type(1) != SQLITE_BLOB)
      return Found::failure;
    first = q.column_blob(0);
    if (area != nullptr) {
      const std::string_view data = q.column_blob(1);
      // A record changed since the open to another length or key.
      if (data.size() != record_length_ || data.substr(0, key_length_) != first) return Found::failure;
      area->assign(data);
    }
    if (following != nullptr) {
      following->clear();
      rc = q.step();
      if (rc == SQLITE_ROW && q.column_type(0) == SQLITE_BLOB) *following = q.column_blob(0);
      if (ahead) keep_ahead(q, rc);
    }
    return Found::record;
  }

  // The rows that follow the one fetched, from the row `rc` stepped to.
  void keep_ahead(Statement& q, int rc) {
    if (ahead_.size() < kAhead) ahead_.resize(kAhead);
    after_ahead_.clear();
    for (; rc == SQLITE_ROW && q.column_type(0) == SQLITE_BLOB && q.column_type(1) == SQLITE_BLOB; rc = q.step()) {
      if (ahead_end_ == kAhead) {
        after_ahead_ = q.column_blob(0);
        break;
      }
      ahead_[ahead_end_].key = q.column_blob(0);
      ahead_[ahead_end_].data = q.column_blob(1);
      ++ahead_end_;
    }
  }

  Status not_database() const {
    const int err = sqlite3_errcode(db_);
    if (err == SQLITE_BUSY || err == SQLITE_LOCKED || err == SQLITE_IOERR || err == SQLITE_NOMEM ||
        err == SQLITE_CANTOPEN)
      return Status::kFailed;
    if (err == SQLITE_PERM || err == SQLITE_AUTH || err == SQLITE_READONLY) return Status::kDenied;
    return Status::kBadFile;
  }

  void release_lock() {
    if (held_ != kNone) locks_.release(held_);
    held_ = kNone;
  }

  void close_all() {
    release_lock();
    locks_.close();
    at_or_after_.finalize();
    after_.finalize();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    positioned_ = false;
    predicted_.clear();
    ahead_end_ = ahead_next_ = 0;
    wal_file_ = nullptr;
  }

  FileSystem& fs_;
  std::string path_;
  std::size_t record_length_;
  std::size_t key_length_;
  sqlite3* db_ = nullptr;
  keyed::LockFile locks_;
  Statement at_or_after_, after_;  // the next records from a key, or after it
  std::string from_;        // the key the next read starts from
  bool inclusive_ = false;  // whether a record with key `from_` itself is next
  std::string predicted_;   // the key the next read expects to find, or empty
  std::string fetched_;     // the record fetched, until the read returns it
  bool positioned_ = false;
  std::uint64_t held_ = kNone;  // lock byte held since the last read
  sqlite3_file* wal_file_ = nullptr;  // the database file, when in WAL mode
  std::vector<Row> ahead_;            // records fetched after the last one read
  std::size_t ahead_next_ = 0, ahead_end_ = 0;
  std::string after_ahead_;  // the key after them, or empty
  WalHeader fetched_at_{};   // the WAL index header before their fetch
};

class SqliteKeyedFiles final : public KeyedFiles {
 public:
  explicit SqliteKeyedFiles(FileSystem& fs) : fs_(fs) {}

  std::unique_ptr<KeyedFile> file(std::string_view windows_path, std::size_t record_length,
                                  std::size_t key_length) override {
    return std::make_unique<SqliteKeyedFile>(fs_, std::string(windows_path), record_length, key_length);
  }

 private:
  FileSystem& fs_;
};

}  // namespace

std::unique_ptr<KeyedFiles> make_keyed_files(FileSystem& files) { return std::make_unique<SqliteKeyedFiles>(files); }

}  // namespace kav::platform
