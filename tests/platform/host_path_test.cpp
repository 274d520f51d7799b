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
