#include "support/fault_file_system.h"

#include <gtest/gtest.h>

#include "platform/text_file.h"

namespace kav::test {
namespace {

using platform::OpenMode;
using Op = FaultFileSystem::Op;

constexpr std::string_view kRet = "C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET";
constexpr std::string_view kPrt = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";

std::string write_one(platform::FileSystem& fs, std::string_view path, std::string_view line) {
  platform::TextFile f(fs);
  platform::Status st = f.open(path, OpenMode::output);
  if (!st.ok()) return "open " + std::string(st.file_status());
  st = f.write_line(line);
  if (!st.ok()) return "write " + std::string(st.file_status());
  st = f.close();
  return st.ok() ? "ok" : "close " + std::string(st.file_status());
}

TEST(FaultFileSystemTest, FailsTheChosenCallOnTheChosenPathOnly) {
  platform::MemoryFileSystem mem;
  FaultFileSystem fs(mem);
  fs.fail(Op::open_output, "formprt", /*skip=*/1);
  EXPECT_EQ(write_one(fs, kPrt, "first"), "ok");
  EXPECT_EQ(write_one(fs, kRet, "answer"), "ok");  // another path is left alone
  EXPECT_EQ(write_one(fs, kPrt, "second"), "open 30");
  EXPECT_EQ(write_one(fs, kPrt, "third"), "ok");  // once only
  EXPECT_EQ(fs.failures(Op::open_output), 1);

  fs.fail(Op::rename, "get_kavcmd", 0, FaultFileSystem::kForever);
  EXPECT_EQ(fs.rename(kRet, "C:\\OrbelaTeknovarium\\Temp\\X.RET"), platform::Status::kFailed);
  EXPECT_EQ(fs.rename(kRet, "C:\\OrbelaTeknovarium\\Temp\\Y.RET"), platform::Status::kFailed);
  EXPECT_TRUE(mem.exists(kRet));
  fs.clear();
  EXPECT_EQ(fs.rename(kRet, "C:\\OrbelaTeknovarium\\Temp\\X.RET"), platform::Status::kOk);
}

TEST(FaultFileSystemTest, AFullDiskKeepsWhatFitsAndFailsTheRest) {
  platform::MemoryFileSystem mem;
  FaultFileSystem fs(mem);
  fs.set_free_space(4);
  EXPECT_NE(write_one(fs, kRet, "0001>abc"), "ok");
  EXPECT_EQ(mem.contents(kRet), "0001");
  EXPECT_EQ(fs.failures(Op::write), 1);
  EXPECT_EQ(write_one(fs, kPrt, "x"), "open 30");  // nothing left: not even a new file
  fs.set_free_space(std::nullopt);
  EXPECT_EQ(write_one(fs, kPrt, "x"), "ok");
}

TEST(FaultFileSystemTest, ASyncCanFailAfterTheWritesWent) {
  platform::MemoryFileSystem mem;
  FaultFileSystem fs(mem);
  fs.fail(Op::sync);
  platform::TextFile f(fs);
  ASSERT_TRUE(f.open(kRet, OpenMode::output).ok());
  ASSERT_TRUE(f.write_line("0001>").ok());
  EXPECT_FALSE(f.sync().ok());
  EXPECT_TRUE(f.sync().ok());
}

}  // namespace
}  // namespace kav::test
