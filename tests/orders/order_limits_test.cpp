// Orders larger than the answer work areas (200 items, 20 printers) and a
// web application that keeps handing out work: nothing is cut silently, no
// bill is totalled from part of its items, and one command cannot hold the
// run.
#include <gtest/gtest.h>

#include <algorithm>

#include "orders/comandas_form.h"
#include "orders/exchange.h"
#include "orders/print_record.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "record/digits.h"
#include "support/fake_web.h"
#include "support/harness.h"
#include "support/line_ends.h"

namespace kav::orders {
namespace {

using Strings = std::vector<std::string>;

// A CMD_FEC answer: order 0042, `items` items of 1 unit at 1,00, service
// and people as given.
std::string bill(std::size_t items, std::string_view service = "00", std::string_view people = "00") {
  std::string a = "<0042><000001><Mesa 9><" + std::string(people) + "><><CAIXA><" + std::string(service) + ">\r\n";
  for (std::size_t i = 1; i <= items; ++i) {
    a += "<" + record::to_digits(i, 6) + "><Item " + std::to_string(i) + "><000001,000><0000001,00>\r\n";
  }
  return a + "<000000>\r\n";
}

// A CMD_IMP answer: order 0007, item i (1-based) on printer `printer_of(i)`.
template <typename F>
std::string order(std::size_t items, F printer_of) {
  std::string a = "<0007><000001><Mesa 3><02><>\r\n";
  for (std::size_t i = 1; i <= items; ++i) {
    a += "<0007><" + record::to_digits(i, 6) + "><Item " + std::to_string(i) + "><000001,000><0000001,00><><" +
         printer_of(i) + ">\r\n";
  }
  return a + "<0000>\r\n";
}

struct Limits : ::testing::Test, test::Harness {
  using test::Harness::Harness;
  test::FakeWeb web{files, commands};

  void run(int checks = 1) { run_until(5000 * checks + 500); }
  Strings rows() const {
    Strings out;
    for (const auto& opening : runtime.openings()) {
      if (opening.name != "90-COMANDAS") continue;
      for (const auto& r : opening.rows()) out.emplace_back(record::trim_right(r));
    }
    return out;
  }
  Strings log() const { return test::log_texts(files.contents("C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt"), true); }
  bool logged(std::string_view text) const {
    const Strings l = log();
    return std::find(l.begin(), l.end(), text) != l.end();
  }
  Strings alerts() {
    Strings out;
    for (const auto& a : application.alerts().current()) out.push_back(a.text);
    return out;
  }
  // The descriptions of a job's item lines, trimmed.
  static Strings items_of(const test::FakePrintService::Job& job) {
    Strings out;
    for (const auto& w : job.writes) {
      if (record::trim_right(w.group) == "ITECMD") out.emplace_back(record::trim_right(w.field(prt_descricao)));
    }
    return out;
  }
  static std::string total_line(const test::FakePrintService::Job& job, std::size_t k) {
    std::size_t seen = 0;
    for (const auto& w : job.writes) {
      if (record::trim_right(w.group) == "SUBTOT" && seen++ == k) return w.field(prt_linha_tot);
    }
    return {};
  }
};

Strings numbered(std::string_view prefix, std::size_t from, std::size_t to, std::size_t step = 1) {
  Strings out;
  for (std::size_t i = from; i <= to; i += step) out.push_back(std::string(prefix) + std::to_string(i));
  return out;
}

// ---- Bills past 200 items

TEST_F(Limits, ABillOf250ItemsListsEveryItemAndTotalsThemAll) {
  web.queue("CMD_FEC", bill(250, "10", "02"));
  run();
  ASSERT_EQ(printing.jobs.size(), 1U);
  const auto& b = printing.jobs[0];
  EXPECT_EQ(items_of(b), numbered("Item ", 1, 250));
  EXPECT_EQ(std::count_if(b.writes.begin(), b.writes.end(),
                          [](const auto& w) { return record::trim_right(w.group) == "VALCMD"; }),
            250);
  EXPECT_EQ(total_line(b, 0), "Total de Produtos       250,00 ");
  EXPECT_EQ(total_line(b, 1), record::cp1252("Serviço 10%              25,00 "));
  EXPECT_EQ(total_line(b, 2), "Total da Conta          275,00 ");
  EXPECT_EQ(total_line(b, 3), "Valor por Pessoa        137,50 ");
  EXPECT_EQ(rows(), Strings{"Impressora = CAIXA"});
  EXPECT_TRUE(logged(record::cp1252("Comanda 0042 com 250 itens: além da tabela de 200, conta impressa inteira")));
  EXPECT_TRUE(alerts().empty());
}

// The print service that, when a job opens, takes away the answer being
// worked off (its kept copy and GET_KAVCMD.RET): the order's items can no
// longer be read again. The jobs reach the harness's own recorder.
struct AnswerGoneAtPrint final : platform::PrintService {
  platform::Status open(std::string_view form, std::string_view info) override {
    for (const auto& name : files->list(kTempFolder, false)) {
      if (name.starts_with("KAVPEND-")) {
        EXPECT_EQ(files->remove(std::string(kTempFolder) + "\\" + name), platform::Status::kOk);
      }
    }
    files->remove(kRespostaPath).ignore();  // gone already when the answer was kept
    return inner->open(form, info);
  }
  platform::Status write(std::string_view g, std::string_view r) override { return inner->write(g, r); }
  platform::Status close() override { return inner->close(); }
  void start(const std::vector<std::string>& pending) override { inner->start(pending); }
  std::string new_work_id() override { return inner->new_work_id(); }
  void begin_work(std::string_view id) override { inner->begin_work(id); }
  test::FakePrintService* inner = nullptr;
  platform::MemoryFileSystem* files = nullptr;
};
struct GoneHolder {
  AnswerGoneAtPrint gone;
};
struct LimitsAnswerGone : GoneHolder, Limits {
  LimitsAnswerGone() : Limits(test::FakePlatform::start_of_test_day(), {.printing = &gone}) {
    gone.inner = &printing;
    gone.files = &files;
  }
};

TEST_F(LimitsAnswerGone, ABillWhoseItemsCannotBeReadAgainSaysSoAndKeepsTheWholeTotals) {
  web.queue("CMD_FEC", bill(250));
  run();
  ASSERT_EQ(printing.jobs.size(), 1U);
  const auto& b = printing.jobs[0];
  Strings expected = numbered("Item ", 1, 200);
  expected.push_back(record::cp1252("*** ITENS ALÉM DE 200 NÃO LISTADOS ***"));
  expected.push_back("*** TOTAIS COM TODOS OS 250 ITENS ***");
  EXPECT_EQ(items_of(b), expected);
  EXPECT_EQ(total_line(b, 0), "Total de Produtos       250,00 ");
  const std::string said =
      record::cp1252("Comanda 0042 com 250 itens: conta sem os itens além de 200, totais com todos !!!");
  EXPECT_EQ(rows(), (Strings{"Impressora = CAIXA", said}));
  EXPECT_TRUE(logged(said));
  EXPECT_EQ(alerts(), Strings{said});
}

// ---- Item tickets past 200 items and 20 printers

TEST_F(Limits, ItemTicketsOfA250ItemOrderOn23PrintersCarryEveryItem) {
  // Item i goes to printer P(i mod 23): 23 printers, 10 or 11 items each.
  auto printer = [](std::size_t i) { return "P" + std::to_string(i % 23); };
  web.queue("CMD_IMP", order(250, printer));
  run();
  ASSERT_EQ(printing.jobs.size(), 23U);
  for (std::size_t k = 0; k < 23; ++k) {
    const std::size_t p = (k + 1) % 23;  // printers in the order the order first names them
    EXPECT_EQ(printing.jobs[k].prtdrv(), "PRTDRV       \"P" + std::to_string(p) + "\"") << k;
    EXPECT_EQ(items_of(printing.jobs[k]), numbered("Item ", p == 0 ? 23 : p, 250, 23)) << k;
  }
  EXPECT_EQ(rows(), Strings{"Imprimir itens da Comanda = 0007"});
  EXPECT_TRUE(logged(
      record::cp1252("Comanda 0007 além das tabelas de 200 itens e 20 impressoras: itens 250, impressoras 23")));
  EXPECT_TRUE(alerts().empty());
}

TEST_F(Limits, PrintersPastTheBoundAreReportedNotDropped) {
  const std::size_t n = ComandasForm::kMaxPrintersPerOrder + 3;
  web.queue("CMD_IMP", order(n + 1, [&](std::size_t i) { return "P" + std::to_string(i > n ? n : i); }));
  run();
  EXPECT_EQ(printing.jobs.size(), ComandasForm::kMaxPrintersPerOrder);
  const std::string said = record::cp1252("Comanda 0007: 4 itens de impressoras além de 100 não impressos !!!");
  EXPECT_EQ(rows(), (Strings{"Imprimir itens da Comanda = 0007", said}));
  EXPECT_TRUE(logged(said));
  EXPECT_EQ(alerts(), Strings{said});
}

TEST_F(LimitsAnswerGone, ItemTicketsThatCannotReadTheOrderAgainSaySo) {
  web.queue("CMD_IMP", order(201, [](std::size_t) { return std::string("COZINHA"); }));
  run();
  ASSERT_EQ(printing.jobs.size(), 1U);
  Strings expected = numbered("Item ", 1, 200);
  expected.push_back(record::cp1252("*** ITENS ALÉM DE 200 NÃO IMPRESSOS ***"));
  EXPECT_EQ(items_of(printing.jobs[0]), expected);
  const std::string said = record::cp1252("Comanda 0007 com 201 itens: itens além de 200 não impressos !!!");
  EXPECT_EQ(rows().back(), said);
  EXPECT_TRUE(logged(said));
  EXPECT_EQ(alerts(), Strings{said});
}

// ---- A web application that keeps handing out work

TEST_F(Limits, AServerRepeatingAnOrderCannotHoldTheRun) {
  const std::string same = order(1, [](std::size_t) { return std::string("BAR"); });
  bool repeating = true;
  web.on_request = [&](const std::string& command) {
    if (command == "CMD_IMP" && repeating) web.queue("CMD_IMP", same);
  };
  web.queue("CAN_ITE", "<0007><0001><000001><Item 1><><BAR>");
  web.queue("CMD_FEC", bill(1));
  runtime.at(5500, [&] { repeating = false; });  // the server mends before the second check
  run(2);

  const std::size_t bound = ComandasForm::kMaxAnswersPerCommand;
  Strings first_check(bound, "CMD_IMP");
  for (const char* c : {"CAN_ITE", "CAN_ITE", "CMD_FEC", "CMD_FEC"}) first_check.emplace_back(c);
  ASSERT_GE(web.requests.size(), first_check.size());
  EXPECT_EQ(Strings(web.requests.begin(), web.requests.begin() + static_cast<long>(first_check.size())), first_check);
  // The polling went on: a second check, with the server mended.
  EXPECT_EQ(Strings(web.requests.begin() + static_cast<long>(first_check.size()), web.requests.end()),
            (Strings{"CMD_IMP", "CAN_ITE", "CMD_FEC"}));
  ASSERT_EQ(printing.jobs.size(), bound + 2);  // the repeats, the cancellation, the bill
  EXPECT_EQ(printing.jobs[bound].groups()[4], "CANC");
  EXPECT_EQ(printing.jobs[bound + 1].groups()[3], "VALCMD");

  const std::string said =
      record::cp1252("Limite de 50 respostas CMD_IMP por checagem atingido, o restante fica para a próxima !!!");
  const Strings l = log();
  EXPECT_EQ(std::count(l.begin(), l.end(), said), 1);
  const Strings r = rows();
  ASSERT_GT(r.size(), bound);
  EXPECT_EQ(r[bound], said);
  EXPECT_EQ(r[bound + 1], "Cancelado item 0001 da Comanda = 0007");
  // The alert stood from the first check until the second found no more work.
  EXPECT_TRUE(logged(record::cp1252("CMD_IMP: 50 respostas numa só checagem; verificar a aplicação web")));
  EXPECT_TRUE(logged(record::cp1252("Resolvido: CMD_IMP: 50 respostas numa só checagem; verificar a aplicação web")));
  EXPECT_TRUE(alerts().empty());
}

}  // namespace
}  // namespace kav::orders
