// The Windows platform layer on real files and processes: a test root,
// CMD.EXE run in the batch folder, the process tree ended on an overrun, and
// record locks held by another process.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/command_runner.h"
#include "platform/status.h"
#include "platform/file_system.h"
#include "platform/keyed/keyed_format.h"
#include "support/temp_root.h"
#include "platform/command/system_interpreter.h"

namespace kav::platform {
namespace {

namespace fs = std::filesystem;
using test::slurp;
using test::TempRoot;

// The folder of this test program, where the stand-in programs are built.
fs::path bin_dir() {
  char name[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, name, MAX_PATH);
  return fs::path(std::string(name, n)).parent_path();
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// A program run with its standard output on a pipe, ended when dropped.
class Child {
 public:
  explicit Child(std::string command_line) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE write_end = nullptr;
    EXPECT_TRUE(CreatePipe(&read_, &write_end, &inheritable, 0));
    SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = write_end;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &info))
        << command_line;
    CloseHandle(write_end);
    process_ = info.hProcess;
    if (info.hThread != nullptr) CloseHandle(info.hThread);
  }
  ~Child() {
    if (process_ != nullptr) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 5000);
      CloseHandle(process_);
    }
    if (read_ != nullptr) CloseHandle(read_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  std::string line() {
    std::string s;
    char c = 0;
    DWORD n = 0;
    while (ReadFile(read_, &c, 1, &n, nullptr) && n == 1 && c != '\n') s += c;
    return trimmed(s);
  }
  DWORD wait() {
    WaitForSingleObject(process_, 30'000);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  HANDLE read_ = nullptr;
  HANDLE process_ = nullptr;
};

TEST(Win32FileSystemTest, ATestRootHoldsEveryPathAndDriveCLeavesThemAsTheyStand) {
  TempRoot root;
  root.lay_out();
  auto files = make_os_file_system(root.str());
  const std::string temp = (root.path() / "OrbelaTeknovarium" / "Temp" / "A.TXT").string();
  EXPECT_EQ(files->host_path("C:\\OrbelaTeknovarium\\Temp\\A.TXT"), temp);
  EXPECT_EQ(files->host_path("\\OrbelaTeknovarium\\Temp\\A.TXT"), temp);
  EXPECT_EQ(files->host_path("c:/OrbelaTeknovarium/Temp/A.TXT"), temp);
  // ".." never climbs out of the root.
  EXPECT_EQ(files->host_path("C:\\..\\..\\Windows\\win.ini"), (root.path() / "Windows" / "win.ini").string());

  std::unique_ptr<File> f;
  ASSERT_EQ(files->open("C:\\OrbelaTeknovarium\\Temp\\A.TXT", OpenMode::output, f), Status::kOk);
  ASSERT_TRUE(f->write("x").ok());
  ASSERT_TRUE(f->close().ok());
  EXPECT_EQ(slurp(temp), "x");
  EXPECT_TRUE(files->exists("\\orbelateknovarium\\temp\\a.txt"));
  EXPECT_EQ(files->rename("C:\\OrbelaTeknovarium\\Temp\\A.TXT", "C:\\OrbelaTeknovarium\\Temp\\B.TXT"), Status::kOk);
  EXPECT_TRUE(fs::exists(root.path() / "OrbelaTeknovarium" / "Temp" / "B.TXT"));
  EXPECT_EQ(files->remove("C:\\OrbelaTeknovarium\\Temp\\B.TXT"), Status::kOk);
  EXPECT_EQ(files->create_directory("C:\\OrbelaTeknovarium\\Spool"), Status::kOk);
  EXPECT_TRUE(fs::is_directory(root.path() / "OrbelaTeknovarium" / "Spool"));

  for (const char* drive_c : {"C:\\", "C:", "c:\\"}) {
    EXPECT_EQ(make_os_file_system(drive_c)->host_path("\\OrbelaTeknovarium\\Kav\\WGET"), "\\OrbelaTeknovarium\\Kav\\WGET");
  }
}

// Opens a file as another program may (a scanner, the indexer, someone
// else's program) and lets it go after `ms`, or when dropped.
class Holder {
 public:
  Holder(const fs::path& path, DWORD access, DWORD share, DWORD ms)
      : handle_(CreateFileA(path.string().c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)),
        done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << path;
    thread_ = std::thread([this, ms] {
      WaitForSingleObject(done_, ms);
      CloseHandle(handle_);
    });
  }
  ~Holder() {
    SetEvent(done_);
    thread_.join();
    CloseHandle(done_);
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

 private:
  HANDLE handle_;
  HANDLE done_;
  std::thread thread_;
};

// A file that another program holds for a moment (an antivirus scanner opens
// what was just written): each kind of operation waits for it, briefly; one
// held for good fails as it always did.
TEST(Win32FileSystemTest, AFileHeldForAMomentByAnotherHandleIsWaitedFor) {
  TempRoot root;
  root.lay_out();
  auto files = make_os_file_system(root.str());
  const fs::path temp = root.path() / "OrbelaTeknovarium" / "Temp";
  const auto path = [](const char* name) { return std::string("C:\\OrbelaTeknovarium\\Temp\\") + name; };
  for (const char* name : {"W.TXT", "H.TXT", "R.TXT", "T.TXT", "T.NEW", "D.TXT", "G.TXT"})
    std::ofstream(temp / name) << name;
  constexpr DWORD kAll = GENERIC_READ | GENERIC_WRITE;
  std::unique_ptr<File> f;
  {
    Holder holder(temp / "W.TXT", kAll, 0, 100);
    EXPECT_EQ(files->open(path("W.TXT"), OpenMode::output, f), Status::kOk);  // created for writing
    f.reset();
  }
  {
    Holder holder(temp / "H.TXT", kAll, FILE_SHARE_READ, 100);
    EXPECT_EQ(files->hold(path("H.TXT"), f), Status::kOk);
    f.reset();
  }
  {
    Holder holder(temp / "R.TXT", kAll, 0, 100);
    EXPECT_EQ(files->rename(path("R.TXT"), path("R2.TXT")), Status::kOk);  // moved away
  }
  {
    // Replaced while open: Windows refuses it even to a reader that lets
    // others delete ("access denied").
    Holder holder(temp / "T.TXT", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 100);
    EXPECT_EQ(files->rename(path("T.NEW"), path("T.TXT")), Status::kOk);
  }
  {
    Holder holder(temp / "D.TXT", kAll, 0, 100);
    EXPECT_EQ(files->remove(path("D.TXT")), Status::kOk);
  }
  EXPECT_EQ(slurp(temp / "T.TXT"), "T.NEW");
  EXPECT_FALSE(fs::exists(temp / "D.TXT"));
  // Held for good: the wait is bounded and the failure is the same as ever.
  Holder for_good(temp / "G.TXT", kAll, 0, 60'000);
  EXPECT_EQ(files->open(path("G.TXT"), OpenMode::output, f), Status::kDenied);
  EXPECT_EQ(files->remove(path("G.TXT")), Status::kDenied);
}

class Win32CommandRunnerTest : public ::testing::Test {
 protected:
  Win32CommandRunnerTest() {
    root.lay_out();
    files = make_os_file_system(root.str());
    put("OrbelaTeknovarium/KAV/WGET.EXE", "");  // a regular file: batch files run
  }
  void put(const fs::path& relative, const std::string& bytes) const {
    std::ofstream(root.path() / relative, std::ios::binary) << bytes;
  }
  std::string output() const { return slurp(root.path() / "OrbelaTeknovarium" / "Temp" / "OUT.TXT"); }

  TempRoot root;
  std::unique_ptr<FileSystem> files;
};

TEST_F(Win32CommandRunnerTest, ABatchRunsInTheBatchFolderWithItsOutputCollected) {
  put("OrbelaTeknovarium/Temp/T.BAT", "@echo off\r\ncd\r\necho made> MADE.TXT\r\nexit /b 3\r\n");
  auto runner = make_command_runner(*files, {std::chrono::seconds(60), "C:\\OrbelaTeknovarium\\Temp\\OUT.TXT"});
  // Command lines run as they stand: here the batch file's path under the test root.
  const std::string line = "CMD.EXE /C " + files->host_path("C:\\OrbelaTeknovarium\\Temp\\T.BAT");
  // The forms hand over blank-filled lines.
  EXPECT_EQ(runner->run(line + std::string(200, ' '), 0).result_number(), 3);
  const fs::path temp = root.path() / "OrbelaTeknovarium" / "Temp";
  EXPECT_TRUE(fs::equivalent(fs::path(trimmed(output())), temp)) << output();
  // Relative names land in the batch folder, whatever this program's own folder.
  EXPECT_EQ(trimmed(slurp(temp / "MADE.TXT")), "made");
  EXPECT_EQ(runner->run("   ", 0).code(), Status::kRefused);
  EXPECT_EQ(runner->run("C:\\NoSuchFolder\\NOPROGRAM.EXE", 0).code(), Status::kRefused);
}

// The order exchange acts on Wget's exit status: CMD.EXE /C hands on the
// status of the batch file's last program (another CMD.EXE here, ending as
// Wget does on a network failure), and a program that is not found is a
// failure too, never a success.
TEST_F(Win32CommandRunnerTest, ABatchEndsWithTheStatusOfItsLastProgram) {
  put("OrbelaTeknovarium/Temp/E4.BAT", "CMD.EXE /C EXIT 0\r\nCMD.EXE /C EXIT 4\r\n");
  put("OrbelaTeknovarium/Temp/E0.BAT", "CMD.EXE /C EXIT 8\r\nCMD.EXE /C EXIT 0\r\n");
  put("OrbelaTeknovarium/Temp/NONE.BAT", "\\NoSuchFolder\\WGET \"http://127.0.0.1:1/\"\r\n");
  auto runner = make_command_runner(*files, {std::chrono::seconds(60), ""});
  auto run = [&](const char* bat) {
    return runner->run("CMD.EXE /C " + files->host_path(std::string("C:\\OrbelaTeknovarium\\Temp\\") + bat), 0);
  };
  EXPECT_EQ(run("E4.BAT").result_number(), 4);
  EXPECT_EQ(run("E0.BAT").result_number(), 0);
  EXPECT_FALSE(run("NONE.BAT").ok());
}

// Every program gets the monitor's own Wget settings, whatever WGETRC the
// monitor itself was started with, and the file holds them.
TEST_F(Win32CommandRunnerTest, ProgramsGetTheMonitorsWgetSettings) {
  put("OrbelaTeknovarium/Temp/RC.BAT", "@echo off\r\necho %WGETRC%> RC.TXT\r\n");
  put("OrbelaTeknovarium/Temp/KAVWGET.RC", "tries = 20\r\n");  // edited by hand: written again
  SetEnvironmentVariableA("WGETRC", "C:\\Users\\someone\\.wgetrc");
  auto runner = make_command_runner(*files, {std::chrono::seconds(60), ""});
  EXPECT_EQ(runner->run("CMD.EXE /C " + files->host_path("C:\\OrbelaTeknovarium\\Temp\\RC.BAT"), 0).result_number(), 0);
  SetEnvironmentVariableA("WGETRC", nullptr);
  const fs::path temp = root.path() / "OrbelaTeknovarium" / "Temp";
  EXPECT_TRUE(fs::equivalent(fs::path(trimmed(slurp(temp / "RC.TXT"))), temp / "KAVWGET.RC")) << slurp(temp / "RC.TXT");
  EXPECT_EQ(slurp(temp / "KAVWGET.RC"), wget_settings());
}

// GET_KAVCMD.bat held from before its run to its end: the programs it runs
// can neither write, delete nor rename it (CMD.EXE reads a batch file line
// by line while it runs), the run ends as written, and the file is free
// afterwards. Held open for writing by someone else, it is not run at all.
TEST_F(Win32CommandRunnerTest, ABatchFileHeldThroughItsRunCannotBeChangedMeanwhile) {
  const std::string bat = "C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat";
  const std::string contents =
      "@echo off\r\n"
      "echo exit /b 9> GET_KAVCMD.bat\r\n"  // would end the run with 9
      "del /q GET_KAVCMD.bat\r\n"
      "ren GET_KAVCMD.bat MOVED.bat\r\n"
      "if exist GET_KAVCMD.bat echo present> R.TXT\r\n"
      "exit /b 5\r\n";
  const fs::path temp = root.path() / "OrbelaTeknovarium" / "Temp";
  auto runner = make_command_runner(*files, {std::chrono::seconds(60), ""});
  std::unique_ptr<File> held;
  ASSERT_TRUE(place_and_hold(*files, bat, contents, held));
  EXPECT_EQ(runner->run("CMD.EXE /C " + files->host_path(bat), 0).result_number(), 5);
  held.reset();
  EXPECT_EQ(slurp(temp / "GET_KAVCMD.bat"), contents);
  EXPECT_EQ(trimmed(slurp(temp / "R.TXT")), "present");
  EXPECT_FALSE(fs::exists(temp / "MOVED.bat"));
  EXPECT_EQ(files->rename(bat, "C:\\OrbelaTeknovarium\\Temp\\MOVED.bat"), Status::kOk);
  EXPECT_EQ(files->remove("C:\\OrbelaTeknovarium\\Temp\\MOVED.bat"), Status::kOk);

  put("OrbelaTeknovarium/Temp/GET_KAVCMD.bat", contents);
  Holder writer(temp / "GET_KAVCMD.bat", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 60'000);
  EXPECT_FALSE(place_and_hold(*files, bat, contents, held));
  EXPECT_FALSE(held);
}

// The runner starts the system's cmd.exe by its full path: a CMD.EXE dropped
// into the work folder (every user may write there, and the monitor is
// started in it) is never run, whatever the current folder, and the
// command still does its work.
TEST_F(Win32CommandRunnerTest, ADroppedCmdExeInTheWorkFolderNeverRuns) {
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(fs::path(system_command_interpreter()), fs::path(std::wstring(system, n)) / L"cmd.exe");
  const fs::path temp = root.path() / "OrbelaTeknovarium" / "Temp";
  // A stand-in that only ends: were it run, nothing would be deleted.
  ASSERT_TRUE(CopyFileW((fs::path(std::wstring(system, n)) / L"hostname.exe").wstring().c_str(),
                        (temp / "CMD.EXE").wstring().c_str(), FALSE));
  put("OrbelaTeknovarium/Temp/OLD.RET", "old");
  put("OrbelaTeknovarium/Temp/T.BAT", "@echo ran> RAN.TXT\r\n");
  wchar_t before[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, before);
  ASSERT_TRUE(SetCurrentDirectoryW(temp.wstring().c_str()));
  auto runner = make_command_runner(*files, {std::chrono::seconds(60), ""});
  const Status removed =
      runner->run("CMD.EXE /C DEL " + files->host_path("C:\\OrbelaTeknovarium\\Temp\\OLD.RET") + " /Q", 0);
  const Status ran = runner->run("CMD.EXE /C " + files->host_path("C:\\OrbelaTeknovarium\\Temp\\T.BAT"), 0);
  // Nothing but the interpreter's own lines runs.
  const Status other = runner->run(files->host_path("C:\\OrbelaTeknovarium\\Temp\\CMD.EXE") + " /C EXIT 0", 0);
  SetCurrentDirectoryW(before);
  EXPECT_TRUE(removed.ok());
  EXPECT_TRUE(ran.ok());
  EXPECT_EQ(other.code(), Status::kRefused);
  EXPECT_FALSE(fs::exists(temp / "OLD.RET"));
  EXPECT_TRUE(fs::exists(temp / "RAN.TXT"));
}

// Before a batch file runs, WGET.EXE must be a regular file: missing, a
// folder or a link, nothing runs. A DEL still does, so that an old answer
// never stays to be read again.
TEST_F(Win32CommandRunnerTest, ABatchRunsOnlyWhenWgetIsARegularFile) {
  put("OrbelaTeknovarium/Temp/T.BAT", "@echo ran> RAN.TXT\r\n");
  put("OrbelaTeknovarium/Temp/OLD.RET", "old");
  const fs::path temp = root.path() / "OrbelaTeknovarium" / "Temp";
  const fs::path wget = root.path() / "OrbelaTeknovarium" / "KAV" / "WGET.EXE";
  auto runner = make_command_runner(*files, {std::chrono::seconds(60), ""});
  const std::string batch = "CMD.EXE /C " + files->host_path("C:\\OrbelaTeknovarium\\Temp\\T.BAT");
  fs::remove(wget);
  EXPECT_EQ(runner->run(batch, 0).code(), Status::kProgramNotFile);
  EXPECT_EQ(runner->run("CMD.EXE /C DEL " + files->host_path("C:\\OrbelaTeknovarium\\Temp\\OLD.RET") + " /Q", 0).result_number(), 0);
  EXPECT_FALSE(fs::exists(temp / "OLD.RET"));
  fs::create_directory(wget);
  EXPECT_EQ(runner->run(batch, 0).code(), Status::kProgramNotFile);
  fs::remove(wget);
  put("OrbelaTeknovarium/Temp/REAL.EXE", "");
  if (CreateSymbolicLinkA(wget.string().c_str(), (temp / "REAL.EXE").string().c_str(),
                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
      (GetFileAttributesA(wget.string().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    EXPECT_EQ(runner->run(batch, 0).code(), Status::kProgramNotFile);
    fs::remove(wget);
  }
  EXPECT_FALSE(fs::exists(temp / "RAN.TXT"));
  put("OrbelaTeknovarium/KAV/WGET.EXE", "");
  EXPECT_EQ(runner->run(batch, 0).result_number(), 0);
  EXPECT_TRUE(fs::exists(temp / "RAN.TXT"));
}

TEST(Win32FileSystemTest, ListsFilesAndFoldersApartAndSyncsAFolder) {
  TempRoot root;
  root.lay_out();
  auto files = make_os_file_system(root.str());
  std::ofstream(root.path() / "OrbelaTeknovarium" / "Temp" / "KAVPEND-A.RET") << "x";
  fs::create_directories(root.path() / "OrbelaTeknovarium" / "Temp" / "Sub");
  EXPECT_EQ(files->list("C:\\OrbelaTeknovarium\\Temp", false), (std::vector<std::string>{"KAVPEND-A.RET"}));
  EXPECT_EQ(files->list("C:\\OrbelaTeknovarium\\Temp", true), (std::vector<std::string>{"Sub"}));
  EXPECT_TRUE(files->list("C:\\OrbelaTeknovarium\\NoSuchFolder", false).empty());
  EXPECT_EQ(files->sync_directory("C:\\OrbelaTeknovarium\\Temp"), Status::kOk);
  // A folder that is not there is no folder synced.
  EXPECT_EQ(files->sync_directory("C:\\OrbelaTeknovarium\\NoSuchFolder"), Status::kNotFound);
}

// The batch files name Wget without a drive ("\\OrbelaTeknovarium\\Kav\\WGET"):
// it is found on the drive of the batch folder, not on the drive this program
// was started from. A drive letter stands for the test root here.
TEST_F(Win32CommandRunnerTest, PathsWithoutADriveAreFoundOnTheBatchFoldersDrive) {
  std::string drive;
  const DWORD used = GetLogicalDrives();
  for (char letter = 'Y'; letter > 'D' && drive.empty(); --letter)
    if ((used & (1u << (letter - 'A'))) == 0) drive = std::string(1, letter) + ":";
  if (drive.empty() || !DefineDosDeviceA(0, drive.c_str(), root.str().c_str()))
    GTEST_SKIP() << "no drive letter for the test root";
  struct Undefine {
    std::string drive, target;
    ~Undefine() { DefineDosDeviceA(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, drive.c_str(), target.c_str()); }
  } undefine{drive, root.str()};
  if (!fs::is_directory(drive + "\\OrbelaTeknovarium\\Temp")) GTEST_SKIP() << drive << " does not show the test root";

  put("OrbelaTeknovarium/Kav/HELLO.BAT", "@echo hello from the root\r\n");
  put("OrbelaTeknovarium/Temp/T.BAT", "@\\OrbelaTeknovarium\\Kav\\HELLO.BAT\r\n");
  auto on_drive = make_os_file_system(drive + "\\");
  auto runner = make_command_runner(*on_drive, {std::chrono::seconds(60), "C:\\OrbelaTeknovarium\\Temp\\OUT.TXT"});
  EXPECT_EQ(runner->run("CMD.EXE /C " + drive + "\\OrbelaTeknovarium\\Temp\\T.BAT", 0).result_number(), 0);
  EXPECT_EQ(trimmed(output()), "hello from the root");
}

TEST_F(Win32CommandRunnerTest, AnOverrunEndsTheWholeTreeAndFreesWhatItHeld) {
  const std::string erp = (root.path() / "VENDEDO.ORB").string();
  const std::string program = (bin_dir() / "kav-erpfile.exe").string();
  auto runner = make_command_runner(*files, {std::chrono::milliseconds(1500), ""});
  const auto started = std::chrono::steady_clock::now();
  // CMD.EXE starts kav-erpfile, which holds a record for a minute.
  EXPECT_EQ(runner->run("CMD.EXE /C \"\"" + program + "\" lock \"" + erp + "\" 000001 60000\"", 0).code(), Status::kOverran);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  // The grandchild has ended with CMD.EXE: its lock is free.
  keyed::LockFile locks;
  ASSERT_TRUE(locks.open(erp + std::string(keyed::kLockSuffix)));
  EXPECT_TRUE(locks.lock_exclusive(keyed::lock_offset("000001"), false));
}

// Run by the test below in a process of its own, as a monitor to be killed
// in the middle of a batch file.
TEST_F(Win32CommandRunnerTest, DISABLED_MonitorRunningABatch) {
  const char* where = std::getenv("KAV_TEST_MONITOR_ROOT");
  if (where == nullptr) GTEST_SKIP() << "run by the test that kills it";
  auto own = make_os_file_system(where);
  make_command_runner(*own, {std::chrono::seconds(60), ""})
      ->run("CMD.EXE /C " + own->host_path("C:\\OrbelaTeknovarium\\Temp\\LONG.BAT"), 0)
      .ignore();
}

// A killed monitor's batch file goes on to its end (GNU Wget finishes the
// answer the web application has handed out), and the next start waits.
TEST_F(Win32CommandRunnerTest, AProgramOfAKilledMonitorFinishesAndTheNextStartWaitsForIt) {
  const std::string erp = (root.path() / "VENDEDO.ORB").string();
  const std::string erpfile = (bin_dir() / "kav-erpfile.exe").string();
  put("OrbelaTeknovarium/Temp/LONG.BAT", "@echo off\r\necho started> STARTED.TXT\r\n\"" + erpfile + "\" lock \"" + erp +
                                             "\" 000001 2000\r\necho done> DONE.TXT\r\n");
  const fs::path temp = root.path() / "OrbelaTeknovarium" / "Temp";
  SetEnvironmentVariableA("KAV_TEST_MONITOR_ROOT", root.str().c_str());
  {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    Child monitor("\"" + std::string(self, n) +
                  "\" --gtest_also_run_disabled_tests --gtest_filter=Win32CommandRunnerTest.DISABLED_MonitorRunningABatch");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(temp / "STARTED.TXT") && std::chrono::steady_clock::now() < deadline) Sleep(20);
    ASSERT_TRUE(fs::exists(temp / "STARTED.TXT"));
  }  // killed here
  SetEnvironmentVariableA("KAV_TEST_MONITOR_ROOT", nullptr);
  EXPECT_TRUE(wait_for_earlier_programs(*files, std::chrono::seconds(30)));
  EXPECT_EQ(trimmed(slurp(temp / "DONE.TXT")), "done");
  // Nothing runs any more: no wait.
  EXPECT_TRUE(wait_for_earlier_programs(*files, std::chrono::milliseconds(0)));
}

TEST(Win32LockTest, ARecordLockedByAnotherProcessIsRefusedUntilReleased) {
  TempRoot root;
  const std::string erp = (root.path() / "VENDEDO.ORB").string();
  Child holder("\"" + (bin_dir() / "kav-erpfile.exe").string() + "\" lock \"" + erp + "\" 000003 700");
  ASSERT_EQ(holder.line(), "locked");
  keyed::LockFile locks;
  ASSERT_TRUE(locks.open(erp + std::string(keyed::kLockSuffix)));
  EXPECT_FALSE(locks.try_shared(keyed::lock_offset("000003")));
  EXPECT_FALSE(locks.lock_exclusive(keyed::lock_offset("000003"), false));
  // Another record is free meanwhile.
  EXPECT_TRUE(locks.try_shared(keyed::lock_offset("000004")));
  locks.release(keyed::lock_offset("000004"));
  EXPECT_EQ(holder.line(), "released");
  EXPECT_EQ(holder.wait(), 0u);
  EXPECT_TRUE(locks.try_shared(keyed::lock_offset("000003")));
  locks.release(keyed::lock_offset("000003"));
  // A waiting exclusive lock is granted once the holder lets go.
  Child second("\"" + (bin_dir() / "kav-erpfile.exe").string() + "\" lock \"" + erp + "\" 000003 300");
  ASSERT_EQ(second.line(), "locked");
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(locks.lock_exclusive(keyed::lock_offset("000003"), true));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
  locks.release(keyed::lock_offset("000003"));
}

}  // namespace
}  // namespace kav::platform
