// One monitor per root, on the operating system's own locks (both systems).
#include "platform/instance_lock.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/file_system.h"
#include "support/temp_root.h"

namespace kav::platform {
namespace {

TEST(InstanceLockTest, OneHolderPerRootUntilItLetsGo) {
  test::TempRoot root;
  root.lay_out();
  auto files = make_os_file_system(root.str());

  std::unique_ptr<InstanceLock> first;
  ASSERT_EQ(take_instance_lock(*files, first), LockOutcome::taken);
  // A second holder on another handle of the same file is refused, as a
  // second program would be.
  std::unique_ptr<InstanceLock> second;
  EXPECT_EQ(take_instance_lock(*files, second), LockOutcome::held);
  EXPECT_EQ(second, nullptr);

  // Another root is another monitor's.
  test::TempRoot other;
  other.lay_out();
  auto other_files = make_os_file_system(other.str());
  std::unique_ptr<InstanceLock> elsewhere;
  EXPECT_EQ(take_instance_lock(*other_files, elsewhere), LockOutcome::taken);

  first.reset();
  EXPECT_EQ(take_instance_lock(*files, second), LockOutcome::taken);
}

TEST(InstanceLockTest, NoWorkFolderMeansNothingToShare) {
  test::TempRoot root;  // not laid out: no Temp folder
  auto files = make_os_file_system(root.str());
  std::unique_ptr<InstanceLock> lock;
  EXPECT_EQ(take_instance_lock(*files, lock), LockOutcome::unavailable);
}

}  // namespace
}  // namespace kav::platform
