#include "app/web_host.h"

#include <gtest/gtest.h>

#include <string>

namespace kav::platform {
namespace {

TEST(WebHostTest, OnlyHostCharactersThatFitTheBatchLine) {
  EXPECT_FALSE(check_web_host("localhost"));
  EXPECT_FALSE(check_web_host("127.0.0.1:8080"));
  EXPECT_FALSE(check_web_host("[::1]:8080"));
  EXPECT_FALSE(check_web_host("servidor-local.lan"));
  EXPECT_TRUE(check_web_host(""));
  EXPECT_TRUE(check_web_host("a b"));
  EXPECT_TRUE(check_web_host("host\"&del"));
  EXPECT_TRUE(check_web_host("host/x"));
  EXPECT_TRUE(check_web_host("x%20"));
  EXPECT_FALSE(check_web_host(std::string(kMaxWebHostLength, 'a')));
  EXPECT_TRUE(check_web_host(std::string(kMaxWebHostLength + 1, 'a')));
}

}  // namespace
}  // namespace kav::platform
