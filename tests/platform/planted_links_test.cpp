// Links planted under the root by someone else on the machine: every file the
// monitor writes, renames or removes there is reached without following one.
// The link is refused and noted, and the file it points to stays as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "board/alerts.h"
#include "board/link_alerts.h"
#include "log/log_form.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "platform/refused_links.h"
#include "support/temp_root.h"

namespace kav::platform {
namespace {

namespace fs = std::filesystem;
using test::slurp;

class PlantedLinks : public ::testing::Test {
 protected:
  PlantedLinks() {
    root.lay_out();
    files = make_os_file_system(root.str());
    fs::create_directories(root.path() / "OrbelaTeknovarium" / "Spool");
    fs::create_directories(elsewhere.path() / "folder");
    std::ofstream(target(), std::ios::binary) << "precious";
    ::chmod(target().c_str(), 0600);
    take_refused_links();
  }
  fs::path target() const { return elsewhere.path() / "target.txt"; }
  fs::path in_root(const char* relative) const { return root.path() / "OrbelaTeknovarium" / relative; }
  void plant(const char* relative) const { fs::create_symlink(target(), in_root(relative)); }
  void expect_target_untouched() const {
    EXPECT_EQ(slurp(target()), "precious");
    struct stat st {};
    ASSERT_EQ(::stat(target().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  bool noted(const fs::path& link) const {
    const auto notes = take_refused_links();
    return std::find(notes.begin(), notes.end(), link.string()) != notes.end();
  }

  test::TempRoot root;
  test::TempRoot elsewhere;
  std::unique_ptr<FileSystem> files;
};

TEST_F(PlantedLinks, TheLockIsNeitherCutNorOpenedToEveryoneThroughALink) {
  plant("Temp/KAVCOMANDA.LCK");
  std::unique_ptr<InstanceLock> lock;
  EXPECT_EQ(take_instance_lock(*files, lock), LockOutcome::unavailable);
  EXPECT_EQ(lock, nullptr);
  expect_target_untouched();
  EXPECT_TRUE(noted(in_root("Temp/KAVCOMANDA.LCK")));
  // A second name of the file (a hard link) is no lock file of ours either.
  fs::remove(in_root("Temp/KAVCOMANDA.LCK"));
  std::error_code err;
  fs::create_hard_link(target(), in_root("Temp/KAVCOMANDA.LCK"), err);
  if (!err) {
    EXPECT_EQ(take_instance_lock(*files, lock), LockOutcome::unavailable);
    expect_target_untouched();
  }
  // A lock file someone else made keeps its mode; one made here is everyone's.
  fs::remove(in_root("Temp/KAVCOMANDA.LCK"));
  std::ofstream(in_root("Temp/KAVCOMANDA.LCK")) << "";
  ::chmod(in_root("Temp/KAVCOMANDA.LCK").c_str(), 0640);
  ASSERT_EQ(take_instance_lock(*files, lock), LockOutcome::taken);
  struct stat st {};
  ::stat(in_root("Temp/KAVCOMANDA.LCK").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(PlantedLinks, NoFileOfTheTempFolderOrTheLogIsWrittenThroughALink) {
  for (const char* name : {"Temp/FORMPRT.PRT", "Temp/GET_KAVCMD.bat", "LOGCMD_20191127.txt"}) {
    SCOPED_TRACE(name);
    plant(name);
    const std::string path = "C:\\OrbelaTeknovarium\\" + std::string(name);
    std::unique_ptr<File> file;
    for (const OpenMode mode : {OpenMode::output, OpenMode::extend, OpenMode::input}) {
      EXPECT_EQ(files->open(path, mode, file), Status::kDenied);
      EXPECT_EQ(file, nullptr);
    }
    EXPECT_TRUE(noted(in_root(name)));
    // A link is never renamed into a file's place; replaced by a rename or
    // removed, it is the link that goes.
    EXPECT_EQ(files->rename(path, "C:\\OrbelaTeknovarium\\Temp\\MOVED.TXT"), Status::kDenied);
    expect_target_untouched();
  }
  ManualClock clock(2019, 11, 27, 14, 38, 0);
  log::write_log_line(*files, clock, "linha");
  expect_target_untouched();
  EXPECT_EQ(files->remove("C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT"), Status::kOk);
  EXPECT_FALSE(fs::is_symlink(in_root("Temp/FORMPRT.PRT")));
  expect_target_untouched();
}

TEST_F(PlantedLinks, APrinterFolderThatIsALinkIsNeitherEnteredNorListed) {
  fs::create_directory_symlink(elsewhere.path() / "folder", in_root("Spool/X"));
  EXPECT_EQ(files->create_directory("C:\\OrbelaTeknovarium\\Spool\\X"), Status::kDenied);
  std::unique_ptr<File> file;
  EXPECT_EQ(files->open("C:\\OrbelaTeknovarium\\Spool\\X\\T.TXT", OpenMode::output, file), Status::kDenied);
  EXPECT_EQ(files->remove("C:\\OrbelaTeknovarium\\Spool\\X\\T.TXT"), Status::kDenied);
  EXPECT_TRUE(files->list("C:\\OrbelaTeknovarium\\Spool\\X", false).empty());
  EXPECT_TRUE(files->list("C:\\OrbelaTeknovarium\\Spool", true).empty());
  EXPECT_TRUE(fs::is_empty(elsewhere.path() / "folder"));
  EXPECT_TRUE(noted(in_root("Spool/X")));

  // The board names it, and ends the alert once no check meets it.
  log::Alerts alerts;
  log::LinkAlerts links(alerts);
  EXPECT_EQ(files->create_directory("C:\\OrbelaTeknovarium\\Spool\\X"), Status::kDenied);
  links.check();
  ASSERT_EQ(alerts.current().size(), 1U);
  EXPECT_NE(alerts.current()[0].text.find("Spool/X"), std::string::npos);
  links.check();
  EXPECT_TRUE(alerts.current().empty());
}

TEST_F(PlantedLinks, AFifoOrAFolderIsNoFileAndNeverBlocksAnOpen) {
  ASSERT_EQ(::mkfifo(in_root("Temp/GET_KAVCMD.RET").c_str(), 0666), 0);
  std::unique_ptr<File> file;
  EXPECT_EQ(files->open("C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET", OpenMode::input, file), Status::kFailed);
  EXPECT_EQ(files->open("C:\\OrbelaTeknovarium\\Temp", OpenMode::input, file), Status::kFailed);
}

}  // namespace
}  // namespace kav::platform
