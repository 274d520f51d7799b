// Fuzzes the reading of web answers: whatever bytes an answer holds, each of
// the three commands reads it, ends, and stays inside its buffers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "log/l_link.h"
#include "log/log_form.h"
#include "orders/comandas_form.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "support/fake_web.h"
#include "support/fakes.h"
#include "ui/headless/headless_runtime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kav;
  const std::string answer(reinterpret_cast<const char*>(data), size);
  platform::MemoryFileSystem files;
  platform::ManualClock clock(2020, 1, 1);
  test::FakeCommandRunner commands;
  test::FakePrintService printing;
  test::NoKeyedFiles keyed;
  platform::Platform services{files, clock, commands, printing, keyed};
  test::FakeWeb web(files, commands);
  for (const char* command : {"CMD_IMP", "CAN_ITE", "CMD_FEC"}) web.queue(command, answer);

  log::LLink link;
  orders::ComandasForm comandas(link, services, "localhost");
  log::LogForm log_form(link, files, clock);
  form::FormSet forms;
  forms.add(comandas);
  forms.add(log_form);
  ui::headless::VirtualPacer pacer(clock);
  ui::headless::HeadlessRuntime runtime(forms, commands, pacer);
  runtime.run("90-COMANDAS");
  return 0;
}
