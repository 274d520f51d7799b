// The POSIX system log on sockets the test provides (journald's native
// protocol, syslog's lines), and the metrics file checked by promtool.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "support/monitored_site.h"
#include "support/temp_root.h"

namespace kav::platform {
namespace {

// A datagram socket bound at a path, as journald's or syslog's.
class DatagramSink {
 public:
  explicit DatagramSink(std::string path) : path_(std::move(path)) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path_.data(), path_.size());
    bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~DatagramSink() {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  bool bound() const { return bound_; }
  // Every datagram waiting.
  std::vector<std::string> take() {
    std::vector<std::string> out;
    char buf[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n < 0) return out;
      out.emplace_back(buf, static_cast<std::size_t>(n));
    }
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

TEST(SystemLogPosix, EventsGoToTheJournalWithTheirIdElseToSyslogElseAreRefused) {
  test::TempRoot dir;
  DatagramSink journal(dir.str() + "/journal");
  DatagramSink syslog(dir.str() + "/log");
  ASSERT_TRUE(journal.bound() && syslog.bound());

  auto to_journal = make_system_log(dir.str() + "/journal", dir.str() + "/log");
  ASSERT_TRUE(to_journal->write(2010, SystemLogLevel::error, "Impressora COZINHA n\xe3o recebeu\ntickets"));
  const auto fields = journal.take();
  ASSERT_EQ(fields.size(), 1U);
  EXPECT_EQ(fields[0],
            "MESSAGE=Impressora COZINHA n\xc3\xa3o recebeu tickets\nPRIORITY=3\nSYSLOG_IDENTIFIER=kavcomanda\n"
            "KAVCOMANDA_EVENT_ID=2010\n");

  auto to_syslog = make_system_log(dir.str() + "/no-journal", dir.str() + "/log");
  ASSERT_TRUE(to_syslog->write(1000, SystemLogLevel::information, "In\xed" "cio do monitor"));
  const auto lines = syslog.take();
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0], "<14>kavcomanda[" + std::to_string(::getpid()) + "]: [1000] In\xc3\xad" "cio do monitor");

  EXPECT_FALSE(make_system_log(dir.str() + "/none", "")->write(1001, SystemLogLevel::information, "Fim"));
}

TEST(SystemLogPosix, APrinterAwayAndBackReachesTheJournalAsOnePair) {
  test::TempRoot dir;
  DatagramSink journal(dir.str() + "/journal");
  ASSERT_TRUE(journal.bound());
  auto system_log = make_system_log(dir.str() + "/journal", "");
  MemoryFileSystem files;
  test::MonitoredSite site(files, system_log.get());
  site.outlet->outcome = print::Outcome::refused;
  site.answer("COZINHA", "0012");
  for (int i = 0; i < 20; ++i) site.check();
  site.outlet->outcome = print::Outcome::accepted;
  for (int i = 0; i < 5; ++i) {
    site.check();
    site.outlet->finish_all();
  }
  std::vector<std::string> ids;
  for (const auto& d : journal.take()) ids.push_back(d.substr(d.find("KAVCOMANDA_EVENT_ID=") + 20));
  EXPECT_EQ(ids, (std::vector<std::string>{"1000\n", "2010\n", "2011\n"}));
}

// A day of work: tickets for three printers, one of them away for an hour.
TEST(MetricsFile, PromtoolAcceptsTheFileAfterADayOfWork) {
  if (::access("/usr/bin/promtool", X_OK) != 0) GTEST_SKIP() << "promtool absent";
  MemoryFileSystem files;
  test::MonitoredSite site(files);
  site.board.raise("estranho", "Um alerta de outra chave");
  for (int hour = 0; hour < 14; ++hour) {
    site.outlet->outcome = hour == 5 ? print::Outcome::stopped : print::Outcome::accepted;
    for (int i = 0; i < 12; ++i) {
      site.answer(i % 3 == 0 ? "BAR" : i % 3 == 1 ? "COZINHA" : "Copa \"2\"", "00" + std::to_string(10 + i));
      site.check(300, i % 5 != 0);
      site.outlet->finish_all();
    }
  }
  test::TempRoot dir;
  const std::string path = dir.str() + "/kavcomanda.prom";
  std::ofstream(path, std::ios::binary) << files.contents(test::kMetricsFile);
  const std::string command = "/usr/bin/promtool check metrics < '" + path + "' > '" + path + ".out' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream said(path + ".out");
  const std::string out((std::istreambuf_iterator<char>(said)), std::istreambuf_iterator<char>());
  EXPECT_EQ(status, 0) << out << "\n" << files.contents(test::kMetricsFile);
  EXPECT_EQ(out, "") << files.contents(test::kMetricsFile);
}

}  // namespace
}  // namespace kav::platform
