// The whole application against the stand-in web application on a loopback
// port: GNU Wget run through the real command runner on a laid-out root, the
// other services from the fake platform.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "platform/clock.h"
#include "platform/command/runner_root.h"
#include "platform/command_runner.h"
#include "support/fake_platform.h"
#include "ui/headless/headless_runtime.h"
#include "webstub/webstub.h"

namespace kav::test {

struct StandInWebTest : ::testing::Test {
  StandInWebTest() {
    options.docroot = root.path() / "xampp" / "htdocs" / "Comandas";
    options.queue = root.path() / "queue";
    options.port = 0;
    printing.read_info_from(root.files.get());
    printing.stamp_by(&clock);
  }

  // Queues an answer (its exact bytes) as file `name` for `command`.
  void queue(const std::string& command, const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(options.queue / command);
    std::ofstream(options.queue / command / name, std::ios::binary) << bytes;
  }
  // Queues the stand-in's own sample answer for `command`.
  void queue_sample(const std::string& command) {
    const auto samples = std::filesystem::path(KAV_SOURCE_DIR) / "tools" / "standins" / "webstub" / "samples";
    std::filesystem::create_directories(options.queue / command);
    std::filesystem::copy(samples / command / "001.txt", options.queue / command / "001.txt");
  }

  // One check of the monitor against `host`; returns the rows of 90-COMANDAS
  // and counts the exchanges in `exchanges`.
  std::vector<std::string> one_check(const std::string& host) {
    FakePlatform platform(clock, {.files = root.files.get(), .clock = &clock, .commands = commands.get(),
                                  .printing = print_service});
    app::Application application{platform.services, host};
    ui::headless::VirtualPacer pacer{clock};
    ui::headless::HeadlessRuntime runtime{application.forms(), *commands, pacer};
    runtime.record_everything();
    runtime.at(5500, [&] { runtime.click("Bt_Confirma8"); });
    runtime.run(app::kStartForm);
    exchanges = runtime.events("command").size() / 2;
    return runtime.last("90-COMANDAS")->rows();
  }

  // Starts the stand-in, runs one check against it and stops it.
  std::vector<std::string> check_against_stand_in() {
    webstub::WebStub stub(options);
    const int port = stub.start();
    EXPECT_GT(port, 0) << stub.error();
    if (port <= 0) return {};
    auto rows = one_check("127.0.0.1:" + std::to_string(port));
    stub.stop();
    return rows;
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

  RunnerRoot root;
  webstub::Options options;
  platform::ManualClock clock = FakePlatform::start_of_test_day();
  std::unique_ptr<platform::CommandRunner> commands =
      platform::make_command_runner(*root.files, {std::chrono::seconds(20), ""});
  // The print jobs of the checks; a test may hand in another print service.
  FakePrintService printing;
  platform::PrintService* print_service = &printing;
  std::size_t exchanges = 0;
};

}  // namespace kav::test
