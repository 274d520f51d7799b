// Answers kept aside, settled by the operator from 03-RETIDAS (console
// mode: "r" on the menu, "r" on the reprint form, then "i N" or "d N"):
// printed as far as they read with a line for the kitchen to check, or
// discarded; logged; the file gone; the alert ended when none is left.
#include <gtest/gtest.h>

#include <algorithm>

#include "orders/fcomanda.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/fake_web.h"
#include "support/harness.h"
#include "support/line_ends.h"

namespace kav::orders {
namespace {

using record::cp1252;

struct Site {
  // One check at 5.5 s keeps the answers aside; at 6 s the operator opens
  // the kept answers and types `lines` (one every 100 ms); the next checks
  // settle them; at 20 s the forms close and the program ends.
  void settle(const std::vector<std::string>& lines) {
    std::int64_t at = 6000;
    for (const char* open : {"r", "r"}) h.runtime.at(at += 100, [this, open] { h.runtime.type_command(open); });
    for (const auto& line : lines) h.runtime.at(at += 100, [this, line] { h.runtime.type_command(line); });
    h.runtime.at(8000, [this] { before = kept(); });
    h.runtime.at(19000, [this] { h.runtime.type_command("f"); });
    h.runtime.at(19100, [this] { h.runtime.type_command("f"); });
    h.run_until(20000);
  }
  std::vector<std::string> kept() {
    std::vector<std::string> out;
    for (auto& n : h.files.list("C:\\OrbelaTeknovarium\\Temp", false)) {
      if (n.starts_with("KAVFALHA-")) out.push_back(n);
    }
    return out;
  }
  bool alert() {
    const auto a = h.application.alerts().current();
    return std::any_of(a.begin(), a.end(), [](const auto& x) { return x.key == "resposta"; });
  }
  std::vector<std::string> log() const {
    return test::log_texts(h.files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"), true);
  }
  std::size_t logged(std::string_view part) const {
    const auto l = log();
    return static_cast<std::size_t>(
        std::count_if(l.begin(), l.end(), [&](const std::string& x) { return x.find(part) != std::string::npos; }));
  }
  // Each ticket's lines as they print.
  std::vector<std::vector<std::string>> tickets() const {
    std::vector<std::vector<std::string>> out;
    for (const auto& job : h.printing.jobs) {
      std::vector<std::string> lines;
      for (const auto& w : job.writes) {
        const auto rendered = render_fcomanda(w.group, w.record);
        for (const auto& l : *rendered) lines.emplace_back(record::trim_right(l));
      }
      out.push_back(std::move(lines));
    }
    return out;
  }

  test::Harness h;
  test::FakeWeb web{h.files, h.commands};
  std::vector<std::string> before;  // the kept files while the settling waits for a check
};

const std::string kOrder9999 =
    "<9999><000345><Mesa 5><02><>\n<9999><000101><Bolo><000001,000><0000010,00><><COZINHA>\n"
    "<9999><000102><Suco><000001,000><0000005,00><><BAR>\n";
const std::string kCutBill = "<0042><000345><Mesa 7><02><>\n<0042><000101><Bolo><000001,000><000001";

std::size_t index_of(const std::vector<std::string>& lines, std::string_view text) {
  const auto at = std::find_if(lines.begin(), lines.end(),
                               [&](const std::string& l) { return l.find(text) != std::string::npos; });
  return static_cast<std::size_t>(at - lines.begin());
}

TEST(SettleKeptAnswers, PrintedAsFarAsItReadsEachTicketMarkedForTheKitchenThenTheFileGoesAndTheAlertEnds) {
  Site site;
  site.web.queue("CMD_IMP", kOrder9999);
  site.settle({"i"});  // nothing selected: a box says so, nothing done
  EXPECT_TRUE(site.h.printing.jobs.empty());
  EXPECT_EQ(site.kept().size(), 1u);

  Site s;
  s.web.queue("CMD_IMP", kOrder9999);
  s.settle({"i 1"});
  EXPECT_EQ(s.before.size(), 1u);  // nothing is done before the next check
  const auto tickets = s.tickets();
  ASSERT_EQ(tickets.size(), 2u);  // COZINHA and BAR, as the answer means
  for (const auto& t : tickets) {
    const std::size_t check = index_of(t, "VERIFICAR: resposta retida");
    ASSERT_LT(check, t.size());
    EXPECT_LT(index_of(t, "9999"), check);  // under the head, before the items
    EXPECT_LT(check, std::min(index_of(t, "Bolo"), index_of(t, "Suco")));
  }
  EXPECT_TRUE(s.kept().empty());
  EXPECT_FALSE(s.alert());
  EXPECT_EQ(s.logged("Retida impressa pelo operador: Comanda 9999 (CMD_IMP), 2 ticket(s), Temp\\KAVFALHA-"), 1u);
}

TEST(SettleKeptAnswers, ACutAnswerPrintsItsWholeItemsAndOneWithNoneStaysKept) {
  Site s;
  s.web.queue("CMD_IMP", "<0042><000345><Mesa 7><02><>\n<0042><000101><Bolo><000001,000><0000010,00><><COZINHA>\n"
                         "<0042><000102><Su");
  s.settle({"i 1"});
  const auto tickets = s.tickets();
  ASSERT_EQ(tickets.size(), 1u);
  EXPECT_LT(index_of(tickets[0], "VERIFICAR: resposta retida"), index_of(tickets[0], "Bolo"));
  EXPECT_LT(index_of(tickets[0], "Bolo"), tickets[0].size());
  EXPECT_TRUE(s.kept().empty());
  EXPECT_EQ(s.logged("Retida impressa pelo operador: Comanda 0042 (CMD_IMP), 1 ticket(s)"), 1u);

  Site none;
  none.web.queue("CMD_IMP", kCutBill);  // its only item cut: nothing to print
  none.settle({"i 1"});
  EXPECT_TRUE(none.h.printing.jobs.empty());
  EXPECT_EQ(none.kept().size(), 1u);
  EXPECT_TRUE(none.alert());
  EXPECT_EQ(none.logged(cp1252("Retida Comanda 0042: nada legível a imprimir")), 1u);
}

TEST(SettleKeptAnswers, DiscardedOneByOneTheAlertStandsUntilNoneIsLeftAndNothingPrints) {
  Site s;
  s.web.queue("CMD_IMP", kOrder9999);
  s.web.queue("CMD_FEC", kCutBill);
  s.h.runtime.at(13000, [&] { EXPECT_EQ(s.kept().size(), 1u); EXPECT_TRUE(s.alert()); });
  s.h.runtime.at(13100, [&] { s.h.runtime.type_command("d 1"); });
  s.settle({"d 2"});
  EXPECT_EQ(s.before.size(), 2u);
  EXPECT_TRUE(s.h.printing.jobs.empty());
  EXPECT_TRUE(s.kept().empty());
  EXPECT_FALSE(s.alert());
  EXPECT_EQ(s.logged("Retida descartada pelo operador: Comanda 9999"), 1u);
  EXPECT_EQ(s.logged("Retida descartada pelo operador: Comanda 0042"), 1u);
}

}  // namespace
}  // namespace kav::orders
