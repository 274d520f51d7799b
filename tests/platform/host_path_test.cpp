// Host names of Windows paths when folders change under a file system that
// remembers the folders it has found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/status.h"
#include "platform/file_system.h"
#include "support/temp_root.h"

namespace kav::platform {
namespace {

namespace fs = std::filesystem;

struct HostPathTest : ::testing::Test {
  HostPathTest() { fs::create_directories(root.path() / "OrbelaTeknovarium" / "Kav"); }
  std::string host(const char* relative) const { return (root.path() / relative).string(); }

  test::TempRoot root;
  std::unique_ptr<FileSystem> files = make_os_file_system(root.str());
};

TEST_F(HostPathTest, FoldersRenamedOrMadeAfterTheFirstUseAreFound) {
  constexpr std::string_view wget = "\\OrbelaTeknovarium\\KAV\\WGET";
  EXPECT_EQ(files->host_path(wget), host("OrbelaTeknovarium/Kav/WGET"));

  // The folder takes another case: the remembered name has gone.
  fs::rename(root.path() / "OrbelaTeknovarium" / "Kav", root.path() / "OrbelaTeknovarium" / "KAV_");
  fs::rename(root.path() / "OrbelaTeknovarium" / "KAV_", root.path() / "OrbelaTeknovarium" / "KAV");
  EXPECT_EQ(files->host_path(wget), host("OrbelaTeknovarium/KAV/WGET"));
  std::ofstream(root.path() / "OrbelaTeknovarium" / "KAV" / "wget") << "x";
  EXPECT_EQ(files->host_path(wget), host("OrbelaTeknovarium/KAV/wget"));

  // A folder missing at the first use and made later with another case.
  EXPECT_EQ(files->host_path("C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET"),
            host("OrbelaTeknovarium/Temp/GET_KAVCMD.RET"));
  fs::create_directories(root.path() / "OrbelaTeknovarium" / "TEMP");
  EXPECT_EQ(files->host_path("C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET"),
            host("OrbelaTeknovarium/TEMP/GET_KAVCMD.RET"));

  // A whole branch removed and made again in other letters, files opened
  // through it.
  fs::remove_all(root.path() / "OrbelaTeknovarium");
  fs::create_directories(root.path() / "orbelateknovarium" / "temp");
  std::unique_ptr<File> file;
  EXPECT_EQ(files->open("C:\\OrbelaTeknovarium\\Temp\\X.TXT", OpenMode::output, file), Status::kOk);
  file.reset();
  EXPECT_TRUE(fs::exists(root.path() / "orbelateknovarium" / "temp" / "X.TXT"));
  EXPECT_TRUE(files->exists("C:\\ORBELATEKNOVARIUM\\TEMP\\x.txt"));
}

TEST_F(HostPathTest, AFileOfAnotherCaseInARememberedFolderIsMatched) {
  EXPECT_EQ(files->host_path("\\OrbelaTeknovarium\\Kav\\Arquivos\\PRODUTO.ORB"),
            host("OrbelaTeknovarium/Kav/Arquivos/PRODUTO.ORB"));
  fs::create_directories(root.path() / "OrbelaTeknovarium" / "Kav" / "ARQUIVOS");
  std::ofstream(root.path() / "OrbelaTeknovarium" / "Kav" / "ARQUIVOS" / "produto.orb") << "x";
  EXPECT_EQ(files->host_path("\\OrbelaTeknovarium\\Kav\\Arquivos\\PRODUTO.ORB"),
            host("OrbelaTeknovarium/Kav/ARQUIVOS/produto.orb"));
}

}  // namespace
}  // namespace kav::platform

namespace kav::platform {
namespace {

// A folder of many entries is not read at every miss: its names are kept,
// and what this process changes, or another does, is still seen.
TEST(LargeFolderNames, OtherCasesFoundAfterChangesOfOursAndOfOthers) {
  test::TempRoot root;
  const auto folder = root.path() / "Spool" / "BAR";
  fs::create_directories(folder);
  for (int i = 0; i < 400; ++i) std::ofstream(folder / ("t" + std::to_string(i) + ".txt")) << "x";
  auto files = make_os_file_system(root.str());
  const auto host = [&](const char* name) { return files->host_path(std::string("C:\\Spool\\BAR\\") + name); };

  EXPECT_EQ(host("T7.TXT"), (folder / "t7.txt").string());
  EXPECT_FALSE(files->exists("C:\\Spool\\BAR\\new.txt"));  // the folder's names are kept from here

  // Ours: made, renamed, removed through the file system.
  std::unique_ptr<File> file;
  ASSERT_EQ(files->open("C:\\Spool\\BAR\\new.tmp", OpenMode::output, file), Status::kOk);
  file.reset();
  EXPECT_EQ(host("NEW.TMP"), (folder / "new.tmp").string());
  ASSERT_TRUE(files->rename("C:\\Spool\\BAR\\new.tmp", "C:\\Spool\\BAR\\new.txt").ok());
  EXPECT_EQ(host("NEW.TXT"), (folder / "new.txt").string());
  EXPECT_FALSE(files->exists("C:\\Spool\\BAR\\NEW.TMP"));
  ASSERT_TRUE(files->remove("C:\\Spool\\BAR\\T8.TXT").ok());
  EXPECT_FALSE(fs::exists(folder / "t8.txt"));
  EXPECT_FALSE(files->exists("C:\\Spool\\BAR\\T8.txt"));

  // Another program's: made and removed beside us.
  std::ofstream(folder / "other.txt") << "x";
  EXPECT_TRUE(files->exists("C:\\Spool\\BAR\\OTHER.TXT"));
  fs::remove(folder / "t9.txt");
  EXPECT_FALSE(files->exists("C:\\Spool\\BAR\\T9.TXT"));
}

}  // namespace
}  // namespace kav::platform
