// What the page meant, read as it meant it: tolerant where the answer's
// records are whole, strict where printing would garble an order, never
// silent. The quirky answers of tests/support/quirky_answers.h through the
// order form and through the checker, which must agree; the encoding of an
// answer; quantities on item tickets; failures of one page by kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "answer/answer_check.h"
#include "orders/answer_reader.h"
#include "orders/fcomanda.h"
#include "orders/print_record.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/fake_web.h"
#include "support/harness.h"
#include "support/line_ends.h"
#include "support/quirky_answers.h"

namespace kav::orders {
namespace {

using record::cp1252;

// The program on the fake platform, with the web application in memory.
struct Site {
  void checks(int n = 1) { h.run_until(5500 + 5000 * (n - 1)); }

  // The tickets as they print (the moment each was made left out).
  std::vector<answer::Ticket> tickets() const {
    std::vector<answer::Ticket> out;
    for (const auto& job : h.printing.jobs) {
      answer::Ticket t;
      const std::string drv = job.prtdrv();
      t.printer = drv.substr(drv.find('"') + 1, drv.rfind('"') - drv.find('"') - 1);
      for (const auto& w : job.writes) {
        auto lines = render_fcomanda(w.group, w.record);
        for (auto& l : *lines) t.lines.push_back(std::move(l));
      }
      out.push_back(std::move(t));
    }
    return out;
  }
  bool kept_aside() {
    const auto names = h.files.list("C:\\OrbelaTeknovarium\\Temp", false);
    return std::any_of(names.begin(), names.end(), [](const std::string& n) { return n.starts_with("KAVFALHA-"); });
  }
  std::optional<std::string> alert(std::string_view key) {
    for (const auto& a : h.application.alerts().current()) {
      if (a.key == key) return a.text;
    }
    return std::nullopt;
  }
  std::vector<std::string> log() const {
    return test::log_texts(h.files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"), true);
  }
  std::vector<std::string> rows() const {
    std::vector<std::string> all;
    for (const auto& r : h.runtime.openings()) {
      if (r.name == "90-COMANDAS") {
        for (const auto& row : r.rows()) all.emplace_back(record::trim_right(row));
      }
    }
    return all;
  }
  bool logged(std::string_view start) const {
    const auto l = log();
    return std::any_of(l.begin(), l.end(), [&](const std::string& line) { return line.starts_with(start); });
  }

  test::Harness h;
  test::FakeWeb web{h.files, h.commands};
};

bool shows(const std::vector<answer::Ticket>& tickets, const std::string& text) {
  for (const auto& t : tickets) {
    for (const auto& l : t.lines) {
      if (l.find(text) != std::string::npos) return true;
    }
  }
  return text.empty();
}

std::vector<std::string> printers(const std::vector<answer::Ticket>& tickets) {
  std::vector<std::string> out;
  for (const auto& t : tickets) out.push_back(t.printer);
  return out;
}

// Each answer: printed with the tickets it means, or kept aside with the
// alert standing and nothing printed; never only a log line. The checker
// says the same, ticket for ticket.
TEST(QuirkyAnswers, PrintWhatThePageMeantOrAreKeptAndAlertedAndTheCheckerAgrees) {
  for (const auto& q : test::quirky_answers()) {
    SCOPED_TRACE(q.name);
    Site site;
    site.web.queue(q.command, q.bytes);
    site.checks();
    const auto printed = site.tickets();
    EXPECT_EQ(printers(printed), q.printers);
    EXPECT_TRUE(shows(printed, q.shows)) << q.shows;
    EXPECT_EQ(site.kept_aside(), !q.printed);
    EXPECT_EQ(site.alert("resposta").has_value(), !q.printed);
    // Whatever was passed over or refused is in the log; a refusal names
    // the order, the record and the field, and so does the alert.
    if ((!q.printed && q.refusal.empty()) || q.bytes.find("Notice") != std::string::npos ||
        q.bytes.find("Warning") != std::string::npos) {
      EXPECT_TRUE(site.logged("Texto ignorado em " + std::string(q.command) + ": "));
    }
    if (!q.refusal.empty()) {
      const auto log = site.log();
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) {
        return l.find("Comanda = " + q.order) != std::string::npos && l.find(q.refusal) != std::string::npos;
      }) || site.logged("Comanda " + q.order + " (" + q.command + "): " + q.refusal));
      const auto standing = site.alert("resposta");
      ASSERT_TRUE(standing);
      EXPECT_TRUE(standing->starts_with("Comanda " + q.order + record::cp1252(" não impressa"))) << *standing;
    }

    const answer::Verdict v = answer::check(q.command, q.bytes);
    EXPECT_EQ(v.refused, !q.printed);
    if (!q.refusal.empty()) {
      EXPECT_TRUE(std::any_of(v.monitor.begin(), v.monitor.end(),
                              [&](const std::string& l) { return l.find(q.refusal) != std::string::npos; }));
    }
    ASSERT_EQ(v.tickets.size(), printed.size());
    for (std::size_t i = 0; i < printed.size(); ++i) {
      EXPECT_EQ(v.tickets[i].printer, printed[i].printer);
      std::vector<std::string> lines = printed[i].lines;
      std::erase_if(lines, [](const std::string& l) { return l.find("27/11/2019") != std::string::npos; });
      EXPECT_EQ(v.tickets[i].lines, lines);
    }
  }
}

TEST(QuirkyAnswers, TextBetweenRecordsIsLoggedOnceAndNeverReachesATicket) {
  Site site;
  const auto all = test::quirky_answers();
  const auto q = std::find_if(all.begin(), all.end(), [](const auto& a) { return std::string(a.name) == "notice_between_records"; });
  site.web.queue(q->command, q->bytes);
  site.checks();
  const auto log = site.log();
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.starts_with("Texto ignorado"); }), 1);
  for (const auto& t : site.tickets()) {
    for (const auto& l : t.lines) EXPECT_EQ(l.find("Notice"), std::string::npos) << l;
  }
}

TEST(QuirkyAnswers, TheSameErrorPageAtEveryCheckIsKeptOnce) {
  Site site;
  const std::string page = "<br />\n<b>Parse error</b>:  syntax error in <b>GET_KAVCMD.php</b><br />\n";
  for (int i = 0; i < 3; ++i) site.web.queue("CMD_FEC", page);
  site.checks(3);
  const auto names = site.h.files.list("C:\\OrbelaTeknovarium\\Temp", false);
  EXPECT_EQ(std::count_if(names.begin(), names.end(), [](const std::string& n) { return n.starts_with("KAVFALHA-"); }), 1);
  EXPECT_TRUE(site.alert("resposta"));
  EXPECT_TRUE(site.logged("Resposta CMD_FEC sem registro reconhecido, igual a Temp\\KAVFALHA-"));
  // The rows name the kept file, and no order that the answer never named.
  const auto rows = site.rows();
  ASSERT_EQ(rows.size(), 3U);
  EXPECT_TRUE(rows[0].starts_with("Resposta CMD_FEC sem registro reconhecido guardada em Temp\\KAVFALHA-")) << rows[0];
  EXPECT_TRUE(rows[1].starts_with("Resposta CMD_FEC sem registro reconhecido, igual a Temp\\KAVFALHA-")) << rows[1];
}

// ---- Failures by kind

const std::string kBill = "<0014><000001><Mesa><02><><CAIXA><10>\n<000100><A><000001,000><0000001,00>\n";

TEST(PageFailures, AnHttpErrorEndsThatCommandOnlyAndTheBillStillPrints) {
  Site site;
  site.web.http_errors["CMD_IMP"] = 2;
  site.web.queue("CMD_FEC", kBill);
  std::optional<std::string> during;
  site.h.runtime.at(6000, [&] { during = site.alert("web.CMD_IMP"); });
  site.checks(2);
  // Both checks asked every command; the bill printed in the first.
  EXPECT_EQ(site.web.requests, (std::vector<std::string>{"CMD_IMP", "CAN_ITE", "CMD_FEC", "CMD_FEC", "CMD_IMP",
                                                         "CAN_ITE", "CMD_FEC"}));
  EXPECT_EQ(printers(site.tickets()), std::vector<std::string>{"CAIXA"});
  EXPECT_EQ(during, cp1252("Falha na consulta CMD_IMP: o servidor respondeu com erro (página ausente ou com falha)"));
  EXPECT_FALSE(site.alert("web"));
}

TEST(PageFailures, AServerThatIsDownStillGivesUpTheRun) {
  Site site;
  site.web.down = true;
  site.web.queue("CMD_FEC", kBill);
  site.checks();
  EXPECT_EQ(site.web.requests, std::vector<std::string>{"CMD_IMP"});
  EXPECT_TRUE(site.alert("web"));
  EXPECT_TRUE(site.tickets().empty());
}

// ---- Encoding

struct Reading {
  explicit Reading(std::string bytes) {
    files.put("C:\\a", std::move(bytes));
    file.open("C:\\a", platform::OpenMode::input).ignore();
  }
  std::string all() {
    std::string out;
    for (char c = r.next_char(); !r.at_end(); c = r.next_char()) out += c;
    return out;
  }
  platform::MemoryFileSystem files;
  platform::TextFile file{files};
  AnswerReader r{file};
};

TEST(AnswerEncoding, Utf8WithAMultiByteCharacterOrABomIsConvertedAndEverythingElseIsWindows1252) {
  struct Case {
    std::string bytes, read;
    bool utf8;
  };
  const Case cases[] = {
      {"<Salão>", cp1252("<Salão>"), true},
      {"\xEF\xBB\xBF<Sal>", "<Sal>", true},                          // a BOM, and only ASCII
      {cp1252("<Salão>"), cp1252("<Salão>"), false},                  // Windows-1252
      {"<Sal\xC3\xA3o \xE3>", "<Sal\xC3\xA3o \xE3>", false},          // not valid UTF-8 throughout
      {"<ASCII only>", "<ASCII only>", false},
      {"<\xC3\xA9>", "<\xE9>", true},  // "Ã©" in Windows-1252 is valid UTF-8: read as "é"
      {"<caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x8D\x95>", cp1252("<café ? ?>"), true},
      {"<\xE2\x82\xAC \xE2\x80\x9C>", "<\x80 \x93>", true},  // the euro and a quote of the 0x80-0x9F range
      {"<\xC0\xAF>", "<\xC0\xAF>", false},                    // an overlong form is not UTF-8
  };
  for (const auto& c : cases) {
    Reading r(c.bytes);
    EXPECT_EQ(r.all(), c.read) << c.bytes;
    EXPECT_EQ(r.r.utf8(), c.utf8) << c.bytes;
  }
  Reading unmapped("<caf\xC3\xA9 \xE2\x98\x95 \xF0\x9F\x8D\x95>");
  unmapped.all();
  EXPECT_EQ(unmapped.r.unmappable(), 2U);
  EXPECT_EQ(code_point_name(unmapped.r.first_unmappable()), "U+2615");
}

TEST(AnswerEncoding, WidthsCountCharactersAndPrinterNamesMatchAfterConversion) {
  Site site;
  // 20 characters, 22 bytes in UTF-8: the name fits its field whole.
  site.web.queue("CMD_IMP", "<0012><000345><Mesa><01><>\n"
                            "<0012><000101><Pão de queijo><000001,000><0000001,00><><COZINHA DO SALÃO ÚNI>\n"
                            "<0012><000102><Açaí><000001,000><0000001,00><><COZINHA DO SALÃO ÚNI>\n"
                            "<0012><000103><Café ☕><000001,000><0000001,00><><COZINHA DO SALÃO ÚNI>\n");
  site.checks();
  const auto t = site.tickets();
  ASSERT_EQ(printers(t), std::vector<std::string>{cp1252("COZINHA DO SALÃO ÚNI")});
  EXPECT_TRUE(shows(t, cp1252("Pão de queijo")));
  EXPECT_TRUE(shows(t, cp1252("Açaí")));
  EXPECT_TRUE(shows(t, cp1252("Café ?")));
  EXPECT_TRUE(site.logged("Resposta CMD_IMP em UTF-8: 1 caractere(s) sem equivalente"));
}

// ---- Quantities

TEST(ItemQuantities, AQuantityOtherThanOneShowsOnItsLineWithinTheTicketsWidth) {
  record::Area reg(kRegImpressaoLength);
  auto line = [&](std::string_view qty, std::string_view desc) {
    reg.set(prt_quantidade, qty);
    reg.set(prt_descricao, desc);
    return *render_fcomanda("ITEQTD", reg.bytes());
  };
  EXPECT_EQ(line("      3    ", cp1252("Caipirinha de limão")), std::vector<std::string>{cp1252("3 x Caipirinha de limão")});
  EXPECT_EQ(line("      0,350", "Picanha (kg)"), std::vector<std::string>{"0,350 x Picanha (kg)"});
  // The widest quantity and a full description: broken at a blank, the
  // description going on under itself; a word longer than a line is cut.
  const std::string forty = "Porcao de batata frita com cheddar e bac";
  EXPECT_EQ(line("999.999,999", forty),
            (std::vector<std::string>{"999.999,999 x Porcao de batata frita com cheddar", "              e bac"}));
  const auto words = line("999.999,999", std::string(40, 'W'));
  EXPECT_EQ(words, (std::vector<std::string>{"999.999,999 x " + std::string(34, 'W'), std::string(14, ' ') + "WWWWWW"}));
  for (const auto& l : words) EXPECT_LE(l.size(), kTicketWidth);
}

TEST(ItemQuantities, ZeroAndOneKeepThePlainLineAndCancellationsTooAsTheyCarryNone) {
  Site site;
  site.web.queue("CMD_IMP", "<0012><000345><Mesa><01><>\n"
                            "<0012><000101><Um><000001,000><0000001,00><><BAR>\n"
                            "<0012><000102><Zero><000000,000><0000001,00><><BAR>\n"
                            "<0012><000103><Meio><000000,500><0000001,00><><BAR>\n");
  site.web.queue("CAN_ITE", "<0012><0003><000101><Um><><BAR>\n");
  site.checks();
  ASSERT_EQ(site.h.printing.jobs.size(), 2U);
  EXPECT_EQ(site.h.printing.jobs[0].groups(),
            (std::vector<std::string>{"CABEC", "CABCMD", "ITECMD", "ITECMD", "ITEQTD", "TRACO", "ORBELA"}));
  EXPECT_TRUE(shows(site.tickets(), "0,500 x Meio"));
  EXPECT_EQ(site.h.printing.jobs[1].groups()[2], "ITECMD");
}

// ---- Short fields

TEST(ShortFields, ReadAlignedAsTheirNumbersAreAndTheBillAddsUp) {
  Site site;
  // People "<3>", service "<10>", a quantity "<2>" and a value "<12,5>".
  site.web.queue("CMD_FEC", "<14><1><Mesa><3><><CAIXA><10>\n<100><A><2><12,5>\n<PIZ001><Pizza><1><31,00>\n");
  site.checks();
  const auto t = site.tickets();
  ASSERT_EQ(t.size(), 1U);
  EXPECT_TRUE(shows(t, "*** COMANDA 0014 ***"));
  EXPECT_TRUE(shows(t, "Pessoas :03"));
  EXPECT_TRUE(shows(t, "Total de Produtos        56,00"));
  EXPECT_TRUE(shows(t, "Valor por Pessoa         20,53"));
  EXPECT_FALSE(site.kept_aside());
}

}  // namespace
}  // namespace kav::orders
