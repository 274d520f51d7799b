#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/alerts.h"

namespace kav::log {
namespace {

struct Board {
  std::mutex mutex;
  std::vector<std::string> lines;
  Alerts alerts{[this](std::string_view text) {
    std::lock_guard lock(mutex);
    lines.emplace_back(text);
  }};
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& a : alerts.current()) out.push_back(a.key + "=" + a.text);
    return out;
  }
};

using Lines = std::vector<std::string>;

TEST(AlertsTest, BeginChangeAndEndAreLoggedOnceEach) {
  Board b;
  const auto v0 = b.alerts.version();
  b.alerts.raise("web", "Servidor web sem resposta !!!");
  b.alerts.raise("web", "Servidor web sem resposta !!!");  // stands already: nothing
  const auto v1 = b.alerts.version();
  EXPECT_NE(v1, v0);
  b.alerts.raise("disco", "Disco cheio !!!");
  b.alerts.raise("web", "Servidor web fora do ar !!!");  // changed: keeps its place
  EXPECT_EQ(b.texts(), (Lines{"web=Servidor web fora do ar !!!", "disco=Disco cheio !!!"}));
  b.alerts.clear("web");
  const auto v2 = b.alerts.version();
  b.alerts.clear("web");        // ended already
  b.alerts.clear("impressora");  // never raised
  EXPECT_EQ(b.alerts.version(), v2);
  EXPECT_EQ(b.texts(), (Lines{"disco=Disco cheio !!!"}));
  EXPECT_EQ(b.lines, (Lines{"Servidor web sem resposta !!!", "Disco cheio !!!", "Servidor web fora do ar !!!",
                            "Resolvido: Servidor web fora do ar !!!"}));
}

TEST(AlertsTest, ClearAllEndsTheKeysUnderAPrefixOnly) {
  Board b;
  b.alerts.raise("impressora:COZINHA", "Impressora COZINHA parada");
  b.alerts.raise("web", "Servidor web sem resposta");
  b.alerts.raise("impressora:BAR", "Impressora BAR parada");
  b.lines.clear();
  b.alerts.clear_all("impressora:");
  EXPECT_EQ(b.texts(), (Lines{"web=Servidor web sem resposta"}));
  EXPECT_EQ(b.lines, (Lines{"Resolvido: Impressora COZINHA parada", "Resolvido: Impressora BAR parada"}));
  b.alerts.clear_all("nada");
  EXPECT_EQ(b.lines.size(), 2U);
}

// The window, the console and the log show the same words: a text is kept
// as one log line's text (106 characters, no control character, no
// trailing blanks), and a padded text is the same alert as the bare one.
TEST(AlertsTest, TextsAreKeptAsTheLogWritesThem) {
  Board b;
  const std::string long_text = std::string(100, 'a') + "bcdefghij" + std::string(20, 'z');
  b.alerts.raise("longo", long_text);
  b.alerts.raise("linhas", "Resposta\r\nincompleta\t!!!" + std::string(80, ' '));
  b.alerts.raise("linhas", "Resposta  incompleta !!!");  // the same text once kept: no change
  ASSERT_EQ(b.alerts.current().size(), 2U);
  EXPECT_EQ(b.alerts.current()[0].text, long_text.substr(0, 106));
  EXPECT_EQ(b.alerts.current()[1].text, "Resposta  incompleta !!!");
  b.alerts.clear("longo");
  ASSERT_EQ(b.lines.size(), 3U);
  EXPECT_EQ(b.lines[0], long_text.substr(0, 106));
  // The end line is cut to the log's width too.
  EXPECT_EQ(b.lines[2], ("Resolvido: " + long_text).substr(0, 106));
  EXPECT_EQ(Alerts::normalized("   "), "");
}

// Raised and cleared from several threads at once: the log reports the
// changes in the order they happened, so for one key the lines alternate
// begin and end, and the board ends as the last change left it.
TEST(AlertsTest, LinesFromSeveralThreadsComeInTheOrderOfTheChanges) {
  Board b;
  constexpr int kRounds = 2000;
  std::thread raiser([&] {
    for (int i = 0; i < kRounds; ++i) b.alerts.raise("web", "Servidor web sem resposta");
  });
  std::thread clearer([&] {
    for (int i = 0; i < kRounds; ++i) b.alerts.clear("web");
  });
  std::thread reader([&] {
    for (int i = 0; i < kRounds; ++i) {
      const auto now = b.alerts.current();
      EXPECT_LE(now.size(), 1U);
    }
  });
  raiser.join();
  clearer.join();
  reader.join();
  b.alerts.clear("web");
  ASSERT_FALSE(b.lines.empty());
  ASSERT_EQ(b.lines.size() % 2, 0U);
  for (std::size_t i = 0; i < b.lines.size(); ++i) {
    ASSERT_EQ(b.lines[i], i % 2 == 0 ? "Servidor web sem resposta" : "Resolvido: Servidor web sem resposta") << i;
  }
  EXPECT_TRUE(b.alerts.current().empty());
}

}  // namespace
}  // namespace kav::log
