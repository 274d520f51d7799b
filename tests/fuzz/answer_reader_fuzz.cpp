// Fuzzes the whole order-processing form over one web answer: whatever bytes
// the answer holds, each of the three commands reads it, ends, and stays
// inside its buffers; every ticket it starts is closed, the processing run
// asks a bounded number of times, and every log line keeps its width.
//
// The platform (files in memory, the fake web, the print service) lives for
// the whole run and is emptied between inputs; the forms and the runtime are
// made afresh for each input, so a reproducer behaves alone as in the run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/l_link.h"
#include "log/log_form.h"
#include "orders/comandas_form.h"
#include "platform/clock.h"
#include "support/fake_platform.h"
#include "support/fake_web.h"
#include "ui/headless/headless_runtime.h"

namespace {

using namespace kav;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "answer_reader_fuzz: %s\n", what);
  std::abort();
}

struct World {
  test::FakePlatform fake{platform::ManualClock(2020, 1, 1)};
  test::FakeWeb web{fake.files, fake.commands};
  const std::string log_path = log::log_file_name("20200101");

  // What the previous input left behind.
  void empty() {
    fake.clock = platform::ManualClock(2020, 1, 1);
    fake.commands.lines.clear();
    fake.commands.modes.clear();
    fake.printing.jobs.clear();
    web.requests.clear();
    fake.files.remove(log_path).ignore();  // none after a quiet run
    // Answers kept aside (damaged ones): the form lists them at every run.
    for (const auto& name : fake.files.list("C:\\OrbelaTeknovarium\\Temp", false)) {
      if (name.starts_with("KAVFALHA-")) fake.files.remove("C:\\OrbelaTeknovarium\\Temp\\" + name).ignore();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  world.empty();
  const std::string answer(reinterpret_cast<const char*>(data), size);
  for (const char* command : {"CMD_IMP", "CAN_ITE", "CMD_FEC"}) world.web.queue(command, answer);

  log::LLink link;
  log::Alerts alerts;
  log::CheckReport report;
  orders::ComandasForm comandas(link, world.fake.services, "localhost", alerts, report);
  log::LogForm log_form(link, world.fake.files, world.fake.clock);
  form::FormSet forms;
  forms.add(comandas);
  forms.add(log_form);
  ui::headless::VirtualPacer pacer(world.fake.clock);
  ui::headless::HeadlessRuntime runtime(forms, world.fake.commands, pacer);
  runtime.run("90-COMANDAS");

  // One answer per command, then the end marker of the empty queue: at most
  // two requests each.
  check(world.web.requests.size() <= 6, "more requests than one answer per command calls for");
  for (const auto& job : world.fake.printing.jobs) check(job.closed, "a ticket left open");
  const std::string log = world.fake.files.contents(world.log_path);
  for (std::size_t at = 0; at < log.size();) {
    const std::size_t end = log.find('\n', at);
    check(end != std::string::npos, "a log line without its line end");
    check(end - at == 120 || (end - at == 121 && log[end - 1] == '\r'), "a log line not 120 characters wide");
    at = end + 1;
  }
  return 0;
}
