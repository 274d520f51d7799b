// The processing run with real processes: the stand-in web application on a
// loopback port, the command interpreter stand-in and GNU Wget.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "platform/clock.h"
#include "platform/command/runner_root.h"
#include "platform/command_runner.h"
#include "support/fakes.h"
#include "ui/headless/headless_runtime.h"
#include "webstub/webstub.h"

namespace kav::orders {
namespace {

namespace fs = std::filesystem;

struct ExchangeEndToEnd : ::testing::Test {
  ExchangeEndToEnd() {
    options.docroot = root.path() / "xampp" / "htdocs" / "Comandas";
    options.queue = root.path() / "queue";
    options.port = 0;
  }

  void queue(const std::string& command, const std::string& name, const std::string& bytes) {
    fs::create_directories(options.queue / command);
    std::ofstream(options.queue / command / name, std::ios::binary) << bytes;
  }

  // One check of the monitor against `host`; returns the rows of 90-COMANDAS.
  std::vector<std::string> one_check(const std::string& host) {
    platform::Platform platform{*root.files, clock, *commands, printing, keyed};
    app::Application application{platform, host};
    ui::headless::VirtualPacer pacer{clock};
    ui::headless::HeadlessRuntime runtime{application.forms(), *commands, pacer};
    runtime.record_everything();
    runtime.at(5500, [&] { runtime.click("Bt_Confirma8"); });
    runtime.run(app::kStartForm);
    exchanges = runtime.events("command").size() / 2;
    return runtime.last("90-COMANDAS")->rows();
  }

  // The commands the stand-in served, in order.
  std::vector<std::string> served() const {
    std::vector<std::string> commands_seen;
    std::ifstream log(options.queue / "requests.log");
    for (std::string line; std::getline(log, line);) {
      std::istringstream words(line);
      std::string date, time, status, page, command;
      words >> date >> time >> status >> page >> command;
      if (page == "GET_KAVCMD.php") commands_seen.push_back(command);
    }
    return commands_seen;
  }

  test::RunnerRoot root;
  webstub::Options options;
  platform::ManualClock clock{2019, 11, 27, 14, 38, 0};
  std::unique_ptr<platform::CommandRunner> commands =
      platform::make_command_runner(*root.files, {std::chrono::seconds(20), ""});
  test::FakePrintService printing;
  test::NoKeyedFiles keyed;
  std::size_t exchanges = 0;
};

TEST_F(ExchangeEndToEnd, TwoQueuedOrdersGiveThreePrintExchangesThenOneOfEachOtherCommand) {
  // The first answer starts with a line of the web server's own output.
  queue("CMD_IMP", "001.txt", "Warning: something\r\n<0012><000001><Mesa 1><02><>\r\n<0012><000100><Cafe>"
                              "<000001,000><0000003,50><><BAR>\r\n");
  queue("CMD_IMP", "002.txt", "<0013><000002><Mesa 2><00><>");
  webstub::WebStub stub(options);
  const int port = stub.start();
  ASSERT_GT(port, 0) << stub.error();
  const auto rows = one_check("127.0.0.1:" + std::to_string(port));
  stub.stop();

  EXPECT_EQ(served(), (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  ASSERT_EQ(rows.size(), 2U);
  EXPECT_EQ(rows[0], record::padded("Imprimir itens da Comanda = 0012", 210));
  EXPECT_EQ(rows[1], record::padded("Imprimir itens da Comanda = 0013", 210));
  ASSERT_EQ(printing.jobs.size(), 1U);  // order 13 names no printer
}

TEST_F(ExchangeEndToEnd, WithTheWebServerDownTheRunEndsQuietlyAfterThreeExchanges) {
  // A loopback port that nothing listens on: take a free one and close it.
  webstub::WebStub probe(options);
  const int port = probe.start();
  ASSERT_GT(port, 0) << probe.error();
  probe.stop();

  const auto rows = one_check("127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(exchanges, 3U);
  EXPECT_TRUE(rows.empty());
  EXPECT_TRUE(printing.jobs.empty());
}

}  // namespace
}  // namespace kav::orders
