// The keyed store on real SQLite files in a temporary root.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/status.h"
#include "platform/file_system.h"
#include "platform/keyed/keyed_format.h"
#include "platform/keyed/keyed_writer.h"
#include "platform/keyed_file.h"
#include "record/area.h"
#include "support/temp_root.h"

namespace kav::platform {
namespace {

namespace fs = std::filesystem;
using keyed::KeyedWriter;
using keyed::LockFile;

constexpr std::string_view kPath = "\\OrbelaTeknovarium\\KAV\\Arquivos\\PRODUTO.ORB";
constexpr std::size_t kLength = 869;

std::string rec(std::string_view key, std::string_view rest = "") {
  return record::padded(std::string(key) + std::string(rest), kLength);
}

class KeyedStoreTest : public ::testing::Test {
 protected:
  KeyedStoreTest() {
    root_.lay_out();
    files_ = make_os_file_system(root_.str());
    keyed_ = make_keyed_files(*files_);
    host_ = files_->host_path(kPath);
  }

  // Creates the file with these records.
  void create(const std::vector<std::string>& records) {
    KeyedWriter w;
    ASSERT_EQ(w.open(host_, true), "");
    ASSERT_TRUE(w.begin());
    for (const auto& r : records) ASSERT_TRUE(w.put(r.substr(0, 6), r));
    ASSERT_TRUE(w.commit());
  }

  std::unique_ptr<KeyedFile> file(std::size_t length = kLength) { return keyed_->file(kPath, length, 6); }

  // The file opened and positioned at its start, its first record read.
  std::unique_ptr<KeyedFile> first_read(std::string& area) {
    auto f = file();
    EXPECT_EQ(f->open_input(), Status::kOk);
    EXPECT_EQ(f->start("000000"), Status::kOk);
    EXPECT_EQ(f->read_next(area), Status::kOk);
    return f;
  }

  // Reads to the end; the keys read.
  static std::vector<std::string> keys(KeyedFile& f) {
    std::vector<std::string> out;
    std::string area;
    for (platform::Status st = f.read_next(area); st.ok(); st = f.read_next(area)) {
      EXPECT_EQ(area.size(), kLength);
      out.push_back(area.substr(0, 6));
    }
    return out;
  }

  test::TempRoot root_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<KeyedFiles> keyed_;
  std::string host_;
};

TEST_F(KeyedStoreTest, ReadsInAscendingKeyOrderFromTheStartKey) {
  create({rec("000300", "c"), rec("000001", "a"), rec(" 00007", "below"), rec("000020", "b\xE7")});
  auto f = file();
  ASSERT_EQ(f->open_input(), Status::kOk);
  ASSERT_EQ(f->start("000000"), Status::kOk);
  std::string area;
  ASSERT_EQ(f->read_next(area), Status::kOk);
  EXPECT_EQ(area, rec("000001", "a"));
  EXPECT_EQ(keys(*f), (std::vector<std::string>{"000020", "000300"}));
  // The end stays the end.
  EXPECT_EQ(f->read_next(area), Status::kAtEnd);

  // A start in the middle; the key below "000000" is never reached.
  ASSERT_EQ(f->start("000002"), Status::kOk);
  EXPECT_EQ(keys(*f), (std::vector<std::string>{"000020", "000300"}));
  EXPECT_EQ(f->close(), Status::kOk);
}

TEST_F(KeyedStoreTest, StartWithoutARecordAndReadsWithoutAPosition) {
  create({rec(" 00001")});
  auto f = file();
  std::string area;
  EXPECT_EQ(f->read_next(area), Status::kReadNotOpen);
  ASSERT_EQ(f->open_input(), Status::kOk);
  EXPECT_EQ(f->open_input(), Status::kAlreadyOpen);
  EXPECT_EQ(f->read_next(area), Status::kNoPosition);
  EXPECT_EQ(f->start("000000"), Status::kNoRecord);
  EXPECT_EQ(f->read_next(area), Status::kNoPosition);
  EXPECT_EQ(f->unlock(), Status::kOk);
}

TEST_F(KeyedStoreTest, CloseOfAFileNotOpenChangesNothing) {
  create({rec("000001")});
  auto f = file();
  EXPECT_EQ(f->close(), Status::kNotOpen);
  ASSERT_EQ(f->open_input(), Status::kOk);
  EXPECT_EQ(f->close(), Status::kOk);
  EXPECT_EQ(f->close(), Status::kNotOpen);
  // Open again after a close: a new run from the start.
  ASSERT_EQ(f->open_input(), Status::kOk);
  ASSERT_EQ(f->start("000000"), Status::kOk);
  EXPECT_EQ(keys(*f), std::vector<std::string>{"000001"});
}

TEST_F(KeyedStoreTest, FailedOpens) {
  auto f = file();
  EXPECT_EQ(f->open_input(), Status::kNotFound);

  {  // Not a database at all.
    std::ofstream(host_) << "000001 this is a text file, not a keyed file\n";
    EXPECT_EQ(f->open_input(), Status::kBadFile);
    fs::remove(host_);
  }
  {  // A database without the table.
    KeyedWriter w;
    ASSERT_EQ(w.open(host_, false).empty(), false);  // no file: not created without `create`
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(host_.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE other(x)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_EQ(f->open_input(), Status::kBadFile);
    fs::remove(host_);
  }
  // Every record must have the record length, a blob key of the key length,
  // and the key as its first bytes. The open checks the first record; every
  // other one is checked when it is read, and a wrong one fails that read
  // without moving past it.
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"000002", record::padded("000002", kLength - 1)},
      {"000002", record::padded("000002", kLength + 1)},
      {"00002", record::padded("00002", kLength)},
      {"000003", rec("000002")},
  };
  for (const auto& [key, data] : bad) {
    fs::remove(host_);
    create({rec("000001")});
    KeyedWriter w;
    ASSERT_EQ(w.open(host_, false), "");
    ASSERT_TRUE(w.put(key, data));
    w.close();
    ASSERT_EQ(f->open_input(), Status::kOk) << key;
    ASSERT_EQ(f->start("000000"), Status::kOk);
    std::string area;
    EXPECT_EQ(f->read_next(area), Status::kOk);
    EXPECT_EQ(area, rec("000001"));
    EXPECT_EQ(f->read_next(area), Status::kFailed) << key;
    EXPECT_EQ(f->read_next(area), Status::kFailed) << key;
    EXPECT_EQ(area, rec("000001"));
    EXPECT_EQ(f->close(), Status::kOk);
    // The same record first in the file: the open refuses it.
    fs::remove(host_);
    create({});
    ASSERT_EQ(w.open(host_, false), "");
    ASSERT_TRUE(w.put(key, data));
    w.close();
    EXPECT_EQ(f->open_input(), Status::kBadFile) << key;
    EXPECT_EQ(f->close(), Status::kNotOpen);
  }
  {  // A key stored as text sorts apart from blob keys: refused as well.
    fs::remove(host_);
    create({rec("000001")});
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(host_.c_str(), &db), SQLITE_OK);
    const std::string sql = "INSERT INTO records VALUES('000002', CAST('" + rec("000002") + "' AS BLOB))";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    EXPECT_EQ(f->open_input(), Status::kBadFile);
  }
  // The record length is the file's: the same file opens for its own length.
  fs::remove(host_);
  create({rec("000001")});
  EXPECT_EQ(file(kLength + 1)->open_input(), Status::kBadFile);
  EXPECT_EQ(file()->open_input(), Status::kOk);
}

TEST_F(KeyedStoreTest, LockedRecordIsReportedWithoutAdvancing) {
  create({rec("000001"), rec("000002"), rec("000003")});
  auto f = file();
  ASSERT_EQ(f->open_input(), Status::kOk);
  ASSERT_EQ(f->start("000000"), Status::kOk);

  LockFile erp;
  ASSERT_TRUE(erp.open(host_ + ".lck"));
  ASSERT_TRUE(erp.lock_exclusive(2, false));

  std::string area;
  ASSERT_EQ(f->read_next(area), Status::kOk);
  EXPECT_EQ(area.substr(0, 6), "000001");
  EXPECT_EQ(f->read_next(area), Status::kLocked);
  EXPECT_EQ(f->read_next(area), Status::kLocked);
  erp.release(2);
  ASSERT_EQ(f->read_next(area), Status::kOk);
  EXPECT_EQ(area.substr(0, 6), "000002");
  ASSERT_EQ(f->read_next(area), Status::kOk);
  EXPECT_EQ(area.substr(0, 6), "000003");
}

TEST_F(KeyedStoreTest, ALockOnARecordThatIsNoLongerNextDoesNotHoldTheRead) {
  create({rec("000001"), rec("000003"), rec("000005")});
  std::string area;
  auto f = first_read(area);

  // The ERP inserts 000002 and holds 000003, and then deletes 000005 while
  // holding it: the reads find 000002, wait on 000003, and end after it.
  KeyedWriter erp;
  ASSERT_EQ(erp.open(host_, false), "");
  ASSERT_TRUE(erp.put("000002", rec("000002")));
  LockFile erp_locks;
  ASSERT_TRUE(erp_locks.open(host_ + ".lck"));
  ASSERT_TRUE(erp_locks.lock_exclusive(3, false));
  ASSERT_EQ(f->read_next(area), Status::kOk);
  EXPECT_EQ(area.substr(0, 6), "000002");
  const std::string before = area;
  EXPECT_EQ(f->read_next(area), Status::kLocked);
  EXPECT_EQ(area, before);  // a locked read leaves the area alone
  erp_locks.release(3);
  ASSERT_TRUE(erp_locks.lock_exclusive(5, false));
  ASSERT_EQ(f->read_next(area), Status::kOk);
  EXPECT_EQ(area.substr(0, 6), "000003");
  EXPECT_EQ(f->read_next(area), Status::kLocked);
  ASSERT_TRUE(erp.erase("000005"));
  EXPECT_EQ(f->read_next(area), Status::kAtEnd);
}

TEST_F(KeyedStoreTest, TheRecordReadStaysLockedAgainstWritersUntilUnlock) {
  create({rec("000001"), rec("000002")});
  std::string area;
  auto f = first_read(area);

  LockFile erp;
  ASSERT_TRUE(erp.open(host_ + ".lck"));
  EXPECT_FALSE(erp.lock_exclusive(1, false));
  EXPECT_EQ(f->unlock(), Status::kOk);
  EXPECT_TRUE(erp.lock_exclusive(1, false));
  erp.release(1);

  // The next read lets the previous record go; close lets everything go.
  ASSERT_EQ(f->read_next(area), Status::kOk);
  EXPECT_TRUE(erp.lock_exclusive(1, false));
  EXPECT_FALSE(erp.lock_exclusive(2, false));
  f->close().ignore();
  EXPECT_TRUE(erp.lock_exclusive(2, false));
}

TEST_F(KeyedStoreTest, SeesInsertsChangesAndDeletesMadeWhileReading) {
  create({rec("000001"), rec("000003", "old"), rec("000005"), rec("000007")});
  std::string area;
  auto f = first_read(area);

  KeyedWriter erp;  // writes while the reader has the file open
  ASSERT_EQ(erp.open(host_, false), "");
  ASSERT_TRUE(erp.put("000002", rec("000002")));
  ASSERT_TRUE(erp.put("000003", rec("000003", "new")));
  ASSERT_TRUE(erp.erase("000005"));
  ASSERT_TRUE(erp.put("000000", rec("000000")));  // behind the position: not read

  ASSERT_EQ(f->read_next(area), Status::kOk);
  EXPECT_EQ(area, rec("000002"));
  ASSERT_EQ(f->read_next(area), Status::kOk);
  EXPECT_EQ(area, rec("000003", "new"));
  // The record just read is deleted: the read goes on after its key.
  ASSERT_TRUE(erp.erase("000003"));
  EXPECT_EQ(keys(*f), std::vector<std::string>{"000007"});
}

// Records come in fetches of many at a time; one fetched ahead is returned
// only while the file is unchanged since its fetch, with its lock taken, so
// changes made at any moment of a long run are seen as they stand. The same
// reads on a file in rollback-journal mode, which fetches one at a time.
TEST_F(KeyedStoreTest, ALongRunSeesEveryChangeAndLockWhereverItFalls) {
  for (const bool wal : {true, false}) {
    SCOPED_TRACE(wal ? "WAL" : "rollback journal");
    fs::remove(host_);
    fs::remove(host_ + "-wal");
    fs::remove(host_ + "-shm");
    std::vector<std::string> records;
    for (int i = 1; i <= 100; ++i) {
      char key[8];
      std::snprintf(key, sizeof key, "%06d", i);
      records.push_back(rec(key, "old"));
    }
    create(records);
    if (!wal) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(host_.c_str(), &db), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    }
    std::string area;
    auto f = first_read(area);

    KeyedWriter erp;
    ASSERT_EQ(erp.open(host_, false), "");
    LockFile erp_locks;
    ASSERT_TRUE(erp_locks.open(host_ + ".lck"));
    ASSERT_TRUE(erp.put("000005", rec("000005", "new")));
    ASSERT_TRUE(erp.erase("000006"));
    ASSERT_TRUE(erp.put("000007", rec("000007", "new")));
    ASSERT_TRUE(erp_locks.lock_exclusive(9, false));
    std::vector<std::string> read;
    Status st;
    while ((st = f->read_next(area)).ok()) read.push_back(area.substr(0, 9));
    EXPECT_EQ(st, Status::kLocked);
    EXPECT_EQ(read, (std::vector<std::string>{"000002old", "000003old", "000004old", "000005new", "000007new",
                                              "000008old"}));
    erp_locks.release(9);
    // Changed just after its fetch, with the record fetched ahead.
    ASSERT_EQ(f->read_next(area), Status::kOk);
    EXPECT_EQ(area.substr(0, 9), "000009old");
    ASSERT_TRUE(erp.put("000010", rec("000010", "new")));
    ASSERT_TRUE(erp.put("000011", rec("000011", "new")));
    ASSERT_EQ(f->read_next(area), Status::kOk);
    EXPECT_EQ(area.substr(0, 9), "000010new");
    // Held by the ERP well past the first fetch: the read waits there.
    ASSERT_TRUE(erp_locks.lock_exclusive(60, false));
    int n = 0;
    while ((st = f->read_next(area)).ok()) ++n;
    EXPECT_EQ(st, Status::kLocked);
    EXPECT_EQ(n, 49);
    EXPECT_EQ(area.substr(0, 9), "000059old");
    erp_locks.release(60);
    ASSERT_TRUE(erp.put("000101", rec("000101", "new")));
    while ((st = f->read_next(area)).ok()) ++n;
    EXPECT_EQ(st, Status::kAtEnd);
    EXPECT_EQ(n, 49 + 42);
    EXPECT_EQ(area.substr(0, 9), "000101new");
    EXPECT_EQ(f->close(), Status::kOk);
  }
}

TEST_F(KeyedStoreTest, ReadsWhileTheErpHoldsAWriteTransaction) {
  create({rec("000001"), rec("000002")});
  KeyedWriter erp;
  ASSERT_EQ(erp.open(host_, false), "");
  ASSERT_TRUE(erp.begin());
  ASSERT_TRUE(erp.put("000003", rec("000003")));  // not committed yet

  auto f = file();
  ASSERT_EQ(f->open_input(), Status::kOk);
  ASSERT_EQ(f->start("000000"), Status::kOk);
  EXPECT_EQ(keys(*f), (std::vector<std::string>{"000001", "000002"}));
  ASSERT_TRUE(erp.commit());
  std::string area;
  ASSERT_EQ(f->read_next(area), Status::kOk);
  EXPECT_EQ(area.substr(0, 6), "000003");
}

TEST(KeyedFormatTest, LockOffsets) {
  EXPECT_EQ(keyed::lock_offset("000000"), 0u);
  EXPECT_EQ(keyed::lock_offset("004711"), 4711u);
  EXPECT_EQ(keyed::lock_offset("999999"), 999999u);
  // FNV-1a 32 of the key bytes, above the range of six-digit keys.
  EXPECT_EQ(keyed::fnv1a32(""), 0x811C9DC5u);
  EXPECT_EQ(keyed::fnv1a32("a"), 0xE40C292Cu);
  EXPECT_EQ(keyed::fnv1a32("foobar"), 0xBF9CF968u);
  EXPECT_EQ(keyed::lock_offset("1"), 1000000u + keyed::fnv1a32("1"));
  EXPECT_EQ(keyed::lock_offset(" 00001"), 1000000u + keyed::fnv1a32(" 00001"));
  EXPECT_EQ(keyed::lock_offset("00001"), 1000000u + keyed::fnv1a32("00001"));
}

}  // namespace
}  // namespace kav::platform
