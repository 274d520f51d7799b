// The contract's shared tests, on the headless runtime (console mode and the
// forms' own tests run on it).
#include "ui/headless/headless_driver.h"
#include "ui/runtime_contract_tests.h"

namespace kav::ui::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Headless, RuntimeContractTest, ::kav::ui::headless::testing::HeadlessDriver);
}  // namespace kav::ui::contract
