#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"
#include "platform/status.h"
#include "platform/file_system.h"
#include "platform/text_file.h"
#include "support/fault_file_system.h"
#include "support/line_ends.h"
#include "support/temp_root.h"

namespace kav::platform {
namespace {

namespace fs = std::filesystem;
using test::TempRoot;
using test::slurp;

#ifndef _WIN32  // Windows itself ignores case: platform_win32_test.cpp
TEST(PosixFileSystemTest, WindowsPathsMapUnderTheRootWithoutRegardToCase) {
  TempRoot root;
  fs::create_directories(root.path() / "OrbelaTeknovarium" / "KAV" / "Arquivos");
  auto files = make_os_file_system(root.path().string());
  const fs::path expected = root.path() / "OrbelaTeknovarium" / "KAV" / "Arquivos" / "PRODUTO.ORB";
  EXPECT_EQ(files->host_path("\\OrbelaTeknovarium\\Kav\\ARQUIVOS\\PRODUTO.ORB"), expected.string());
  EXPECT_EQ(files->host_path("C:\\orbelateknovarium\\kav\\arquivos\\PRODUTO.ORB"), expected.string());
  EXPECT_EQ(files->host_path("c:/ORBELATEKNOVARIUM/KAV/Arquivos/PRODUTO.ORB"), expected.string());
  // ".." never climbs out of the root.
  EXPECT_EQ(files->host_path("C:\\..\\..\\etc\\passwd"), (root.path() / "etc" / "passwd").string());
  // Windows-1252 names reach the host as UTF-8.
  EXPECT_EQ(files->host_path("C:\\Servi\xE7o"), (root.path() / "Serviço").string());
}
#endif

TEST(OsFileSystemTest, StatusesOfOpensAreTheSameOnEverySystem) {
  TempRoot root;
  fs::create_directories(root.path() / "Temp");
  auto files = make_os_file_system(root.path().string());
  std::unique_ptr<File> f;
  EXPECT_EQ(files->open("C:\\Temp\\missing.txt", OpenMode::input, f), Status::kNotFound);
  EXPECT_EQ(files->open("C:\\Temp\\missing.txt", OpenMode::extend, f), Status::kNotFound);
  EXPECT_EQ(files->open("C:\\NoFolder\\x.txt", OpenMode::extend, f), Status::kNotFound);
  EXPECT_EQ(files->open("C:\\NoFolder\\x.txt", OpenMode::output, f), Status::kFailed);
  EXPECT_EQ(files->open("C:\\Temp", OpenMode::input, f), Status::kFailed);
  EXPECT_EQ(files->open("C:\\TEMP\\new.txt", OpenMode::output, f), Status::kOk);
  EXPECT_TRUE(fs::exists(root.path() / "Temp" / "new.txt"));
}

TEST(TextFileTest, LinesReadBackCharacterByCharacterOnBothFileSystems) {
  TempRoot root;
  root.lay_out();
  auto posix = make_os_file_system(root.path().string());
  MemoryFileSystem memory;
  for (FileSystem* files : {static_cast<FileSystem*>(posix.get()), static_cast<FileSystem*>(&memory)}) {
    TextFile t(*files);
    ASSERT_EQ(t.open("C:\\OrbelaTeknovarium\\Temp\\a.txt", OpenMode::output), Status::kOk) << "folder exists?";
    EXPECT_EQ(t.write_line("ab\xE7"), Status::kOk);
    EXPECT_EQ(t.close(), Status::kOk);
    ASSERT_EQ(t.open("C:\\OrbelaTeknovarium\\Temp\\A.TXT", OpenMode::extend), Status::kOk);
    EXPECT_EQ(t.write_line(""), Status::kOk);
    t.close().ignore();
    ASSERT_EQ(t.open("C:\\OrbelaTeknovarium\\Temp\\a.txt", OpenMode::input), Status::kOk);
    std::string got;
    char c = 0;
    while (t.read_char(c).ok()) got += c;
    EXPECT_EQ(got, test::with_line_ends("ab\xE7\n\n"));
    EXPECT_EQ(t.read_char(c), Status::kAtEnd);
    EXPECT_EQ(t.write_line("x"), Status::kWriteNotOpen);
    EXPECT_EQ(t.close(), Status::kOk);
    EXPECT_EQ(t.close(), Status::kNotOpen);
  }
  EXPECT_EQ(slurp(root.path() / "OrbelaTeknovarium" / "Temp" / "a.txt"), test::with_line_ends("ab\xE7\n\n"));
}

TEST(TextFileTest, ALargeFileIsReadWhole) {
  MemoryFileSystem memory;
  std::string big;
  for (int i = 0; i < 200000; ++i) big += static_cast<char>(i % 251);
  memory.put("C:\\big", big);
  TextFile t(memory);
  ASSERT_EQ(t.open("C:\\big", OpenMode::input), Status::kOk);
  std::string got;
  char c = 0;
  while (t.read_char(c).ok()) got += c;
  EXPECT_EQ(got, big);
}

// The read buffer outlives each opening: a second file, shorter than the
// first, and one opened after a read stopped midway, yield their own bytes.
TEST(TextFileTest, AReopenedFileReadsOnlyItsOwnBytes) {
  MemoryFileSystem memory;
  memory.put("C:\\long", std::string(70000, 'x'));
  memory.put("C:\\short", "ab");
  memory.put("C:\\empty", "");
  TextFile t(memory);
  auto read_all = [&](const char* path) {
    std::string got;
    char c = 0;
    if (!t.open(path, OpenMode::input).ok()) return std::string("not opened");
    while (t.read_char(c).ok()) got += c;
    return got;
  };
  EXPECT_EQ(read_all("C:\\long").size(), 70000u);
  EXPECT_EQ(read_all("C:\\short"), "ab");
  EXPECT_EQ(read_all("C:\\empty"), "");
  char c = 0;
  ASSERT_EQ(t.open("C:\\long", OpenMode::input), Status::kOk);
  EXPECT_EQ(t.read_char(c), Status::kOk);
  EXPECT_EQ(read_all("C:\\short"), "ab");
}

// Callers decide on the code of a failure; the files the tests keep in
// memory must fail as the operating system's do.
TEST(FileSystemTest, MemoryAndOperatingSystemFilesFailWithTheSameCodes) {
  TempRoot root;
  root.lay_out();
  MemoryFileSystem memory;
  const std::unique_ptr<FileSystem> os = make_os_file_system(root.str());
  const std::string temp = "C:\\OrbelaTeknovarium\\Temp\\";
  for (FileSystem* files : {static_cast<FileSystem*>(&memory), os.get()}) {
    SCOPED_TRACE(files == &memory ? "memory" : "operating system");
    EXPECT_EQ(files->remove(temp + "NONE.TXT"), Status::kNotFound);
    EXPECT_EQ(files->rename(temp + "NONE.TXT", temp + "OTHER.TXT"), Status::kNotFound);
    EXPECT_EQ(files->create_directory(temp + "NOWHERE\\SUB"), Status::kNotFound);

    std::unique_ptr<File> f;
    ASSERT_EQ(files->open(temp + "A.TXT", OpenMode::output, f), Status::kOk);
    EXPECT_EQ(f->write("a"), Status::kOk);
    EXPECT_EQ(f->sync(), Status::kOk);
    EXPECT_EQ(f->close(), Status::kOk);
    EXPECT_EQ(files->rename(temp + "A.TXT", temp + "NOWHERE\\A.TXT"), Status::kNotFound);
    EXPECT_EQ(files->create_directory(temp + "A.TXT"), Status::kFailed);  // a file stands there
    EXPECT_EQ(files->create_directory(temp + "SUB"), Status::kOk);
    EXPECT_EQ(files->create_directory(temp + "SUB"), Status::kOk);  // there already
    EXPECT_EQ(files->rename(temp + "A.TXT", temp + "SUB\\B.TXT"), Status::kOk);
    EXPECT_EQ(files->sync_directory(temp + "SUB"), Status::kOk);
    EXPECT_EQ(files->remove_folder(temp + "SUB"), Status::kFailed);  // not empty: kept
    EXPECT_EQ(files->remove(temp + "SUB\\B.TXT"), Status::kOk);
    EXPECT_EQ(files->remove_folder(temp + "SUB"), Status::kOk);
    EXPECT_FALSE(files->exists(temp + "SUB"));
    EXPECT_EQ(files->remove_folder(temp + "SUB"), Status::kNotFound);
  }
}

TEST(MemoryFileSystemTest, NeedsTheFolderAndIgnoresCaseAndDrive) {
  MemoryFileSystem memory;
  std::unique_ptr<File> f;
  EXPECT_EQ(memory.open("C:\\Nowhere\\x", OpenMode::output, f), Status::kFailed);
  EXPECT_EQ(memory.open("C:\\xampp\\htdocs\\Comandas\\FILES\\K.TXT", OpenMode::output, f), Status::kOk);
  EXPECT_EQ(f->write("abc"), platform::Status::kOk);
  EXPECT_EQ(memory.contents("\\XAMPP\\HTDOCS\\comandas\\files\\k.txt"), "abc");
  EXPECT_EQ(memory.rename("C:\\xampp\\htdocs\\Comandas\\FILES\\K.TXT", "C:\\OrbelaTeknovarium\\Temp\\K2"), Status::kOk);
  EXPECT_EQ(memory.contents("C:\\OrbelaTeknovarium\\Temp\\K2"), "abc");
  memory.remove_directory("C:\\OrbelaTeknovarium");
  EXPECT_FALSE(memory.exists("C:\\OrbelaTeknovarium\\Temp\\K2"));
}

// What a power cut leaves: each file as at its last sync, each folder's
// entries as at its last sync (a folder itself only when the folder above
// it was synced after it was made). The crash-point tests rest on this.
TEST(MemoryFileSystemTest, APowerCutLeavesOnlyWhatWasSynced) {
  MemoryFileSystem memory;
  const std::string temp = "C:\\OrbelaTeknovarium\\Temp\\";
  memory.put(temp + "OLD", "before");
  memory.put(temp + "GONE", "before");
  memory.track_power_cuts();
  std::unique_ptr<File> f;
  ASSERT_EQ(memory.open(temp + "A.tmp", OpenMode::output, f), Status::kOk);
  EXPECT_EQ(f->write("synced"), platform::Status::kOk);
  EXPECT_EQ(f->sync(), platform::Status::kOk);
  EXPECT_EQ(f->write(" tail"), platform::Status::kOk);
  EXPECT_EQ(f->close(), platform::Status::kOk);
  ASSERT_EQ(memory.rename(temp + "A.tmp", temp + "A"), Status::kOk);
  EXPECT_EQ(memory.remove(temp + "GONE"), platform::Status::kOk);
  memory.put(temp + "OLD", "rewritten, never synced");
  EXPECT_EQ(memory.create_directory("C:\\OrbelaTeknovarium\\Spool"), platform::Status::kOk);
  EXPECT_EQ(memory.create_directory("C:\\OrbelaTeknovarium\\Spool\\P"), platform::Status::kOk);
  EXPECT_EQ(memory.sync_directory("C:\\OrbelaTeknovarium\\Spool"), platform::Status::kOk);

  MemoryFileSystem cut = memory.after_power_cut();  // no folder of Temp synced
  EXPECT_FALSE(cut.exists(temp + "A.tmp"));
  EXPECT_FALSE(cut.exists(temp + "A"));
  EXPECT_EQ(cut.contents(temp + "GONE"), "before");
  EXPECT_FALSE(cut.exists("C:\\OrbelaTeknovarium\\Spool")) << "its parent was not synced";

  EXPECT_EQ(memory.sync_directory(temp), platform::Status::kOk);
  EXPECT_EQ(memory.sync_directory("C:\\OrbelaTeknovarium"), platform::Status::kOk);
  cut = memory.after_power_cut();
  EXPECT_EQ(cut.contents(temp + "A"), "synced");
  EXPECT_FALSE(cut.exists(temp + "A.tmp"));
  EXPECT_FALSE(cut.exists(temp + "GONE"));
  EXPECT_EQ(cut.list(temp, false).size(), 2U);
  EXPECT_EQ(cut.contents(temp + "OLD"), "") << "a new file in the old one's place, its contents never synced";
  EXPECT_TRUE(cut.exists("C:\\OrbelaTeknovarium\\Spool\\P"));
}

// The batch files and Wget's settings: written only when they hold anything
// else, then held unchanged while a program reads them. The memory files
// keep holds as Windows does (platform_win32_test.cpp shows Windows itself).
TEST(HeldFileTest, WrittenOnlyWhenItHoldsAnythingElseAndUnchangeableWhileHeld) {
  MemoryFileSystem memory;
  test::FaultFileSystem files(memory);
  const std::string bat = "C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat";
  const std::string other = "C:\\OrbelaTeknovarium\\Temp\\OTHER.bat";
  std::unique_ptr<File> held;
  ASSERT_TRUE(place_and_hold(files, bat, "one\r\n", held));  // missing: written
  EXPECT_TRUE(memory.is_held(bat));
  std::unique_ptr<File> f;
  EXPECT_EQ(files.open(bat, OpenMode::output, f), Status::kDenied);
  EXPECT_EQ(files.open(bat, OpenMode::extend, f), Status::kDenied);
  EXPECT_EQ(files.remove(bat), Status::kDenied);
  EXPECT_EQ(files.rename(bat, other), Status::kDenied);
  memory.put(other, "two\r\n");
  EXPECT_EQ(files.rename(other, bat), Status::kDenied);
  EXPECT_EQ(files.open(bat, OpenMode::input, f), Status::kOk);  // readers are welcome
  f.reset();
  EXPECT_EQ(memory.contents(bat), "one\r\n");
  held.reset();
  EXPECT_FALSE(memory.is_held(bat));

  // The same contents: not written again.
  files.fail(test::FaultFileSystem::Op::open_output, "GET_KAVCMD", 0, test::FaultFileSystem::kForever);
  EXPECT_TRUE(place_and_hold(files, bat, "one\r\n", held));
  held.reset();
  // Anything else, a longer file of the same start too, is written again.
  EXPECT_FALSE(place_and_hold(files, bat, "one\r\nmore\r\n", held));
  EXPECT_FALSE(held);
  files.clear();
  memory.put(bat, "one\r\nmore\r\n");
  EXPECT_FALSE(hold_if_holding(files, bat, "one\r\n", held));
  EXPECT_FALSE(memory.is_held(bat));
  EXPECT_TRUE(place_and_hold(files, bat, "one\r\n", held));
  EXPECT_EQ(memory.contents(bat), "one\r\n");
  held.reset();

  // Open for writing elsewhere, or not to be held: nothing held, no run.
  ASSERT_EQ(files.open(bat, OpenMode::extend, f), Status::kOk);
  EXPECT_FALSE(place_and_hold(files, bat, "one\r\n", held));
  f.reset();
  files.fail(test::FaultFileSystem::Op::hold, "GET_KAVCMD", 0, test::FaultFileSystem::kForever);
  EXPECT_FALSE(place_and_hold(files, bat, "one\r\n", held));
  EXPECT_FALSE(held);
  files.clear();
  EXPECT_TRUE(place_and_hold(files, bat, "one\r\n", held));
}

TEST(ManualClockTest, CrossesMidnightAndYears) {
  ManualClock clock(2019, 12, 31, 23, 59, 59);
  EXPECT_EQ(clock.date_yymmdd(), "191231");
  EXPECT_EQ(clock.time_hhmmsscc(), "23595900");
  clock.advance_ms(990);
  EXPECT_EQ(clock.time_hhmmsscc(), "23595999");
  clock.advance_ms(10);
  EXPECT_EQ(clock.date_yymmdd(), "200101");
  EXPECT_EQ(clock.time_hhmmsscc(), "00000000");
}

}  // namespace
}  // namespace kav::platform
