#include <gtest/gtest.h>

#include <cstdio>

#include "platform/file_system.h"
#include "printing/printer_profiles.h"
#include "record/cp1252.h"
#include "record/ini_text.h"
#include "settings/kav_settings.h"

namespace kav::settings {
namespace {

using printing::PrinterProfiles;
using printing::PrintMode;
using platform::print::Buzzer;
using platform::print::CodePage;
using platform::print::Cut;

PrinterProfiles profiles(std::string_view text) { return PrinterProfiles(parse_settings(text, kav_schema())); }

bool names(const std::vector<std::string>& problems, std::string_view what) {
  for (const auto& p : problems) {
    if (p.find(what) != std::string::npos) return true;
  }
  return false;
}

TEST(IniText, SectionsKeysCommentsQuotesAndBadLines) {
  const auto ini = record::parse_ini(
      "\xEF\xBB\xBF; comment\r\n"
      "loose = 1\n"
      "[impressora COZINHA]\r\n"
      "  modo =  escpos  \n"
      "# another\n"
      "endereco = \" a b \"\n"
      "this is no line\n"
      "[broken\n");
  ASSERT_EQ(ini.sections.size(), 2U);
  EXPECT_EQ(ini.sections[0].entries.at(0).key, "loose");
  EXPECT_EQ(ini.sections[1].name, "impressora COZINHA");
  EXPECT_EQ(ini.sections[1].line, 3);
  EXPECT_EQ(ini.sections[1].entries.at(0).value, "escpos");
  EXPECT_EQ(ini.sections[1].entries.at(1).value, " a b ");
  EXPECT_EQ(ini.bad_lines, (std::vector<int>{7, 8}));
}

TEST(IniText, Utf8IsTakenAsWindows1252AndWindows1252AsItStands) {
  EXPECT_EQ(record::parse_ini("[impressora SAL\xC3\x83O]\n").sections[1].name, "impressora SAL\xC3O");
  EXPECT_EQ(record::parse_ini("[impressora SAL\xC3O]\n").sections[1].name, "impressora SAL\xC3O");
}

TEST(PrinterProfilesTest, NoFileOrNoSectionIsTheDriver) {
  const PrinterProfiles none;
  EXPECT_FALSE(none.found());
  EXPECT_EQ(none.of("COZINHA").mode, PrintMode::driver);
  const auto p = profiles("[impressora BAR]\nmodo = escpos\n");
  EXPECT_TRUE(p.problems().empty());
  EXPECT_EQ(p.of("COZINHA").mode, PrintMode::driver);
  EXPECT_EQ(p.of("bar  ").mode, PrintMode::escpos);  // case and trailing blanks as the spoolers compare
}

TEST(PrinterProfilesTest, DefaultsAndEveryKey) {
  const auto d = profiles("[impressora BAR]\nmodo = escpos\n").of("BAR").escpos;
  EXPECT_EQ(d.columns, 48);
  EXPECT_EQ(d.code_page, CodePage::cp860);
  EXPECT_EQ(d.cut, Cut::partial);
  EXPECT_EQ(d.feed_lines, 4);
  EXPECT_EQ(d.buzzer, Buzzer::none);
  EXPECT_TRUE(d.big_number);
  EXPECT_EQ(d.copies, 1);

  const auto p = profiles(
      "[Impressora COZINHA]\nMODO = ESCPOS-REDE\ncolunas=42\npagina_codigo=wpc1252\ncorte=total\navanco=0\n"
      "aviso_sonoro=esc-parenteses-a\nnumero_grande=nao\ncopias=5\nendereco=192.168.0.50:9100\n");
  ASSERT_TRUE(p.problems().empty()) << p.problems().front();
  const auto c = p.of("COZINHA");
  EXPECT_EQ(c.mode, PrintMode::network);
  EXPECT_EQ(c.host, "192.168.0.50");
  EXPECT_EQ(c.port, 9100);
  EXPECT_EQ(c.escpos.columns, 42);
  EXPECT_EQ(c.escpos.code_page, CodePage::wpc1252);
  EXPECT_EQ(c.escpos.cut, Cut::full);
  EXPECT_EQ(c.escpos.feed_lines, 0);
  EXPECT_EQ(c.escpos.buzzer, Buzzer::esc_parenteses_a);
  EXPECT_FALSE(c.escpos.big_number);
  EXPECT_EQ(c.escpos.copies, 5);
}

// Whatever is wrong in a printer's section, that printer prints through the
// driver, and the log is told what and where.
TEST(PrinterProfilesTest, RefusalsKeepTheDriverAndNameTheProblem) {
  struct Case {
    const char* body;
    const char* named;
  };
  const Case cases[] = {
      {"modo = escpos\ncor = azul\n", "chave desconhecida \"cor\""},
      {"modo = laser\n", "valor \"laser\" de \"modo\""},
      {"modo = escpos\ncolunas = 40\n", "\"colunas\""},
      {"modo = escpos\ncopias = 6\n", "\"copias\""},
      {"modo = escpos\ncopias = 0\n", "\"copias\""},
      {"modo = escpos\navanco = -1\n", "\"avanco\""},
      {"modo = escpos\nmodo = escpos\n", "repetida"},
      {"modo = escpos-rede\n", "sem endere"},
      {"modo = escpos-rede\nendereco = 192.168.0.50\n", "\"endereco\""},
      {"modo = escpos-rede\nendereco = host:99999\n", "\"endereco\""},
      {"modo = escpos\nendereco = host:9100\n", "escpos-rede"},
  };
  for (const auto& c : cases) {
    const auto p = profiles(std::string("[impressora BAR]\n") + c.body + "[impressora CAIXA]\nmodo = escpos\n");
    EXPECT_EQ(p.of("BAR").mode, PrintMode::driver) << c.body;
    EXPECT_EQ(p.of("CAIXA").mode, PrintMode::escpos) << c.body;  // another printer keeps its own
    EXPECT_TRUE(names(p.problems(), c.named)) << c.body;
    EXPECT_TRUE(names(p.problems(), "linha ")) << c.body;
    EXPECT_EQ(p.refused(), std::vector<std::string>{"BAR"}) << c.body;
    EXPECT_TRUE(names(p.problems(), record::cp1252("Impressora BAR: configuração recusada"))) << c.body;
  }
}

TEST(PrinterProfilesTest, UnknownSectionsAndStrayLinesAreNamedButChangeNothing) {
  const auto p = profiles("modo = escpos\n[impressoras BAR]\nmodo = escpos\n[impressora]\n[impressora BAR]\n"
                          "modo = escpos\n[impressora bar]\nmodo = driver\nnonsense\n");
  EXPECT_EQ(p.of("BAR").mode, PrintMode::escpos);  // the first section of a name counts
  EXPECT_TRUE(names(p.problems(), record::cp1252("fora de uma seção")));
  EXPECT_TRUE(names(p.problems(), record::cp1252("seção desconhecida [impressoras BAR]")));
  EXPECT_TRUE(names(p.problems(), record::cp1252("seção desconhecida [impressora]")));
  EXPECT_TRUE(names(p.problems(), record::cp1252("seção repetida [impressora bar]")));
  EXPECT_TRUE(names(p.problems(), record::cp1252("linha 9: linha não entendida")));
}

TEST(SettingsFile, ReadFromTheInstallationFolder) {
  platform::MemoryFileSystem files;
  EXPECT_FALSE(read_kav_settings(files).found);
  EXPECT_EQ(files.create_directory("C:\\OrbelaTeknovarium\\KAV"), platform::Status::kOk);
  std::unique_ptr<platform::File> f;
  ASSERT_TRUE(files.open(kConfigPath, platform::OpenMode::output, f).ok());
  EXPECT_EQ(f->write("[impressora COZINHA]\r\nmodo = escpos\r\n"), platform::Status::kOk);
  EXPECT_EQ(f->close(), platform::Status::kOk);
  const PrinterProfiles p(read_kav_settings(files));
  EXPECT_TRUE(p.found());
  EXPECT_EQ(p.of("COZINHA").mode, PrintMode::escpos);
}

// A new kind of section is one row of a table, read with its defaults.
TEST(SettingsFile, DeclaredSectionsNeedNoNewParser) {
  static constexpr KeySpec kKeys[] = {{"dias_tickets", ValueKind::number, {}, 1, 3650, "90"}};
  static constexpr SectionSpec kSchema[] = {{"retencao", false, kKeys}};
  const auto none = parse_settings("", kSchema);
  EXPECT_EQ(none.value(kSchema, "retencao", {}, "dias_tickets"), "90");
  const auto set = parse_settings("[retencao]\ndias_tickets = 30\n", kSchema);
  EXPECT_TRUE(set.problems.empty());
  EXPECT_EQ(set.value(kSchema, "retencao", {}, "dias_tickets"), "30");
  const auto bad = parse_settings("[retencao]\ndias_tickets = 0\n[retencao X]\n", kSchema);
  EXPECT_EQ(bad.value(kSchema, "retencao", {}, "dias_tickets"), "90");
  EXPECT_EQ(bad.problems.size(), 2U);
}

}  // namespace
}  // namespace kav::settings

namespace kav::settings {
namespace {

// The installer's sample is all comments: laid out, it changes nothing.
TEST(SettingsFile, TheInstallersSampleChangesNothing) {
  std::FILE* f = std::fopen(KAV_SOURCE_DIR "/cmake/kavcomanda.ini", "rb");
  ASSERT_NE(f, nullptr);
  std::string text;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  const Settings s = parse_settings(text, kav_schema());
  EXPECT_TRUE(s.sections.empty());
  EXPECT_TRUE(s.problems.empty());
  // Its examples, uncommented, are taken as they stand.
  std::string examples = text.substr(text.find("; Exemplos:"));
  for (std::size_t at; (at = examples.find("\r\n; ")) != std::string::npos;) examples.replace(at, 4, "\r\n");
  const printing::PrinterProfiles p(parse_settings(examples, kav_schema()));
  EXPECT_TRUE(p.problems().empty());
  EXPECT_EQ(p.of("COZINHA").mode, printing::PrintMode::network);
  EXPECT_EQ(p.of("BAR").escpos.columns, 42);
}

}  // namespace
}  // namespace kav::settings
