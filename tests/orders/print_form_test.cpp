// The comanda print form: FORMPRT.PRT byte for byte, and the print record.
#include <gtest/gtest.h>

#include "orders/print_form.h"
#include "platform/line_end.h"
#include "record/cp1252.h"
#include "support/fakes.h"

namespace kav::orders {
namespace {

using platform::kLineEnd;

std::string line(std::string_view text) { return record::padded(text, 80) + std::string(kLineEnd); }

// The line PRTDRV for a 20-character printer entry, without its blanks to 80.
std::string prtdrv(std::string_view entry) {
  return std::string(record::trim_right(arqcfg_records(record::padded(entry, 20))[2]));
}

TEST(PrinterInformationFile, WrittenByteForByte) {
  platform::MemoryFileSystem files;
  test::FakePrintService service;
  PrintForm form(files, service);
  form.proc_cfgimp(record::padded("COZINHA", 20));

  const std::string expected = line("* Orbela Teknovarium Ltda - Comanda") +
                               line("PRTID        \"Impress\xe3o de Comanda\"") +
                               line("PRTDRV       \"COZINHA\"") +
                               line("PRTFORM      \"PO\"") +
                               line("FORMKIND      C") +
                               line("FORMSIZE      A4") +
                               line("PRTDIALOG     N") +
                               line("PREVIEW       1") +
                               line("FONTFACE     \"Courier New\"");
  EXPECT_EQ(files.contents(kArqcfgPath), expected);
  EXPECT_EQ(form.w_formato(), "FCOMANDA");
  // Quoted values open in column 14, the others stand in column 15.
  const auto records = arqcfg_records(record::padded("COZINHA", 20));
  for (std::size_t i : {1, 2, 3, 8}) EXPECT_EQ(records[i].substr(12, 2), " \"") << records[i];
  for (std::size_t i : {4, 5, 6, 7}) EXPECT_EQ(records[i].substr(13, 2).front(), ' ') << records[i];
  for (std::size_t i : {4, 5, 6, 7}) EXPECT_NE(records[i][14], ' ') << records[i];
  for (const auto& r : records) EXPECT_EQ(r.size(), 80U);
  EXPECT_EQ(record::trim_right(records[1]).size(), 35U);  // "ã" is one byte
}

TEST(PrinterInformationFile, RewrittenForEveryJob) {
  platform::MemoryFileSystem files;
  test::FakePrintService service;
  PrintForm form(files, service);
  form.proc_cfgimp(record::padded("BAR", 20));
  form.proc_cfgimp(record::padded("COPA", 20));
  EXPECT_NE(files.contents(kArqcfgPath).find("PRTDRV       \"COPA\""), std::string::npos);
  EXPECT_EQ(files.contents(kArqcfgPath).find("BAR"), std::string::npos);
}

TEST(PrinterInformationFile, PrinterNameCutBeforeTheFirstPairOfBlanks) {
  EXPECT_EQ(prtdrv("COZINHA QUENTE 2"), "PRTDRV       \"COZINHA QUENTE 2\"");  // single blanks stay
  EXPECT_EQ(prtdrv("COZINHA  FRIA"), "PRTDRV       \"COZINHA\"");
  EXPECT_EQ(prtdrv("ABCDEFGHIJKLMNOPQRST"), "PRTDRV       \"ABCDEFGHIJKLMNOPQRST\"");
  EXPECT_EQ(prtdrv("ABCDEFGHIJKLMNOPQRS "), "PRTDRV       \"ABCDEFGHIJKLMNOPQRS \"");
  EXPECT_EQ(prtdrv(""), "PRTDRV       \"\"");
  EXPECT_EQ(prtdrv(" X"), "PRTDRV       \" X\"");
  EXPECT_EQ(prtdrv("  X"), "PRTDRV       \"\"");
  EXPECT_EQ(prtdrv("C" "\xe7" "OZINHA"), "PRTDRV       \"C\xe7OZINHA\"");  // Windows-1252 kept
}

TEST(PrinterInformationFile, ControlCharactersAndQuotesInANameAreWrittenAsBlanks) {
  EXPECT_EQ(prtdrv("BAR\"X"), "PRTDRV       \"BAR X\"");
  EXPECT_EQ(prtdrv("BAR\r\nX"), "PRTDRV       \"BAR  X\"");  // the pair comes from the mending, not the name
  EXPECT_EQ(prtdrv(std::string("A\0B", 3)), "PRTDRV       \"A B\"");
  EXPECT_EQ(prtdrv("A\tB\x7f"), "PRTDRV       \"A B \"");

  platform::MemoryFileSystem files;
  test::FakePrintService service;
  PrintForm form(files, service);
  form.proc_cfgimp(record::padded("BAR\nPRTDRV \"X", 20));
  const std::string written = files.contents(kArqcfgPath);
  EXPECT_EQ(written.size(), 9 * (80 + kLineEnd.size()));  // still nine lines
}

TEST(PrintRecord, FieldsSitAtTheirPositions) {
  const record::Field fields[] = {prt_numcmd,     prt_compl,  prt_texto, prt_pessoas,
                                  prt_descricao,  prt_obs,    prt_impressora, prt_codigo,
                                  prt_quantidade, prt_valor,  prt_total, prt_linha_tot};
  std::size_t next = 1;
  for (const auto& f : fields) {
    EXPECT_EQ(f.pos, next + 5) << "each field follows a 5-character control area";
    next = f.end() + 1;
  }
  EXPECT_EQ(next - 1, kRegImpressaoLength);
}

TEST(PrintRecord, GroupsWriteTheWholeRecordAndFieldsKeepTheirValues) {
  platform::MemoryFileSystem files;
  test::FakePrintService service;
  PrintForm form(files, service);
  auto& reg = form.reg_impressao();

  form.proc_cfgimp(std::string(20, ' '));
  form.open().ignore();
  reg.set(prt_codigo, "123456");
  form.write(grupo::valcmd).ignore();
  form.close().ignore();

  form.proc_cfgimp(record::padded("BAR", 20));
  form.open().ignore();
  reg.set(prt_numcmd, "0012");
  form.write(grupo::traco).ignore();
  form.write(grupo::orbela).ignore();
  form.close().ignore();

  ASSERT_EQ(service.jobs.size(), 2U);
  EXPECT_EQ(service.jobs[1].form, "FCOMANDA");
  EXPECT_EQ(service.jobs[1].info_path, kArqcfgPath);
  const auto& writes = service.jobs[1].writes;
  ASSERT_EQ(writes.size(), 2U);
  EXPECT_EQ(writes[0].group, "TRACO   ");
  EXPECT_EQ(writes[1].group, "ORBELA  ");
  EXPECT_EQ(writes[1].record.size(), 296U);
  EXPECT_EQ(writes[1].record.substr(204, 6), "123456");  // from the job before
  EXPECT_EQ(writes[1].record.substr(5, 4), "0012");
  EXPECT_EQ(form.w_grupo(), "ORBELA  ");
}

TEST(PrintRecord, PeopleShownOnlyWhenNotZero) {
  platform::MemoryFileSystem files;
  test::FakePrintService service;
  PrintForm form(files, service);
  auto& reg = form.reg_impressao();
  form.move_pessoas("04");
  EXPECT_EQ(reg.get(prt_pessoas), "Pessoas :04         ");
  for (std::string_view zero : {"00", "  ", "0 ", "x0"}) {
    form.move_pessoas(zero);
    EXPECT_TRUE(record::is_blank(reg.get(prt_pessoas))) << zero;
  }
  // The characters sent when they are digits and blanks; otherwise the
  // number they count as, so the ticket never shows one number and divides
  // by another.
  form.move_pessoas(" 4");
  EXPECT_EQ(reg.get(prt_pessoas), "Pessoas : 4         ");
  form.move_pessoas("4x");
  EXPECT_EQ(reg.get(prt_pessoas), "Pessoas :40         ");
}

}  // namespace
}  // namespace kav::orders
