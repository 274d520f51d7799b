// The export form 01-EXPORTA on the headless runtime, with the ERP files in
// memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/line_end.h"
#include "export/exporta_form.h"
#include "export/kavcmd_lines.h"
#include "log/log_form.h"
#include "platform/clock.h"
#include "platform/command_runner.h"
#include "platform/file_system.h"
#include "record/area.h"
#include "record/cp1252.h"
#include "support/line_ends.h"
#include "support/fake_platform.h"
#include "ui/headless/headless_runtime.h"

namespace kav::master_export {
namespace {

using record::cp1252;

constexpr std::string_view kLogFile = "C:\\OrbelaTeknovarium\\LOGCMD_20191127.txt";
const std::string kFim = cp1252("Fim da Exportação dos Cadastros !!!");

std::string seller(std::string_view code, std::string_view apelido, std::string_view nome) {
  record::Area a(1284);
  a.set({1, 6}, code);
  a.set({7, 20}, std::string("KEY") + std::string(code));
  a.set({27, 20}, apelido);
  a.set({53, 60}, nome);
  a.set({113, 6}, "FIM;'X");  // beyond the fields the line uses
  return std::string(a.bytes());
}

std::string product(std::string_view code, std::string_view chave2, std::string_view descricao,
                    std::string_view preco) {
  record::Area a(869);
  a.set({1, 6}, code);
  a.set({25, 18}, chave2);
  a.set({43, 40}, descricao);
  a.set({433, 9}, preco);
  return std::string(a.bytes());
}

using test::lines_of;

// The export form with the log form, on memory files and fake ERP files.
struct ExportaRig {
  ExportaRig() {
    forms.add(form);
    forms.add(log_form);
    // The import page answers as the stand-in does when it took the file.
    commands.on_run = [this](std::string_view) {
      batch_held = files.is_held(kBatchPath);
      files.put(kImportAnswerPath, import_answer);
      return import_status;
    };
  }

  test::FakeKeyedStore& vendedo() { return keyed.stores["VENDEDO.ORB"]; }
  test::FakeKeyedStore& produto() { return keyed.stores["PRODUTO.ORB"]; }
  void add_seller(const std::string& r) { vendedo().records[r.substr(0, 6)] = r; }
  void add_product(const std::string& r) { produto().records[r.substr(0, 6)] = r; }

  void run() { runtime.run("01-EXPORTA"); }

  std::string kavcmd() const { return files.contents(kKavcmdPath); }
  std::vector<std::string> log_texts() const {
    return test::log_texts(files.contents(kLogFile));
  }
  std::vector<ui::headless::Event> messages() const { return runtime.events("message"); }
  std::vector<std::pair<std::string, int>> bloq_changes() const {
    std::vector<std::pair<std::string, int>> out;
    for (const auto& e : runtime.journal()) {
      if (((e.op == "visible" || e.op == "refresh") && e.control == "Frm_Bloq") || e.op == "wait") {
        out.emplace_back(e.op, e.value);
      }
    }
    return out;
  }

  std::string import_answer = "OK: 2 vendedores, 2 produtos\r\n";
  platform::Status import_status;
  bool batch_held = false;  // while the import ran
  test::FakePlatform fake{platform::ManualClock(2019, 11, 27, 14, 38, 5), {.erp_files = true}};
  platform::MemoryFileSystem& files = fake.files;
  platform::ManualClock& clock = fake.clock;
  test::FakeCommandRunner& commands = fake.commands;
  test::FakeKeyedFiles& keyed = fake.keyed;
  log::LLink link;
  ExportaForm form{link, fake.services, "localhost"};
  log::LogForm log_form{link, files, clock};
  form::FormSet forms;
  ui::headless::VirtualPacer pacer{clock};
  ui::headless::HeadlessRuntime runtime{forms, commands, pacer};
  ui::headless::Recorder& instruments{runtime.record_everything()};
};

struct ExportaFixture : ::testing::Test, ExportaRig {};

TEST(KavcmdLinesTest, SellerLine) {
  // The short name wins over the name, followed by blanks; ";" and "'" of the
  // copied fields become blanks. The record area keeps the short name in
  // place of the name; the rest of it, never copied, is left as read.
  record::Area a(1284);
  a.raw() = seller("000042", "Ze;Ca'", "Jose Carlos");
  const std::string line = seller_line(a);
  ASSERT_EQ(line.size(), 200u);
  EXPECT_EQ(line, record::padded("VENDEDO;000042;" + record::padded("Ze Ca", 60) + ";", 200));
  EXPECT_EQ(a.get({53, 60}), record::padded("Ze;Ca'", 60));
  EXPECT_EQ(a.get({113, 6}), "FIM;'X");

  // A blank short name leaves the name; Windows-1252 bytes pass unchanged.
  a.raw() = seller("000043", "", cp1252("João D'Ávila; Filho"));
  EXPECT_EQ(seller_line(a), record::padded("VENDEDO;000043;" + record::padded(cp1252("João D Ávila  Filho"), 60) + ";",
                                           200));
}

TEST(KavcmdLinesTest, ProductLine) {
  record::Area a(869);
  a.raw() = product("000100", "7891234567890", cp1252("Pão; 'francês'"), "000001250");
  std::string line = product_line(a);
  EXPECT_EQ(line, record::padded("PRODUTO;000100;" + record::padded("7891234567890", 18) + ";" +
                                     record::padded(cp1252("Pão   francês "), 40) + ";00000001250;",
                                 200));
  EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 5);

  // Control bytes would split the line or end the file: blanked as ";" is.
  a.raw() = product("000103", "78\t9", cp1252("Pão\r\nde") + std::string(1, '\0') + "queijo\x1A", "000001250");
  line = product_line(a);
  EXPECT_EQ(line.substr(15, 18), record::padded("78 9", 18));
  EXPECT_EQ(line.substr(34, 40), record::padded(cp1252("Pão  de queijo "), 40));
  EXPECT_EQ(line.find_first_of(std::string("\r\n\t\x1A") + std::string(1, '\0')), std::string::npos);

  // Nine zeros give eleven; the digits are never edited.
  a.raw() = product("000101", "", "", "000000000");
  EXPECT_EQ(product_line(a).substr(75, 12), "00000000000;");
  // A stray ";" in the price field does not add a separator.
  a.raw() = product("000102", "", "", "12;456789");
  line = product_line(a);
  EXPECT_EQ(line.substr(75, 12), "0012 456789;");
  EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 5);
}

TEST(KavcmdLinesTest, ImportBatchLine) {
  EXPECT_EQ(import_batch_line("localhost"),
            record::padded("\\OrbelaTeknovarium\\Kav\\WGET \"http://localhost/Comandas/WRT_KAVCMD.php\""
                           " --output-document=WGET.TXT --no-cache",
                           200));
  EXPECT_EQ(kBatchCommand.size(), 50u);
}

TEST_F(ExportaFixture, ExportsEverySellerThenEveryProductInCodeOrder) {
  add_seller(seller("000002", "", "Maria;da Silva"));
  add_seller(seller("000001", "Zeca", "Jose Carlos"));
  add_seller(seller(" 00009", "Abaixo", "Below the start key"));
  add_product(product("000200", "B", cp1252("Açaí 'grande'"), "000000000"));
  add_product(product("000100", "A", "Cafe", "000000350"));
  files.put(kKavcmdPath, "old export\n");

  run();

  const auto lines = lines_of(kavcmd());
  ASSERT_EQ(lines.size(), 4u);
  for (const auto& l : lines) EXPECT_EQ(l.size(), 200u);
  EXPECT_EQ(record::trim_right(lines[0]), "VENDEDO;000001;" + record::padded("Zeca", 60) + ";");
  EXPECT_EQ(record::trim_right(lines[1]), "VENDEDO;000002;" + record::padded("Maria da Silva", 60) + ";");
  EXPECT_EQ(record::trim_right(lines[2]),
            "PRODUTO;000100;" + record::padded("A", 18) + ";" + record::padded("Cafe", 40) + ";00000000350;");
  EXPECT_EQ(record::trim_right(lines[3]), "PRODUTO;000200;" + record::padded("B", 18) + ";" +
                                              record::padded(cp1252("Açaí  grande "), 40) + ";00000000000;");
  EXPECT_FALSE(files.exists(kKavcmdTempPath));

  // The import: the batch file of one line, run without a window, held
  // unchangeable while it ran.
  EXPECT_EQ(files.contents(kBatchPath), import_batch_line("localhost") + std::string(platform::kLineEnd));
  EXPECT_TRUE(batch_held);
  EXPECT_FALSE(files.is_held(kBatchPath));
  ASSERT_EQ(commands.lines.size(), 1u);
  EXPECT_EQ(commands.lines[0], kBatchCommand);
  EXPECT_EQ(commands.modes[0], 0);

  const auto boxes = messages();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, record::padded(kFim, 210));
  EXPECT_EQ(boxes[0].value, form::kStyleInformation);
  EXPECT_EQ(log_texts(), (std::vector<std::string>{cp1252("Exportação de cadastros ..."), "Vendedores ...",
                                                   "Produtos ...", "Atualizando tabelas ...",
                                                   "WGET.TXT: OK: 2 vendedores, 2 produtos", kFim}));

  // The form closed and closed both files; the timer never ticks again.
  const auto* opening = runtime.last("01-EXPORTA");
  ASSERT_NE(opening, nullptr);
  EXPECT_GE(opening->closed_ms, 0);
  EXPECT_FALSE(vendedo().is_open);
  EXPECT_FALSE(produto().is_open);
  EXPECT_EQ(vendedo().closes, 1);
  EXPECT_EQ(produto().closes, 1);
  EXPECT_EQ(vendedo().unlocks, 2);
  EXPECT_TRUE(bloq_changes().empty());
}

TEST_F(ExportaFixture, EmptyFilesGiveAnEmptyExportAndStillTheImport) {
  vendedo();
  produto();
  files.put(kKavcmdPath, "old export\n");
  run();
  EXPECT_TRUE(files.exists(kKavcmdPath));
  EXPECT_EQ(kavcmd(), "");
  EXPECT_EQ(commands.lines.size(), 1u);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, record::padded(kFim, 210));
}

TEST_F(ExportaFixture, FailedOpensShowOneErrorAndTouchNothing) {
  struct Case {
    bool vendedo_opens, produto_opens;
    std::string message;
  };
  for (const Case& c : {Case{false, true, "Erro na abertura do VENDEDO.ORB !!!"},
                        Case{true, false, "Erro na abertura do PRODUTO.ORB !!!"},
                        Case{false, false, "Erro na abertura do PRODUTO.ORB !!!"}}) {
    SCOPED_TRACE(c.message);
    ExportaRig f;
    f.add_seller(seller("000001", "A", "B"));
    f.add_product(product("000001", "A", "B", "000000001"));
    f.vendedo().open_status = c.vendedo_opens ? platform::Status::kOk : platform::Status::kNotFound;
    f.produto().open_status = c.produto_opens ? platform::Status::kOk : platform::Status::kBadFile;
    f.files.put(kKavcmdPath, "old export\n");
    f.run();

    const auto boxes = f.messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, record::padded(c.message, 120));
    EXPECT_EQ(boxes[0].value, form::kStyleError);
    EXPECT_EQ(f.kavcmd(), "old export\n");
    // Only the log says which file, where and how.
    std::vector<std::string> logged;
    if (!c.vendedo_opens) logged.push_back("Erro na abertura de \\OrbelaTeknovarium\\KAV\\Arquivos\\VENDEDO.ORB (status 35)");
    if (!c.produto_opens) logged.push_back("Erro na abertura de \\OrbelaTeknovarium\\KAV\\Arquivos\\PRODUTO.ORB (status 39)");
    EXPECT_EQ(f.log_texts(), logged);
    EXPECT_TRUE(f.commands.lines.empty());
    EXPECT_FALSE(f.files.exists(kBatchPath));
    // Both opens were tried; the closing event closed what had opened.
    EXPECT_EQ(f.vendedo().opens, 1);
    EXPECT_EQ(f.produto().opens, 1);
    EXPECT_FALSE(f.vendedo().is_open);
    EXPECT_FALSE(f.produto().is_open);
    EXPECT_EQ(f.vendedo().reads + f.produto().reads, 0);
  }
}

TEST_F(ExportaFixture, AnImportTheWebApplicationDidNotConfirmIsAnErrorNotTheEnd) {
  struct Case {
    std::string answer;
    platform::Status status;
    bool earlier_answer;  // WGET.TXT of an earlier export is still there
    std::string cause;
    bool batch_written_elsewhere = false;  // another program has OrbKavCmd.bat open for writing
  };
  for (const Case& c :
       {Case{"", {}, false, "WGET.TXT vazio"}, Case{"", platform::Status::exited(4), true, "WGET terminou com 4"},
        Case{"", platform::Status::kOverran, false, "WGET terminou com -2"},
        Case{"", platform::Status::kProgramNotFile, false,
             cp1252("C:\\OrbelaTeknovarium\\KAV\\WGET.EXE ausente ou inválido (pasta ou link)")},
        Case{"", {}, false, cp1252("OrbKavCmd.bat não gravado"), true},
        Case{"ERRO: linha 3: separadores demais\n", {}, false, "WGET.TXT: ERRO: linha 3: separadores demais"}}) {
    SCOPED_TRACE(c.cause);
    ExportaRig f;
    f.add_seller(seller("000001", "A", "B"));
    f.import_answer = c.answer;
    f.import_status = c.status;
    if (c.earlier_answer) {
      f.commands.on_run = [&f](std::string_view) { return f.import_status; };  // Wget wrote nothing
      f.files.put(kImportAnswerPath, "OK: 1 vendedores, 0 produtos\n");
    }
    std::unique_ptr<platform::File> writer;
    if (c.batch_written_elsewhere) f.files.open(kBatchPath, platform::OpenMode::output, writer).ignore();
    f.run();
    EXPECT_EQ(f.commands.lines.size(), c.batch_written_elsewhere ? 0u : 1u);

    const auto boxes = f.messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, record::padded(cp1252("Erro na importação dos Cadastros !!!"), 120));
    EXPECT_EQ(boxes[0].value, form::kStyleError);
    const auto logged = f.log_texts();
    ASSERT_GE(logged.size(), 2u);
    EXPECT_EQ(logged[logged.size() - 2], cp1252("Importação não confirmada: ") + c.cause);
    EXPECT_EQ(logged.back(), cp1252("Erro na importação dos Cadastros !!!"));
    EXPECT_EQ(std::count(logged.begin(), logged.end(), kFim), 0);
    // The export itself is complete and stays.
    EXPECT_EQ(lines_of(f.kavcmd()).size(), 1u);
  }
}

TEST_F(ExportaFixture, NoErpFilesAtAllIsAFailedOpen) {
  test::FakePlatform bare{clock, {.files = &files, .clock = &clock, .commands = &commands}};
  ExportaForm bare_form{link, bare.services, "localhost"};
  form::FormSet set;
  set.add(bare_form);
  set.add(log_form);
  ui::headless::HeadlessRuntime rt{set, commands, pacer};
  rt.record_everything();
  rt.run("01-EXPORTA");
  ASSERT_EQ(rt.events("message").size(), 1u);
  EXPECT_EQ(rt.events("message")[0].text, record::padded("Erro na abertura do PRODUTO.ORB !!!", 120));
}

TEST_F(ExportaFixture, AWriteFailureKeepsThePreviousFileAndCallsNoImport) {
  add_seller(seller("000001", "A", "B"));
  add_product(product("000001", "A", "B", "000000001"));
  files.put(kKavcmdPath, "old export\n");
  files.set_fail_writes(true);
  run();
  files.set_fail_writes(false);

  EXPECT_EQ(kavcmd(), "old export\n");
  EXPECT_FALSE(files.exists(kKavcmdTempPath));
  EXPECT_TRUE(commands.lines.empty());
  const auto boxes = messages();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, record::padded(cp1252("Erro na gravação do KAVCMD.TXT !!!"), 120));
  EXPECT_EQ(boxes[0].value, form::kStyleError);
  EXPECT_GE(runtime.last("01-EXPORTA")->closed_ms, 0);
  EXPECT_FALSE(vendedo().is_open);
}

TEST_F(ExportaFixture, AMissingExchangeFolderIsReportedAndLogged) {
  add_seller(seller("000001", "A", "B"));
  files.remove_directory("C:\\xampp\\htdocs\\Comandas\\FILES");
  run();
  EXPECT_TRUE(commands.lines.empty());
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, record::padded(cp1252("Erro na gravação do KAVCMD.TXT !!!"), 120));
  EXPECT_EQ(log_texts(), (std::vector<std::string>{cp1252("Exportação de cadastros ..."),
                                                   cp1252("Erro na gravação do KAVCMD.TXT !!!")}));
}

TEST_F(ExportaFixture, AFailedReadEndsTheExportInsteadOfRepeatingARecord) {
  add_seller(seller("000001", "A", "B"));
  add_product(product("000001", "A", "B", "000000001"));
  add_product(product("000002", "A", "B", "000000001"));
  produto().read_status["000002"] = platform::Status::kFailed;
  files.put(kKavcmdPath, "old export\n");
  run();

  EXPECT_EQ(kavcmd(), "old export\n");
  EXPECT_FALSE(files.exists(kKavcmdTempPath));
  EXPECT_TRUE(commands.lines.empty());
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, record::padded("Erro na leitura do PRODUTO.ORB !!!", 120));
  EXPECT_EQ(messages()[0].value, form::kStyleError);
  EXPECT_EQ(log_texts().back(), "Erro na leitura do PRODUTO.ORB !!!");
  EXPECT_EQ(produto().reads, 2);

  // A start that fails (other than finding no record) is a failed read too.
  ExportaRig f;
  f.add_seller(seller("000001", "A", "B"));
  f.vendedo().start_status = platform::Status::kFailed;
  f.run();
  ASSERT_EQ(f.messages().size(), 1u);
  EXPECT_EQ(f.messages()[0].text, record::padded("Erro na leitura do VENDEDO.ORB !!!", 120));
  EXPECT_FALSE(f.files.exists(kKavcmdPath));
}

TEST_F(ExportaFixture, ALockedRecordShowsTheFrameUntilItIsFreeAndIsExportedOnce) {
  add_seller(seller("000001", "A", "B"));
  add_seller(seller("000002", "C", "D"));
  add_seller(seller("000003", "E", "F"));
  add_product(product("000001", "A", "B", "000000001"));
  vendedo().locked_reads["000002"] = 3;
  produto().locked_reads["000001"] = 1;
  run();

  const auto lines = lines_of(kavcmd());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].substr(0, 14), "VENDEDO;000001");
  EXPECT_EQ(lines[1].substr(0, 14), "VENDEDO;000002");
  EXPECT_EQ(lines[2].substr(0, 14), "VENDEDO;000003");
  EXPECT_EQ(lines[3].substr(0, 14), "PRODUTO;000001");
  // Shown (and repainted) once per wait, hidden when the record came free;
  // between the tries the form waited through the runtime (the windows stay
  // drawn), and time went on meanwhile.
  using Change = std::pair<std::string, int>;
  const Change wait{"wait", kLockPauseMs};
  EXPECT_EQ(bloq_changes(), (std::vector<Change>{{"visible", 1}, {"refresh", 0}, wait, wait, wait, {"visible", 0},
                                                 {"refresh", 0}, {"visible", 1}, {"refresh", 0}, wait,
                                                 {"visible", 0}, {"refresh", 0}}));
  const auto waits = runtime.events("wait");
  ASSERT_EQ(waits.size(), 4u);
  EXPECT_EQ(waits[2].ms - waits[1].ms, kLockPauseMs);
  EXPECT_FALSE(runtime.last("01-EXPORTA")->control("Frm_Bloq").visible);
}

TEST_F(ExportaFixture, ASecondExportReplacesTheFirst) {
  add_seller(seller("000001", "A", "B"));
  add_product(product("000001", "A", "B", "000000001"));
  run();
  ASSERT_EQ(lines_of(kavcmd()).size(), 2u);

  vendedo().records.clear();
  add_product(product("000002", "C", "D", "000000002"));
  run();
  const auto lines = lines_of(kavcmd());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 14), "PRODUTO;000001");
  EXPECT_EQ(lines[1].substr(0, 14), "PRODUTO;000002");
  EXPECT_EQ(files.contents(kBatchPath), import_batch_line("localhost") + std::string(platform::kLineEnd));
  EXPECT_EQ(commands.lines.size(), 2u);
  EXPECT_EQ(messages().size(), 2u);
  EXPECT_EQ(vendedo().opens, 2);
  EXPECT_EQ(vendedo().closes, 2);
}

}  // namespace
}  // namespace kav::master_export
