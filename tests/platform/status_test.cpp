#include "platform/status.h"

#include <gtest/gtest.h>

namespace kav::platform {
namespace {

TEST(Status, ShowsTheFileStatusOfEachCodeAndOnlyOkIsOk) {
  const std::pair<Status::Code, std::string_view> shown[] = {
      {Status::kOk, "00"},          {Status::kAtEnd, "10"},       {Status::kNoRecord, "23"},
      {Status::kFailed, "30"},      {Status::kNotFound, "35"},    {Status::kDenied, "37"},
      {Status::kBadFile, "39"},     {Status::kAlreadyOpen, "41"}, {Status::kNotOpen, "42"},
      {Status::kNoPosition, "46"},  {Status::kReadNotOpen, "47"}, {Status::kWriteNotOpen, "48"},
      {Status::kLocked, "99"},      {Status::kOverran, "30"},
  };
  for (const auto& [code, two] : shown) {
    const Status s(code);
    EXPECT_EQ(s.file_status(), two);
    EXPECT_EQ(s.ok(), code == Status::kOk) << two;
    EXPECT_TRUE(s == code);
  }
}

TEST(Status, CarriesAProgramsExitCodeAndShowsTheRunnersOwnResultsAsTheirNumbers) {
  EXPECT_TRUE(Status::exited(0).ok());
  const Status failed = Status::exited(8);
  EXPECT_EQ(failed.code(), Status::kExited);
  EXPECT_EQ(failed.exit_code(), 8);
  EXPECT_EQ(failed.result_number(), 8);
  EXPECT_EQ(Status(Status::kRefused).result_number(), -1);
  EXPECT_EQ(Status(Status::kOverran).result_number(), -2);
  EXPECT_EQ(Status(Status::kSignalled).result_number(), -3);
  EXPECT_EQ(Status(Status::kProgramNotFile).result_number(), -4);
  EXPECT_EQ(Status(Status::kRefused, "why").message(), "why");
  EXPECT_FALSE(Status::ok_or_failed(false).ok());
}

}  // namespace
}  // namespace kav::platform
