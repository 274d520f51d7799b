// GNU Wget, run by the command interpreter's stand-in with the runner's own
// settings and bounds, against loopback web servers that misbehave.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/command/runner_root.h"
#include "platform/command_runner.h"
#include "platform/answer_bound.h"
#include "support/loopback_server.h"

namespace kav::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using test::LoopbackServer;
using test::reply_head;

constexpr std::string_view kRunExchange = "CMD.EXE /C C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat";

// The exchange as the order-processing form runs it, with the runner's
// default bounds.
class WgetBoundsTest : public ::testing::Test {
 protected:
  Status exchange(const std::string& host) {
    root.put(kExchangeBatch, test::get_batch_record(host, "CMD_IMP") + "\n");
    auto runner = make_command_runner(*root.files, {kCommandTimeLimit, "C:\\OrbelaTeknovarium\\Temp\\OUT.TXT"});
    const auto start = Clock::now();
    Status result = runner->run(test::blank_filled(kRunExchange, 8192), 0);
    took = Clock::now() - start;
    return result;
  }
  std::optional<std::string> answer() const {
    const fs::path ret = root.temp() / "GET_KAVCMD.RET";
    if (!fs::exists(ret)) return std::nullopt;
    return test::slurp(ret);
  }

  test::RunnerRoot root;
  Clock::duration took{};
};

TEST_F(WgetBoundsTest, AServerThatAcceptsAndNeverAnswersCostsOneExchangeBound) {
  LoopbackServer server([](int, const std::string&, const LoopbackServer::Connection& c) {
    while (c.idle(1s)) {
    }
  });
  EXPECT_EQ(exchange(server.host()).code(), Status::kOverran);
  EXPECT_GE(took, kExchangeTimeLimit - 100ms);
  EXPECT_LT(took, kExchangeTimeLimit + 10s);
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_TRUE(answer().value_or("").empty());
}

// A page that never ends, as fast as loopback goes: Wget is stopped when the
// answer passes its bound, long before the time limit, and leaves one byte
// more than the bound on the disk (never gigabytes).
TEST_F(WgetBoundsTest, AnEndlessPageIsStoppedAtTheAnswerBound) {
  LoopbackServer server([](int, const std::string&, const LoopbackServer::Connection& c) {
    c.send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    const std::string chunk(64 * 1024, 'x');
    do c.send(chunk);
    while (c.idle(1ms));
  });
  EXPECT_EQ(exchange(server.host()).code(), Status::kSignalled);
  EXPECT_LT(took, kExchangeTimeLimit);
  EXPECT_EQ(fs::file_size(root.temp() / "GET_KAVCMD.RET"), kMaxAnswerBytes + 1);
}

TEST_F(WgetBoundsTest, AServerThatTricklesIsCutAtTheExchangeBound) {
  LoopbackServer server([](int, const std::string&, const LoopbackServer::Connection& c) {
    c.send(reply_head(1000));
    do c.send("<");
    while (c.idle(1s));
  });
  EXPECT_EQ(exchange(server.host()).code(), Status::kOverran);
  EXPECT_GE(took, kExchangeTimeLimit - 100ms);
  EXPECT_LT(took, kExchangeTimeLimit + 10s);
  EXPECT_EQ(server.requests().size(), 1u);
  const std::string got = answer().value_or("");
  EXPECT_LT(got.size(), 40u);  // one byte a second
}

// The answer is cut after 50 of its 120 bytes; asked again (with a Range
// header or not), the server would hand out the next order. Wget asks once
// and fails, whatever the user's own settings file says, and the answer file
// holds the first part only.
TEST_F(WgetBoundsTest, ACutAnswerIsNeverRetriedOrContinuedIntoTheNextOne) {
  const std::string first = std::string("<0001><000001><Mesa 01><02><>\n<0001><000101><Bolo>") + std::string(120, ' ');
  const std::string second = std::string("<0002><000002><Mesa 02><01><>\n<0002><000202><Suco>") + std::string(120, '.');
  LoopbackServer server([&](int index, const std::string& request, const LoopbackServer::Connection& c) {
    if (index == 0) {
      c.send(reply_head(120) + first.substr(0, 50));
      return;
    }
    if (request.find("Range: bytes=50-") != std::string::npos) {
      c.send(reply_head(70, "206 Partial Content", "Content-Range: bytes 50-119/120\r\n") + second.substr(50, 70));
    } else {
      c.send(reply_head(120) + second.substr(0, 120));
    }
  });
  // A user's settings that would retry and continue, and a settings file of
  // ours that someone changed.
  const fs::path user_rc = root.path() / "user.wgetrc";
  {
    std::ofstream(user_rc) << "tries = 20\ncontinue = on\nwaitretry = 0\n";
  }
  root.put(kWgetSettingsPath, "tries = 20\n");
  const char* had = std::getenv("WGETRC");
  const std::optional<std::string> saved = had != nullptr ? std::optional<std::string>(had) : std::nullopt;
  ::setenv("WGETRC", user_rc.c_str(), 1);

  const int result = exchange(server.host()).result_number();

  if (saved) ::setenv("WGETRC", saved->c_str(), 1);
  else ::unsetenv("WGETRC");
  EXPECT_GT(result, 0);  // Wget's own failure status
  EXPECT_LT(took, 10s);
  EXPECT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(answer().value_or("<missing>"), first.substr(0, 50));
  EXPECT_EQ(test::slurp(root.temp() / "KAVWGET.RC"), wget_settings());
}

TEST_F(WgetBoundsTest, AServerThatIsDownFailsAtOnceWithWgetsStatus) {
  EXPECT_EQ(exchange("127.0.0.1:" + std::to_string(test::closed_loopback_port())).result_number(), 4);  // network failure
  EXPECT_LT(took, 5s);
  EXPECT_FALSE(answer().has_value() && !answer()->empty());
}

TEST(CommandBoundsTest, TheOrderExchangeAloneHasTheShorterBound) {
  CommandOptions options;
  EXPECT_EQ(time_limit_of(options, "cmd.exe /c c:\\orbelateknovarium\\temp\\get_kavcmd.BAT" + std::string(100, ' ')),
            kExchangeTimeLimit);
  EXPECT_EQ(time_limit_of(options, "CMD.EXE /C C:\\OrbelaTeknovarium\\Temp\\OrbKavCmd.bat"), kCommandTimeLimit);
  EXPECT_EQ(time_limit_of(options, "CMD.EXE /C DEL C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET /Q"), kCommandTimeLimit);
  options.time_limit = 2s;  // never longer than the general bound
  EXPECT_EQ(time_limit_of(options, std::string(kRunExchange)), 2s);
}

}  // namespace
}  // namespace kav::platform
