#include "platform/command/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kav::platform::command {
namespace {

using Words = std::vector<std::string>;

Words split(std::string_view line, bool in_batch = true) {
  Words words;
  std::string error;
  EXPECT_TRUE(split_words(line, in_batch, words, error)) << line << ": " << error;
  return words;
}

std::string refusal(std::string_view line, bool in_batch = true) {
  Words words;
  std::string error;
  EXPECT_FALSE(split_words(line, in_batch, words, error)) << line;
  return error;
}

TEST(CommandLineTest, QuotesGroupWordsAndAreRemoved) {
  EXPECT_EQ(split("\\Kav\\WGET \"http://h/p?A=B\"     --no-cache"),
            (Words{"\\Kav\\WGET", "http://h/p?A=B", "--no-cache"}));
  EXPECT_EQ(split("a\t \"two words\" --x=\"C:\\a b\\c\" \"\" end"),
            (Words{"a", "two words", "--x=C:\\a b\\c", "", "end"}));
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(split("a \"b c"), (Words{"a", "b c"}));
}

TEST(CommandLineTest, ShellSyntaxIsOrdinaryTextAndOperatorsAreRefused) {
  // Not special to the command interpreter: passed on as words.
  EXPECT_EQ(split("p a; touch X $(touch Y) `touch Z`"),
            (Words{"p", "a;", "touch", "X", "$(touch", "Y)", "`touch", "Z`"}));
  // Inside quotes the operators are plain characters.
  EXPECT_EQ(split("p \"a & b | c > d\""), (Words{"p", "a & b | c > d"}));
  for (const char* line : {"p a & touch X", "p a | q", "p > out", "p < in", "p ^&"})
    EXPECT_NE(refusal(line), "") << line;
  // Batch files write a percent sign as %%; anything else would be a variable.
  EXPECT_EQ(split("p [%%s]"), (Words{"p", "[%s]"}));
  EXPECT_NE(refusal("p %PATH%"), "");
  EXPECT_NE(refusal("p \"%1\""), "");
  EXPECT_NE(refusal("p %%", false), "");
}

TEST(CommandLineTest, UnderstandsTheTwoFormsInAnyCaseAndBlankFilled) {
  Request r = parse_command_line("cmd.exe /c del c:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET /q" + std::string(8000, ' '));
  EXPECT_EQ(r.kind, Request::Kind::remove);
  EXPECT_EQ(r.path, "c:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET");

  r = parse_command_line("CMD.EXE /C C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat");
  EXPECT_EQ(r.kind, Request::Kind::batch);
  EXPECT_EQ(r.path, "C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.bat");

  for (const char* line : {
           "", "WGET http://h/", "CMD.EXE /K C:\\T\\X.BAT", "CMD.EXE /C ECHO hello",
           "CMD.EXE /C C:\\T\\X.EXE", "CMD.EXE /C X.BAT", "CMD.EXE /C C:\\T\\X.BAT extra",
           "CMD.EXE /C C:\\T\\X.BAT & DEL C:\\Y /Q", "CMD.EXE /C DEL C:\\T\\X.RET", "CMD.EXE /C DEL C:\\T\\*.RET /Q",
           "CMD.EXE /C DEL X.RET /Q", "CMD.EXE /C DEL /S C:\\T /Q"}) {
    r = parse_command_line(line);
    EXPECT_EQ(r.kind, Request::Kind::refused) << line;
    EXPECT_NE(r.reason, "") << line;
  }
}

TEST(CommandLineTest, BatchLinesDropLineEndsTrailingBlanksAndEmptyLines) {
  EXPECT_EQ(batch_lines("one   \r\n\r\n   \n  two\tx \nthree"), (Words{"one", "  two\tx", "three"}));
  EXPECT_EQ(batch_lines(""), Words{});
}

TEST(CommandLineTest, WindowsPathsInArgumentsBecomeHostPaths) {
  const auto host = [](std::string_view p) { return "/root[" + std::string(p) + "]"; };
  EXPECT_EQ(map_argument("--output-document=C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET", host),
            "--output-document=/root[C:\\OrbelaTeknovarium\\Temp\\GET_KAVCMD.RET]");
  EXPECT_EQ(map_argument("\\xampp\\htdocs", host), "/root[\\xampp\\htdocs]");
  EXPECT_EQ(map_argument("d:\\x", host), "/root[d:\\x]");
  // Relative names, addresses and plain words stay as written.
  EXPECT_EQ(map_argument("--output-document=WGET.TXT", host), "--output-document=WGET.TXT");
  EXPECT_EQ(map_argument("http://h/Comandas/GET_KAVCMD.php?COMANDO=CMD_IMP", host),
            "http://h/Comandas/GET_KAVCMD.php?COMANDO=CMD_IMP");
  EXPECT_EQ(map_argument("x=C:\\a", host), "x=C:\\a");
  EXPECT_EQ(map_argument("C:", host), "C:");
  // Windows-1252 reaches the program as UTF-8.
  EXPECT_EQ(map_argument("A\xE7\xE3o", host), "Ação");
}

}  // namespace
}  // namespace kav::platform::command
