// The processing run against loopback web servers that misbehave, with the
// real command interpreter stand-in, GNU Wget and its bounds: a server that
// accepts and never answers, one that sends a byte a second, and one that
// cuts an answer midway and then hands out the next order. Each check gives
// up at the first failed exchange; what arrived is never printed and is
// kept aside; the operator sees an alert.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/application.h"
#include "orders/print_record.h"
#include "platform/clock.h"
#include "platform/command/runner_root.h"
#include "platform/command_runner.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/fake_platform.h"
#include "support/line_ends.h"
#include "support/loopback_server.h"
#include "ui/headless/headless_runtime.h"

namespace kav::orders {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using record::cp1252;
using test::LoopbackServer;
using test::reply_head;

const std::string kFirst =
    "<0001><000001><Mesa 01><02><>\n<0001><000101><Bolo><000001,000><0000010,00><><COZINHA>\n"
    "<0001><000102><Suco><000001,000><0000005,00><><BAR>\n";
const std::string kSecond = "<0002><000002><Mesa 02><01><>\n<0002><000202><Pudim><000001,000><0000008,00><><COZINHA>\n";

struct WebFaults : ::testing::Test {
  WebFaults() {
    printing.read_info_from(root.files.get());
    printing.stamp_by(&clock);
  }
  // Runs the monitor for `checks` checks against `server`; returns the
  // seconds the run took on the real clock.
  double run_checks(const LoopbackServer& server, int checks) {
    application.emplace(platform.services, server.host());
    runtime.emplace(application->forms(), *commands, pacer);
    runtime->record_everything();
    runtime->at(5000LL * checks + 500, [&] { runtime->click("Bt_Confirma8"); });
    const auto start = std::chrono::steady_clock::now();
    runtime->run(app::kStartForm);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  std::vector<std::string> rows() {
    std::vector<std::string> all;
    for (const auto& r : runtime->openings()) {
      if (r.name != "90-COMANDAS") continue;
      for (const auto& row : r.rows()) all.emplace_back(record::trim_right(row));
    }
    return all;
  }
  std::optional<std::string> alert(std::string_view key) {
    for (const auto& a : application->alerts().current()) {
      if (a.key == key) return a.text;
    }
    return std::nullopt;
  }
  std::vector<fs::path> kept_aside() {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(root.temp())) {
      if (e.path().filename().string().starts_with("KAVFALHA-")) out.push_back(e.path());
    }
    return out;
  }
  std::vector<std::string> log() {
    return test::log_texts(test::slurp(root.path() / "OrbelaTeknovarium" / "LOGCMD_20191127.txt"), true);
  }
  bool logged(const std::string& text) {
    const auto lines = log();
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }

  test::RunnerRoot root;
  platform::ManualClock clock = test::FakePlatform::start_of_test_day();
  // The monitor's own bounds: 15 s for an order request.
  std::unique_ptr<platform::CommandRunner> commands = platform::make_command_runner(*root.files);
  test::FakePrintService printing;
  test::FakePlatform platform{
      clock, {.files = root.files.get(), .clock = &clock, .commands = commands.get(), .printing = &printing}};
  ui::headless::VirtualPacer pacer{clock};
  std::optional<app::Application> application;
  std::optional<ui::headless::HeadlessRuntime> runtime;
};

TEST_F(WebFaults, AServerThatNeverAnswersCostsOneBoundedExchangePerCheck) {
  LoopbackServer server([](int, const std::string&, const LoopbackServer::Connection& c) {
    while (c.idle(1s)) {
    }
  });
  const double seconds = run_checks(server, 1);
  std::printf("[ figure ] a check against a silent server: %.2f s (bound %lld s per exchange)\n", seconds,
              static_cast<long long>(platform::kExchangeTimeLimit.count() / 1000));

  EXPECT_EQ(server.requests().size(), 1U) << "the check gives up after the first exchange";
  EXPECT_GE(seconds, 14.5);
  EXPECT_LT(seconds, 45.0);
  const std::string failure = "Falha na consulta CMD_IMP: sem resposta em 15 s (servidor parado)";
  EXPECT_EQ(rows(), std::vector<std::string>{failure + " !!!"});
  EXPECT_TRUE(logged(failure + " !!!"));
  EXPECT_EQ(alert("web"), failure);
  EXPECT_TRUE(printing.jobs.empty());
  EXPECT_TRUE(kept_aside().empty());  // nothing arrived
}

TEST_F(WebFaults, AnOrderTrickledAByteASecondIsCutKeptAsideAndNotPrinted) {
  LoopbackServer server([](int, const std::string&, const LoopbackServer::Connection& c) {
    c.send(reply_head(kFirst.size()));
    for (std::size_t i = 0; i < kFirst.size(); ++i) {
      c.send(kFirst.substr(i, 1));
      if (!c.idle(1s)) return;
    }
  });
  run_checks(server, 1);

  EXPECT_EQ(server.requests().size(), 1U);
  EXPECT_TRUE(printing.jobs.empty());
  const auto all = rows();
  ASSERT_EQ(all.size(), 2U);
  EXPECT_TRUE(all[0].starts_with("Falha na consulta CMD_IMP: resposta lenta demais, cortada em 15 s (")) << all[0];
  const auto kept = kept_aside();
  ASSERT_EQ(kept.size(), 1U);
  const std::string arrived = test::slurp(kept[0]);
  EXPECT_GE(arrived.size(), 6U);
  EXPECT_LT(arrived.size(), 40U);
  EXPECT_EQ(kFirst.substr(0, arrived.size()), arrived);
  const std::string where = "Temp\\" + kept[0].filename().string();
  EXPECT_EQ(all[1], cp1252("Comanda 0001 não impressa (CMD_IMP incompleta): ") + where + " !!!");
  EXPECT_TRUE(logged(all[1]));
  EXPECT_EQ(alert("resposta"), cp1252("Comanda 0001 não impressa (CMD_IMP incompleta): ") + where);
  EXPECT_TRUE(alert("web").has_value());
}

// Asked again, the page would hand out the next order: Wget never asks again
// within the exchange, the cut answer is kept aside whole as it arrived, and
// the next check prints the next order complete, once.
TEST_F(WebFaults, AnAnswerCutMidwayIsNeverGluedToTheNextOrder) {
  LoopbackServer server([](int index, const std::string&, const LoopbackServer::Connection& c) {
    if (index == 0) {
      c.send(reply_head(kFirst.size()) + kFirst.substr(0, 50));
      return;
    }
    const std::string body = index == 1 ? kSecond : "<0000>\n";
    c.send(reply_head(body.size()) + body);
  });
  run_checks(server, 2);

  EXPECT_EQ(server.requests().size(), 5U);  // one in the first check; four in the second
  ASSERT_EQ(printing.jobs.size(), 1U);
  EXPECT_EQ(printing.jobs[0].writes[0].field(prt_numcmd), "0002");
  const auto kept = kept_aside();
  ASSERT_EQ(kept.size(), 1U);
  EXPECT_EQ(test::slurp(kept[0]), kFirst.substr(0, 50));
  const auto all = rows();
  ASSERT_EQ(all.size(), 3U);
  EXPECT_TRUE(all[0].starts_with(cp1252("Falha na consulta CMD_IMP: conexão cortada no meio da resposta (50 bytes)")))
      << all[0];
  EXPECT_TRUE(all[1].starts_with(cp1252("Comanda 0001 não impressa (CMD_IMP incompleta): Temp\\KAVFALHA-")));
  EXPECT_EQ(all[2], "Imprimir itens da Comanda = 0002");
  EXPECT_FALSE(alert("web").has_value()) << "the next exchange that ended well cleared it";
  EXPECT_TRUE(alert("resposta").has_value()) << "order 0001 still has to be dealt with";
}

}  // namespace
}  // namespace kav::orders
