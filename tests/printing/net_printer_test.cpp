#include <gtest/gtest.h>

#include "platform/print/net_printer.h"
#include "support/fake_net_printer.h"

namespace kav::platform::print {
namespace {

using test::FakeNetPrinter;
using Sent = NetResult::Sent;

NetLimits quick() {
  NetLimits l;
  l.connect = std::chrono::milliseconds(1000);
  l.status = std::chrono::milliseconds(300);
  l.write = std::chrono::milliseconds(2000);
  return l;
}

TEST(NetPrinterStatus, BitsToStates) {
  EXPECT_EQ(net_state(0x12, 0x12, 0x12), NetState::ready);
  EXPECT_EQ(net_state(0x1A, 0x32, 0x72), NetState::paper_end);
  EXPECT_EQ(net_state(0x1A, 0x12, 0x72), NetState::paper_end);  // the sensor alone
  EXPECT_EQ(net_state(0x1A, 0x16, 0x12), NetState::cover_open);
  EXPECT_EQ(net_state(0x1A, 0x52, 0x12), NetState::error);
  EXPECT_EQ(net_state(0x1A, 0x12, 0x12), NetState::offline);
  EXPECT_EQ(net_state(0x12, 0x12, 0x1E), NetState::ready);  // paper near its end still prints
}

TEST(NetPrinter, ReadyPrinterPrintsTheBytes) {
  FakeNetPrinter printer;
  const NetResult r = send_to_net_printer("127.0.0.1", printer.port(), "\x1B@ticket\n", quick());
  EXPECT_EQ(r.sent, Sent::printed);
  EXPECT_EQ(r.state, NetState::ready);
  EXPECT_EQ(printer.printed(), "\x1B@ticket\n");
  EXPECT_EQ(query_net_printer("127.0.0.1", printer.port(), quick()), NetState::ready);
}

TEST(NetPrinter, APrinterNotReadyGetsNothing) {
  FakeNetPrinter printer;
  for (const auto& [state, expected] : {std::pair{FakeNetPrinter::State::paper_end, NetState::paper_end},
                                        std::pair{FakeNetPrinter::State::cover_open, NetState::cover_open},
                                        std::pair{FakeNetPrinter::State::silent, NetState::no_answer}}) {
    printer.set_state(state);
    const NetResult r = send_to_net_printer("127.0.0.1", printer.port(), "ticket", quick());
    EXPECT_EQ(r.sent, Sent::not_sent);
    EXPECT_EQ(r.state, expected);
  }
  EXPECT_EQ(printer.printed(), "");
}

TEST(NetPrinter, NobodyListening) {
  const auto started = std::chrono::steady_clock::now();
  const NetResult r = send_to_net_printer("127.0.0.1", test::closed_loopback_port(), "ticket", quick());
  EXPECT_EQ(r.sent, Sent::not_sent);
  EXPECT_EQ(r.state, NetState::no_answer);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

// Bytes that may have reached the paper are never called "not sent".
TEST(NetPrinter, ADropMidTicketOrABadStatusAfterLeavesItUncertain) {
  FakeNetPrinter printer;
  printer.drop_after(1000);
  const std::string big(8 << 20, 'x');
  NetResult r = send_to_net_printer("127.0.0.1", printer.port(), big, quick());
  EXPECT_EQ(r.sent, Sent::uncertain);
  EXPECT_FALSE(r.detail.empty());

  printer.set_state(FakeNetPrinter::State::paper_end_after_ticket);
  r = send_to_net_printer("127.0.0.1", printer.port(), "ticket", quick());
  EXPECT_EQ(r.sent, Sent::uncertain);
  EXPECT_EQ(r.state, NetState::paper_end);
}

}  // namespace
}  // namespace kav::platform::print

// The whole way: the print service, the profile, a printer on a loopback port.
#include "board/alerts.h"
#include "platform/clock.h"
#include "platform/print/print_fakes.h"
#include "printing/profiled_outlet.h"
#include "printing/spooling_print_service.h"
#include "record/cp1252.h"
#include "settings/kav_settings.h"

namespace kav::printing {
namespace {

using namespace platform;
using namespace platform::print;
using test::FakeNetPrinter;

constexpr std::string_view kInfo = "C:\\OrbelaTeknovarium\\Temp\\FORMPRT.PRT";
constexpr std::string_view kFolder = "C:\\OrbelaTeknovarium\\Spool\\COZINHA\\";

// The fake layout, reading the order from "Comanda NNNN" in a ticket.
class OrderedLayout final : public TicketLayout {
 public:
  bool is_form(std::string_view form) const override { return fake_.is_form(form); }
  std::optional<std::vector<std::string>> lines(std::string_view group, std::string_view record,
                                                std::string_view made_at) const override {
    return fake_.lines(group, record, made_at);
  }
  std::string with_mark(std::string_view ticket, std::string_view mark, std::string_view line_end) const override {
    return fake_.with_mark(ticket, mark, line_end);
  }
  TicketFacts facts(std::string_view ticket) const override {
    TicketFacts f = fake_.facts(ticket);
    if (const auto at = ticket.find("Comanda "); at != std::string_view::npos) f.order = ticket.substr(at + 8, 4);
    return f;
  }

 private:
  test::FakeLayout fake_;
};

const std::string kWaiting = record::cp1252(" sem imprimir; Reimprimir > Enviar para…");

struct NetService {
  FakeNetPrinter printer;
  MemoryFileSystem files;
  ManualClock clock{2019, 11, 27, 14, 38, 5};
  OrderedLayout layout;
  log::Alerts board;
  std::vector<std::string> reports;
  test::FakeOutlet* spooler = new test::FakeOutlet;
  std::unique_ptr<SpoolingPrintService> service;

  NetService() {
    const std::string ini = "[impressora COZINHA]\nmodo = escpos-rede\nendereco = 127.0.0.1:" +
                            std::to_string(printer.port()) + "\n";
    SpoolOptions options;
    options.conditions = std::make_shared<PrinterConditions>();
    options.profiles = PrinterProfiles(settings::parse_settings(ini, settings::kav_schema()));
    NetLimits limits;
    limits.status = std::chrono::milliseconds(300);
    limits.connect = std::chrono::milliseconds(1000);
    service = std::make_unique<SpoolingPrintService>(
        files, clock, layout,
        std::make_unique<ProfiledOutlet>(std::unique_ptr<PrinterOutlet>(spooler), options.profiles, layout,
                                         options.conditions, limits),
        [this](std::string_view t) { reports.emplace_back(t); }, &board, options);
  }

  void print(std::string_view text, std::string_view to = "COZINHA") {
    files.put(kInfo, "PRTDRV       \"" + std::string(to) + "\"\n");
    EXPECT_TRUE(service->open("FCOMANDA", kInfo).ok());
    EXPECT_TRUE(service->write("ITECMD", std::string(text)).ok());
    EXPECT_TRUE(service->close().ok());
  }
  std::string alert(std::string_view key) const {
    for (const auto& a : board.current()) {
      if (a.key == key) return a.text;
    }
    return {};
  }
  std::size_t marked() {
    std::size_t n = 0;
    for (const auto& f : files.list(kFolder, false)) n += f.find("-NAO-ENTREGUE") != std::string::npos;
    return n;
  }
  static std::size_t count(const std::string& in, std::string_view what) {
    std::size_t n = 0;
    for (auto at = in.find(what); at != std::string::npos; at = in.find(what, at + 1)) ++n;
    return n;
  }
};

TEST(NetworkPrinting, AReadyPrinterPrintsAndTheTicketIsSettledAtOnce) {
  NetService s;
  s.print("Feij\xE3o");
  EXPECT_EQ(s.spooler->submits, 0);  // the spooler never sees it
  EXPECT_NE(s.printer.printed().find("Feij\x84o\n"), std::string::npos);
  EXPECT_EQ(s.marked(), 0U);
  EXPECT_EQ(s.files.list(kFolder, false).size(), 1U);  // no job note left
}

// Paper end keeps the ticket and says so; it prints once when paper is back.
TEST(NetworkPrinting, PaperEndKeepsTheTicketUntilPaperIsBack) {
  NetService s;
  s.printer.set_state(FakeNetPrinter::State::paper_end);
  s.print("Comanda 0012 Pedido um");
  EXPECT_EQ(s.marked(), 1U);
  s.print("Comanda 0013 Pedido dois");
  EXPECT_EQ(s.alert("impressora-estado:cozinha"), "COZINHA sem papel: comandas 0012, 0013" + kWaiting);
  EXPECT_EQ(s.printer.printed(), "");
  s.service->follow_up();
  s.service->follow_up();
  EXPECT_EQ(s.marked(), 2U);
  s.printer.set_state(FakeNetPrinter::State::ready);
  for (int i = 0; i < 3; ++i) s.service->follow_up();
  EXPECT_EQ(NetService::count(s.printer.printed(), "Pedido um"), 1U);
  EXPECT_EQ(NetService::count(s.printer.printed(), "Pedido dois"), 1U);
  EXPECT_EQ(s.marked(), 0U);
  EXPECT_EQ(s.alert("impressora-estado:cozinha"), "");
  EXPECT_NE(std::find(s.reports.begin(), s.reports.end(), "COZINHA sem papel"), s.reports.end());
  EXPECT_NE(std::find(s.reports.begin(), s.reports.end(), "COZINHA pronta"), s.reports.end());
}

TEST(NetworkPrinting, CoverOpenAndSilenceInThePrintersWords) {
  NetService s;
  s.printer.set_state(FakeNetPrinter::State::cover_open);
  s.print("Pedido");
  EXPECT_EQ(s.alert("impressora-estado:cozinha"), "COZINHA com a tampa aberta: tickets" + kWaiting);
  s.printer.set_state(FakeNetPrinter::State::silent);
  s.service->follow_up();
  s.service->follow_up();
  EXPECT_EQ(s.alert("impressora-estado:cozinha"),
            record::cp1252("COZINHA não responde em 127.0.0.1:") + std::to_string(s.printer.port()) +
                ": tickets" + kWaiting);
  EXPECT_EQ(s.marked(), 1U);
}

// The spooler stands between the monitor and no network printer: while it
// cannot be reached, a network printer's tickets go once it is back. What
// the spooler holds is left as it was: a ticket an earlier run handed to it
// (its job noted beside it, still queued) is not taken as printed for want
// of an answer, and is settled once the spooler says its job is done.
TEST(NetworkPrinting, ANetworkPrinterIsServedWhileTheSpoolerCannotBeReached) {
  NetService s;
  const std::string bar = "C:\\OrbelaTeknovarium\\Spool\\BAR";
  const std::string base = "20191127-14300000-000001";
  ASSERT_TRUE(s.files.create_directory("C:\\OrbelaTeknovarium\\Spool").ok());
  ASSERT_TRUE(s.files.create_directory(bar).ok());
  s.files.put(bar + "\\" + base + "-NAO-ENTREGUE.txt", "Comanda 0011 Bebida");
  ASSERT_TRUE(SpoolStore(s.files).write_note(bar, base, 7));
  s.spooler->states[7] = JobState::pending;
  s.spooler->reachable = false;

  s.printer.set_state(FakeNetPrinter::State::paper_end);
  s.print("Comanda 0012 Pedido um");
  s.service->follow_up();
  s.service->follow_up();
  s.printer.set_state(FakeNetPrinter::State::ready);
  for (int i = 0; i < 3; ++i) s.service->follow_up();
  EXPECT_EQ(NetService::count(s.printer.printed(), "Pedido um"), 1U);
  EXPECT_EQ(s.marked(), 0U);
  EXPECT_TRUE(s.files.exists(bar + "\\" + base + "-NAO-ENTREGUE.txt"));
  EXPECT_EQ(s.spooler->submits, 0);
  for (const auto& r : s.reports) EXPECT_EQ(r.find("BAR"), std::string::npos) << r;

  s.spooler->reachable = true;
  s.spooler->states[7] = JobState::completed;
  s.service->follow_up();
  s.service->follow_up();
  EXPECT_TRUE(s.files.exists(bar + "\\" + base + ".txt"));
  EXPECT_EQ(s.spooler->submits, 0);
}

// A test page (raw bytes) to a printer out of paper is refused in the
// printer's words too: the installer reads them from kav-spool.
TEST(NetworkPrinting, ARawPageToAPrinterOutOfPaperSaysWhy) {
  FakeNetPrinter printer;
  printer.set_state(FakeNetPrinter::State::paper_end);
  const std::string ini =
      "[impressora COZINHA]\nmodo = escpos-rede\nendereco = 127.0.0.1:" + std::to_string(printer.port()) + "\n";
  test::FakeLayout layout;
  NetLimits limits;
  limits.status = std::chrono::milliseconds(300);
  ProfiledOutlet outlet(std::make_unique<test::FakeOutlet>(),
                        PrinterProfiles(settings::parse_settings(ini, settings::kav_schema())), layout, nullptr,
                        limits);
  const Delivery d = outlet.submit_raw(TicketJob{"COZINHA", "Teste", PageSetup{}}, "\x1B@page");
  EXPECT_EQ(d.outcome, Outcome::stopped);
  EXPECT_EQ(d.detail, "COZINHA sem papel");
  EXPECT_EQ(printer.printed(), "");
}

// A connection that drops in the middle of a ticket: it may have printed, so
// the monitor prints it once more, marked "POSSÍVEL 2ª VIA - conferir", and
// never a third time; it stays marked meanwhile.
TEST(NetworkPrinting, ADropMidTicketIsPrintedOnceMoreMarkedAndNeverAgain) {
  NetService s;
  s.printer.drop_after(100);
  s.print(std::string(8 << 20, 'x'));
  for (int i = 0; i < 6; ++i) {
    s.service->follow_up();
    s.service->wait_for_hand_overs();
  }
  EXPECT_EQ(s.marked(), 1U);
  EXPECT_TRUE(std::any_of(s.reports.begin(), s.reports.end(), [](const std::string& r) {
    return r.find(record::cp1252("Situação desconhecida em COZINHA")) != std::string::npos;
  }));
  EXPECT_EQ(std::count_if(s.reports.begin(), s.reports.end(),
                          [](const std::string& r) {
                            return r.find(record::cp1252("reimprimindo como POSSÍVEL 2ª VIA em COZINHA")) !=
                                   std::string::npos;
                          }),
            1);
  EXPECT_EQ(s.printer.most_at_once(), 1);
}

}  // namespace
}  // namespace kav::printing

// End to end through a CUPS raw queue: the scheduler's socket backend hands
// the raw job to the loopback printer, which must receive the ESC/POS bytes
// as they were made. The queue is made for the test, under a name of its
// own, and removed after it. Without a scheduler that lets the test add a
// queue, the test says so and skips.
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "orders/fcomanda.h"

namespace kav::printing {
namespace {

bool shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

struct RawQueue {
  std::string name = "KAVRAW" + std::to_string(::getpid());
  bool made = false;
  explicit RawQueue(int port) {
    made = shell("lpstat -r | grep -q 'is running'") &&
           shell("lpadmin -p " + name + " -E -v socket://127.0.0.1:" + std::to_string(port) + " -m raw") &&
           shell("cupsenable " + name) && shell("cupsaccept " + name);
  }
  ~RawQueue() {
    if (made) shell("lpadmin -x " + name);
  }
};

TEST(CupsRawQueue, EscPosBytesReachThePrinterAsMade) {
  FakeNetPrinter printer;
  RawQueue queue(printer.port());
  if (!queue.made) GTEST_SKIP() << "no CUPS scheduler that lets this test add a raw queue";
  const std::string ini = "[impressora " + queue.name + "]\nmodo = escpos\naviso_sonoro = esc-b\n";
  const auto& layout = orders::fcomanda_layout();
  const std::string ticket = record::cp1252("              *** COMANDA 0012 ***\nFeijão tropeiro\n");
  // The bytes the raw path sends for a ticket of this layout.
  const std::string expected = escpos_bytes(PrinterProfiles(settings::parse_settings(ini, settings::kav_schema()))
                                                .of(queue.name),
                                            layout, ticket);
  auto outlet = std::make_unique<ProfiledOutlet>(
      make_os_outlet(), PrinterProfiles(settings::parse_settings(ini, settings::kav_schema())), layout, nullptr);
  outlet->refresh({}, 0);
  const Delivery d = outlet->submit(TicketJob{queue.name, "kav-raw-test", PageSetup{}}, ticket);
  ASSERT_TRUE(d.delivered()) << d.detail;
  for (int i = 0; i < 100 && printer.printed().find(expected) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_NE(printer.printed().find(expected), std::string::npos);
  EXPECT_NE(printer.printed().find("Feij\x84o tropeiro\n"), std::string::npos);
}

}  // namespace
}  // namespace kav::printing
