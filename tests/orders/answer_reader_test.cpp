// Finding records in a web answer: the page's own output is passed over and
// logged, an answer the page's output ran into is not printed, and answers
// that follow the layouts are read exactly as a reader without these checks
// reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "orders/answer_reader.h"
#include "orders/print_record.h"
#include "platform/status.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/line_ends.h"
#include "support/fake_web.h"
#include "support/harness.h"
#include "support/temp_root.h"

namespace kav::orders {
namespace {

using record::cp1252;

// The reader as it was before records had to have a shaped first field: the
// next "<" opens a record, and nothing is checked.
class PlainReader {
 public:
  explicit PlainReader(std::string bytes) : bytes_(std::move(bytes)) {}
  char next_char() {
    if (at_end_ || pos_ >= bytes_.size()) {
      at_end_ = true;
      return ' ';
    }
    return bytes_[pos_++];
  }
  bool skip_to_record(std::size_t) {
    while (!at_end_) {
      if (next_char() == '<' && !at_end_) return true;
    }
    return false;
  }
  std::string fixed(std::size_t n) {
    std::string f(n, ' ');
    for (char& c : f) c = next_char();
    return f;
  }
  std::string text(std::size_t n) {
    std::string f(n, ' ');
    std::size_t stored = 0;
    while (stored < n) {
      const char c = next_char();
      if (c == '>' || at_end_) return f;
      f[stored++] = c;
    }
    while (!at_end_ && next_char() != '>') {
    }
    return f;
  }
  std::string decimal(std::size_t i, std::size_t d) {
    std::string digits = fixed(i);
    next_char();
    return digits + fixed(d);
  }
  void skip(std::size_t k) {
    for (std::size_t n = 0; n < k; ++n) next_char();
  }

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
  bool at_end_ = false;
};

// The new reader over an answer in memory.
struct Reading {
  explicit Reading(std::string bytes) {
    files.put("C:\\a", std::move(bytes));
    file.open("C:\\a", platform::OpenMode::input).ignore();
  }
  platform::MemoryFileSystem files;
  platform::TextFile file{files};
  AnswerReader r{file};
};

// Every field a command reads from an answer, in the order the command reads
// them (the same calls as the three commands make).
template <class Reader>
std::vector<std::string> read_fields(Reader& r, const std::string& command) {
  std::vector<std::string> f;
  if (!r.skip_to_record(4)) return f;
  f.push_back(r.fixed(4));
  if (is_end_marker(f.back())) return f;
  auto header = [&] {
    r.skip(2), f.push_back(r.fixed(6)), r.skip(2), f.push_back(r.text(40)), r.skip(1), f.push_back(r.fixed(2));
    r.skip(2), f.push_back(r.text(20));
  };
  if (command == "CAN_ITE") {
    r.skip(2), f.push_back(r.fixed(4)), r.skip(2), f.push_back(r.fixed(6)), r.skip(2), f.push_back(r.text(40));
    r.skip(1), f.push_back(r.text(20)), r.skip(1), f.push_back(r.text(20));
  } else if (command == "CMD_IMP") {
    header();
    while (r.skip_to_record(4)) {
      f.push_back(r.fixed(4));
      if (is_end_marker(f.back())) break;
      r.skip(2), f.push_back(r.fixed(6)), r.skip(2), f.push_back(r.text(40)), r.skip(1), f.push_back(r.decimal(6, 3));
      r.skip(2), f.push_back(r.decimal(7, 2)), r.skip(2), f.push_back(r.text(20)), r.skip(1), f.push_back(r.text(20));
    }
  } else {
    header();
    r.skip(1), f.push_back(r.text(20)), r.skip(1), f.push_back(r.fixed(2)), r.skip(1);
    while (r.skip_to_record(6)) {
      f.push_back(r.fixed(6));
      if (is_end_marker(f.back())) break;
      r.skip(2), f.push_back(r.text(40)), r.skip(1), f.push_back(r.decimal(6, 3)), r.skip(2), f.push_back(r.decimal(7, 2));
    }
  }
  return f;
}

// Random answers that follow the layouts: any bytes but "<" and ">" in the
// texts (longer than their fields, too), digits or blanks in the fixed
// fields, any separator in the decimals, line ends and blanks between
// records, anything after an end marker or after a cancellation's record.
class Answers {
 public:
  explicit Answers(unsigned seed) : rng_(seed) {}

  std::string make(const std::string& command) {
    std::string a = pick({"", "", "\r\n", "   \n"});
    if (command == "CAN_ITE") {
      a += rec({num(4), num(4), num(6)}) + txt(40) + txt(20) + txt(20);
      if (coin()) a += "<0099><resto>" + junk();
      return a;
    }
    a += rec({num(4), num(6)}) + txt(40) + rec({num(2)}) + txt(20);
    if (command == "CMD_FEC") a += txt(20) + rec({num(2)});
    const int items = static_cast<int>(rng_() % 6);
    for (int i = 0; i < items; ++i) {
      a += pick({"", "\r\n", "\n", "  ", "\r\n\r\n"});
      if (command == "CMD_IMP") {
        a += rec({num(4), num(6)}) + txt(40) + rec({dec(6, 3), dec(7, 2)}) + txt(20) + txt(20);
      } else {
        a += rec({num(6)}) + txt(40) + rec({dec(6, 3), dec(7, 2)});
      }
    }
    if (coin()) a += pick({"\r\n", ""}) + (command == "CMD_IMP" ? "<0000>" : "<000000>") + junk();
    return a + pick({"", "\r\n"});
  }

 private:
  bool coin() { return rng_() % 2 == 0; }
  std::string pick(std::initializer_list<const char*> options) {
    return *(options.begin() + static_cast<std::ptrdiff_t>(rng_() % options.size()));
  }
  std::string num(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += rng_() % 9 == 0 ? ' ' : static_cast<char>('1' + rng_() % 9);
    return s;
  }
  std::string dec(std::size_t i, std::size_t d) { return num(i) + pick({",", ".", "x"}) + num(d); }
  std::string txt(std::size_t width) {
    std::string s = "<";
    const std::size_t n = rng_() % (width + 4);
    for (std::size_t i = 0; i < n; ++i) {
      char c = static_cast<char>(rng_() % 256);
      if (c == '<' || c == '>') c = '-';
      s += c;
    }
    return s + ">";
  }
  static std::string rec(std::initializer_list<std::string> fields) {
    std::string s;
    for (const auto& f : fields) s += "<" + f + ">";
    return s;
  }
  std::string junk() { return pick({"", "<b>Warning</b>", "<12>xx<", "\r\n<br />"}); }

  std::mt19937 rng_;
};

TEST(AnswerReaderTest, AnswersThatFollowTheLayoutsAreReadAsWithoutTheChecks) {
  Answers answers(20191127);
  for (const std::string command : {"CMD_IMP", "CAN_ITE", "CMD_FEC"}) {
    for (int n = 0; n < 250; ++n) {
      const std::string answer = answers.make(command);
      PlainReader plain(answer);
      Reading reading(answer);
      ASSERT_EQ(read_fields(reading.r, command), read_fields(plain, command)) << command << ": " << answer;
      ASSERT_FALSE(reading.r.damaged()) << command << ": " << answer;
      ASSERT_FALSE(reading.r.has_odd_text()) << command << ": " << answer;
    }
  }
  // The samples the stand-ins ship.
  for (const std::string command : {"CMD_IMP", "CAN_ITE", "CMD_FEC"}) {
    const std::string answer = test::slurp(std::filesystem::path(KAV_SOURCE_DIR) / "tools" / "standins" / "webstub" /
                                           "samples" / command / "001.txt");
    PlainReader plain(answer);
    Reading reading(answer);
    EXPECT_EQ(read_fields(reading.r, command), read_fields(plain, command)) << command;
    EXPECT_FALSE(reading.r.has_odd_text()) << command;
  }
}

TEST(AnswerReaderTest, ARecordStartsOnlyWhereItsFirstFieldHasItsShape) {
  // HTML, letters, a "<" right before the real record.
  Reading a("<br />\n<b>Warning</b> on line <b>3</b><br />\n<abcd><<0012><000001>");
  ASSERT_TRUE(a.r.skip_to_record(4));
  EXPECT_EQ(a.r.fixed(4), "0012");
  EXPECT_FALSE(a.r.damaged());
  EXPECT_TRUE(a.r.has_odd_text());
  EXPECT_EQ(a.r.leading_text(), "<br /> <b>Warning</b> on line <b>3</b><br /> <abcd><");

  Reading blanks("\r\n <    >");  // a blank first field is a record (an end marker)
  ASSERT_TRUE(blanks.r.skip_to_record(4));
  EXPECT_TRUE(is_end_marker(blanks.r.fixed(4)));
  EXPECT_FALSE(blanks.r.has_odd_text());

  Reading six("<000100><A>");  // an item of a bill has a 6-character first field
  ASSERT_TRUE(six.r.skip_to_record(6));
  EXPECT_EQ(six.r.fixed(6), "000100");

  // A number sent shorter than its width opens a record; blanks alone do not.
  Reading short_number("< >x<12><000001>");
  ASSERT_TRUE(short_number.r.skip_to_record(4));
  EXPECT_EQ(short_number.r.fixed(4), "0012");
  EXPECT_EQ(short_number.r.leading_text(), "< >x");

  // A bill's item code with letters: its full width, a digit among them, and
  // the next field right after it. HTML tags of six letters stay text.
  Reading code("<strong>x</strong><PIZ001><Pizza>");
  ASSERT_TRUE(code.r.skip_to_record(6));
  EXPECT_EQ(code.r.fixed(6), "PIZ001");
  // Letters alone with a capital among them ("PIZZAS") open a record; HTML
  // tags, which PHP writes in lower case, do not.
  Reading letters("<center><PIZZAS><Pizza>");
  ASSERT_TRUE(letters.r.skip_to_record(6));
  EXPECT_EQ(letters.r.fixed(6), "PIZZAS");
  for (const char* none : {"<PIZ001>\n", "<pizzas><A>", "<PIZ1><A>x"}) {
    Reading r(none);
    EXPECT_FALSE(r.r.skip_to_record(6)) << none;
  }

  for (const char* none : {"", "<", "Fatal error", "<b>x</b>"}) {
    Reading r(none);
    EXPECT_FALSE(r.r.skip_to_record(4)) << none;
    EXPECT_FALSE(r.r.damaged()) << none;
  }
  // What only a record's field looks like, without a record's shape: a
  // record that is itself broken.
  for (const char* broken : {"<001", "<0012", "<001x>", "<00012><000001>", "x <P1><A>"}) {
    Reading r(broken);
    EXPECT_FALSE(r.r.skip_to_record(4)) << broken;
    EXPECT_TRUE(r.r.damaged()) << broken;
  }
}

TEST(AnswerReaderTest, OutputInsideAnAnswerDamagesIt) {
  const std::string header = "<0012><000001><Mesa 5><02><>";
  const std::string item = "<0012><000100><Cafe><000001,000><0000003,50><><BAR>";
  const std::string fatal = "<br />\n<b>Fatal error</b>:  Uncaught Error in <b>x.php</b> on line <b>9</b><br />\n";
  struct Case {
    const char* what;
    std::string answer;
  };
  const Case cases[] = {
      {"the answer ends inside a field", header + "<0012><000100><Caf"},
      {"the answer ends before a value's close", "<0012><000100"},
      {"a fatal error inside a text field", header + "<0012><000100><Caf" + fatal},
      {"a fatal error after the last record", header + item + "\n" + fatal},
      {"plain text after the last record", header + item + "\nPHP Fatal error: Allowed memory size exhausted"},
      {"a field longer than its width", header + "<0012><0000001><Cafe><000001,000><0000003,50><><BAR>"},
      {"a decimal longer than its width", header + "<0012><000100><Cafe><0000001,000><0000003,50><><BAR>"},
      {"a decimal sent short with too many decimals", header + "<0012><000100><Cafe><1,0005><0000003,50><><BAR>"},
  };
  for (const Case& c : cases) {
    Reading a(c.answer);
    read_fields(a.r, "CMD_IMP");
    EXPECT_TRUE(a.r.damaged()) << c.what;
  }
  // A bill whose last value lost its close, and a cancellation cut in its printer.
  Reading bill("<0012><000001><Mesa><02><><CAIXA><10><000100><A><000001,000><0000001,00\nWarning");
  read_fields(bill.r, "CMD_FEC");
  EXPECT_TRUE(bill.r.damaged());
  Reading cancel("<0012><0003><000100><Chopp><><BA");
  read_fields(cancel.r, "CAN_ITE");
  EXPECT_TRUE(cancel.r.damaged());

  // What follows the damage is kept for the log, from the damage on.
  Reading a(header + "<0012><000100><Caf" + fatal);
  read_fields(a.r, "CMD_IMP");
  EXPECT_EQ(shortened(a.r.leading_text(), a.r.inner_text(), 200), "Fatal error: Uncaught Error in x.php on line 9");
}

TEST(AnswerReaderTest, ShortenedTextIsOneLineOfTheGivenWidth) {
  EXPECT_EQ(shortened("<br />\r\n<b>Warning</b>:\t\tx\x01y", "", 100), "Warning: x y");
  EXPECT_EQ(shortened("abcdefghij", "", 8), "abcde...");
  EXPECT_EQ(shortened("", "a < b > c", 100), "a < b > c");  // not tags: kept
  EXPECT_EQ(shortened("lead", "inner", 100), "lead / inner");
  const std::string both = shortened(std::string(100, 'a'), std::string(100, 'b'), 41);
  EXPECT_EQ(both, std::string(16, 'a') + "... / " + std::string(16, 'b') + "...");
  EXPECT_EQ(shortened("ab", std::string(100, 'b'), 20), "ab / " + std::string(12, 'b') + "...");
}

// ---- Through the order-processing form

struct OddAnswers : ::testing::Test {
  void one_check() { h.run_until(5500); }
  std::vector<std::string> rows() const {
    std::vector<std::string> out;
    for (const auto& r : h.runtime.last("90-COMANDAS")->rows()) out.emplace_back(record::trim_right(r));
    return out;
  }
  std::vector<std::string> log_texts() const {
    return test::log_texts(h.files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"), true);
  }
  std::vector<std::string> printers() const {
    std::vector<std::string> out;
    for (const auto& job : h.printing.jobs) {
      out.emplace_back(record::trim_right(job.writes.at(0).record.substr(prt_impressora.pos - 1, prt_impressora.width)));
    }
    return out;
  }

  test::Harness h;
  test::FakeWeb web{h.files, h.commands};
};

const std::string kWarning =
    "<br />\n<b>Warning</b>:  Undefined variable $mesa in <b>/var/www/html/Comandas/GET_KAVCMD.php</b> on line "
    "<b>3</b><br />\n";

TEST_F(OddAnswers, AWarningBeforeTheAnswerIsLoggedAndTheOrderPrintedOnce) {
  web.queue("CMD_IMP", kWarning + "<0012><000001><Mesa 8><04><>\n"
                                  "<0012><000100><Cafe><000001,000><0000018,00><><BAR>\n"
                                  "<0012><000200><Bolo><000001,000><0000009,00><><COZINHA>\n");
  web.queue("CAN_ITE", kWarning + "<0000>");
  one_check();
  EXPECT_EQ(printers(), (std::vector<std::string>{"BAR", "COZINHA"}));
  EXPECT_EQ(rows(), (std::vector<std::string>{"Imprimir itens da Comanda = 0012"}));
  const std::string logged =
      "Texto ignorado em CMD_IMP: Warning: Undefined variable $mesa in /var/www/html/Comandas/GET_KAVCMD.php o...";
  EXPECT_EQ(logged.size(), 106U);
  EXPECT_EQ(log_texts(), (std::vector<std::string>{logged, "Imprimir itens da Comanda = 0012",
                                                   "Texto ignorado em CAN_ITE" + logged.substr(25)}));
}

TEST_F(OddAnswers, AnAnswerThePageDiedInIsReportedAndNothingOfItPrinted) {
  const std::string fatal = "<br />\n<b>Fatal error</b>:  Uncaught Error: Call to undefined function f() in "
                            "<b>/srv/GET_KAVCMD.php</b>:7<br />\n";
  web.queue("CMD_IMP", "<0012><000001><Mesa 8><04><>\n<0012><000100><Cafe><000001,000><0000018,00><><BAR>\n"
                       "<0012><000200><Bo" + fatal);
  web.queue("CMD_IMP", "<0013><000001><Mesa 9><04><>\n<0013><000100><Cafe><000001,000><0000018,00><><BAR>\n" + fatal);
  web.queue("CAN_ITE", "<0012><0003><000100><Chopp><><BA");
  web.queue("CMD_FEC", "<0014><000001><Mesa><02><><CAIXA><10>\n<000100><A><000001,000><0000001,00>\n" + fatal);
  web.queue("CMD_FEC", "<0015><000001><Mesa><02><><CAIXA><10>\n<000100><A><000001,000><0000001,00>\n");
  one_check();
  EXPECT_EQ(web.requests, (std::vector<std::string>{"CMD_IMP", "CMD_IMP", "CMD_IMP", "CAN_ITE", "CAN_ITE", "CMD_FEC",
                                                    "CMD_FEC", "CMD_FEC"}));
  // Only the sound bill is printed.
  ASSERT_EQ(h.printing.jobs.size(), 1U);
  EXPECT_EQ(h.printing.jobs[0].writes[0].record.substr(prt_numcmd.pos - 1, 4), "0015");
  const std::string lost = cp1252(" não impressa !!!");
  // Each refusal names the record and field that broke, and shows it; an
  // answer only cut short has no field to blame.
  const std::string after_last = cp1252(": texto após o último registro: 'Fatal error: Uncaught Error...'");
  EXPECT_EQ(rows(), (std::vector<std::string>{"Resposta CMD_IMP incompleta, Comanda = 0012" + lost,
                                              cp1252("Comanda 0012 (CMD_IMP): item 2, descrição: registro interrompido: "
                                                     "'Fatal error: Uncaught Error...'"),
                                              "Resposta CMD_IMP incompleta, Comanda = 0013" + lost,
                                              "Comanda 0013 (CMD_IMP)" + after_last,
                                              "Resposta CAN_ITE incompleta, Comanda = 0012" + lost,
                                              "Resposta CMD_FEC incompleta, Comanda = 0014" + lost,
                                              "Comanda 0014 (CMD_FEC)" + after_last,
                                              "Impressora = CAIXA"}));
  // Each damaged answer is kept aside; the alert that stands names the newest.
  std::vector<std::string> log;
  for (auto& line : log_texts()) {
    if (line.starts_with("Resposta") && line.find(" guardada em Temp\\KAVFALHA-") != std::string::npos) continue;
    if (line.find("KAVFALHA") != std::string::npos && !line.starts_with("Resposta")) continue;  // the alert's lines
    if (line.starts_with("Comanda ") && line.find(cp1252(" não impressa (")) != std::string::npos) continue;
    log.push_back(std::move(line));
  }
  ASSERT_EQ(log.size(), 11U);
  // The text from the damage on, then the verdict; an answer that was only
  // cut short has no text to show. The same text in the next answer is a
  // repeat: counted, not logged again (its verdict names its order).
  EXPECT_EQ(log[0], "Texto ignorado em CMD_IMP: Fatal error: Uncaught Error: Call to undefined function f() in "
                    "/srv/GET_KAVC...");
  EXPECT_EQ(log[1], rows()[0]);
  EXPECT_EQ(log[2], rows()[1]);
  EXPECT_EQ(log[3], rows()[2]);
  EXPECT_EQ(log[5], rows()[4]);
  EXPECT_EQ(log[6].substr(0, 27), "Texto ignorado em CMD_FEC: ");
  const auto kept = log_texts();
  EXPECT_EQ(std::count_if(kept.begin(), kept.end(), [](const std::string& l) {
              return l.starts_with("Resposta") && l.find(" guardada em Temp\\KAVFALHA-") != std::string::npos;
            }),
            4);
}

}  // namespace
}  // namespace kav::orders
