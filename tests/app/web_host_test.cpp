#include "app/web_host.h"

#include <gtest/gtest.h>

#include <string>

namespace kav::platform {
namespace {

TEST(WebHostTest, OnlyHostCharactersThatFitTheBatchLine) {
  EXPECT_TRUE(check_web_host("localhost").ok());
  EXPECT_TRUE(check_web_host("127.0.0.1:8080").ok());
  EXPECT_TRUE(check_web_host("[::1]:8080").ok());
  EXPECT_TRUE(check_web_host("servidor-local.lan").ok());
  EXPECT_EQ(check_web_host("").code(), Status::kRefused);
  EXPECT_EQ(check_web_host("a b").code(), Status::kRefused);
  EXPECT_EQ(check_web_host("host\"&del").code(), Status::kRefused);
  EXPECT_EQ(check_web_host("host/x").code(), Status::kRefused);
  EXPECT_EQ(check_web_host("x%20").code(), Status::kRefused);
  EXPECT_TRUE(check_web_host(std::string(kMaxWebHostLength, 'a')).ok());
  EXPECT_EQ(check_web_host(std::string(kMaxWebHostLength + 1, 'a')).code(), Status::kRefused);
}

}  // namespace
}  // namespace kav::platform
