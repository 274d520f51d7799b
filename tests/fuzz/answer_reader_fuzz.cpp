// Fuzzes the reading of web answers: whatever bytes an answer holds, each of
// the three commands reads it, ends, and stays inside its buffers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "log/l_link.h"
#include "log/log_form.h"
#include "orders/comandas_form.h"
#include "platform/clock.h"
#include "support/fake_platform.h"
#include "support/fake_web.h"
#include "ui/headless/headless_runtime.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kav;
  const std::string answer(reinterpret_cast<const char*>(data), size);
  test::FakePlatform fake(platform::ManualClock(2020, 1, 1));
  test::FakeWeb web(fake.files, fake.commands);
  for (const char* command : {"CMD_IMP", "CAN_ITE", "CMD_FEC"}) web.queue(command, answer);

  log::LLink link;
  orders::ComandasForm comandas(link, fake.services, "localhost");
  log::LogForm log_form(link, fake.files, fake.clock);
  form::FormSet forms;
  forms.add(comandas);
  forms.add(log_form);
  ui::headless::VirtualPacer pacer(fake.clock);
  ui::headless::HeadlessRuntime runtime(forms, fake.commands, pacer);
  runtime.run("90-COMANDAS");
  return 0;
}
