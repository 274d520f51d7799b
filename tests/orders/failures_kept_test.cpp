// A page gone wrong fills neither the log nor Temp: a failure met again is
// logged once and then counted, an answer kept already is not kept again,
// and the kept answers are bounded together, the oldest removed first.
#include <gtest/gtest.h>

#include <algorithm>

#include "orders/kept_bound.h"
#include "platform/answer_bound.h"
#include "record/cp1252.h"
#include "support/fake_web.h"
#include "support/harness.h"
#include "support/line_ends.h"

namespace kav::orders {
namespace {

using record::cp1252;

constexpr const char* kTemp = "C:\\OrbelaTeknovarium\\Temp\\";
// An order the page's fatal error ran into: never printed, kept aside.
std::string damaged(int numero) {
  char n[5];
  std::snprintf(n, sizeof n, "%04d", numero);
  return std::string("<") + n + "><000345><Mesa 05><04><>\n<" + n +
         "><000101><Bolo><000001,000><00<b>Fatal error</b>";
}

struct Site {
  Site() {
    web.on_request = [this](const std::string& command) {
      if (command == "CMD_IMP" && page) web.queue("CMD_IMP", page());
    };
  }
  std::vector<std::string> kept() {
    std::vector<std::string> out;
    for (auto& n : h.files.list("C:\\OrbelaTeknovarium\\Temp", false)) {
      if (n.starts_with("KAVFALHA-")) out.push_back(n);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  std::vector<std::string> log() const {
    return test::log_texts(h.files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"), true);
  }
  std::vector<std::string> logged(std::string_view part) const {
    std::vector<std::string> out;
    for (const auto& l : log()) {
      if (l.find(part) != std::string::npos) out.push_back(l);
    }
    return out;
  }

  test::Harness h;
  test::FakeWeb web{h.files, h.commands};
  std::function<std::string()> page;  // what CMD_IMP answers at every request
};

TEST(PageGoneWrong, OneDamagedOrderAtEveryRequestIsKeptOnceAndLoggedOnceThenCounted) {
  Site s;
  s.page = [] { return damaged(12); };
  // Eleven minutes of it, then the page mended; a minute later it breaks
  // again.
  s.h.runtime.at(11 * 60 * 1000, [&] { s.page = nullptr; });
  s.h.runtime.at(12 * 60 * 1000, [&] { s.page = [] { return damaged(12); }; });
  s.h.run_until(12 * 60 * 1000 + 30000);

  EXPECT_EQ(s.kept().size(), 1u);  // thousands of answers, one copy
  const std::string failure = cp1252("Resposta CMD_IMP incompleta, Comanda = 0012 não impressa !!!");
  const auto lines = s.logged(failure);
  // Logged when it began; counted after ten minutes while it lasted, once
  // more when the page was mended; logged anew when it broke again (the
  // repeats of the last minute go with the program's end).
  ASSERT_EQ(lines.size(), 4u) << ::testing::PrintToString(lines);
  EXPECT_EQ(lines[0], failure);
  EXPECT_TRUE(lines[1].starts_with("Repetida ") && lines[1].find(" vez(es) desde 14:38: Resposta CMD_IMP") !=
                                                     std::string::npos)
      << lines[1];
  EXPECT_TRUE(lines[2].starts_with("Repetida ") && lines[2].find(" desde 14:48: ") != std::string::npos) << lines[2];
  EXPECT_EQ(lines[3], failure);
  // Every repeat is counted: 50 answers per check.
  std::size_t counted = 0;
  for (std::size_t i : {1u, 2u}) counted += std::stoul(lines[i].substr(9));
  EXPECT_GT(counted, 120u * 50u);
  // The whole log: a line per check ("Checando Comandas") and a few more.
  const std::size_t checks = s.logged("Checando Comandas").size();
  EXPECT_LT(s.log().size(), checks + 40) << s.log().size() << " lines for " << checks << " checks";
}

TEST(PageGoneWrong, KeptAnswersAreBoundedInCountTheOldestRemovedWithALogLine) {
  Site s;
  // 200 kept earlier, the oldest first; the page then hands out two new
  // damaged orders.
  for (int i = 0; i < 200; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "KAVFALHA-20191126-1000%04d-CMD_IMP.RET", i);
    s.h.files.put(std::string(kTemp) + name, damaged(1000 + i));
  }
  int next = 1;
  s.page = [&] { return next <= 2 ? damaged(next++) : std::string("<0000>"); };
  s.h.run_until(7000);

  const auto kept = s.kept();
  ASSERT_EQ(kept.size(), kMaxKeptAnswers);
  EXPECT_EQ(kept.front(), "KAVFALHA-20191126-10000002-CMD_IMP.RET");
  const auto removed = s.logged("Retida removida (limite 200/64 MiB): Comanda ");
  ASSERT_EQ(removed.size(), 2u);
  EXPECT_EQ(removed[0], "Retida removida (limite 200/64 MiB): Comanda 1000, Temp\\KAVFALHA-20191126-10000000-CMD_IMP.RET");
  EXPECT_NE(removed[1].find("Comanda 1001, "), std::string::npos);
}

TEST(PageGoneWrong, KeptAnswersAreBoundedInBytes) {
  Site s;
  // Sixteen of the largest kept answers: 64 MiB, at the bound.
  for (int i = 0; i < 16; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "KAVFALHA-20191126-1000%04d-CMD_FEC.RET", i);
    std::string big = damaged(2000 + i);
    big.resize(platform::kMaxAnswerBytes, ' ');
    s.h.files.put(std::string(kTemp) + name, std::move(big));
  }
  int next = 1;
  s.page = [&] { return next <= 1 ? damaged(next++) : std::string("<0000>"); };
  s.h.run_until(7000);

  const auto kept = s.kept();
  ASSERT_EQ(kept.size(), 16u);  // one of 4 MiB out, a small one in
  EXPECT_EQ(kept.front(), "KAVFALHA-20191126-10000001-CMD_FEC.RET");
  EXPECT_EQ(s.logged("Retida removida (limite 200/64 MiB): Comanda 2000, ").size(), 1u);
}

}  // namespace
}  // namespace kav::orders
