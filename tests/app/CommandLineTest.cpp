#include "app/CommandLine.h"

#include <gtest/gtest.h>

TEST(CommandLineTokens, LastPathTokenWinsAndPercent20BecomesBlank) {
  CommandLine line = ParseCommandLine("/con  /b C:\\First C:\\My%20Backups%20");
  EXPECT_EQ("C:\\My Backups ", line.backupPath);
  EXPECT_TRUE(line.Has("/b"));
  EXPECT_TRUE(line.Has("/con"));
  EXPECT_EQ(2u, line.switches.size());
}

TEST(CommandLineTokens, QuotesAndTabsHaveNoMeaning) {
  CommandLine line = ParseCommandLine("/con /b \"C:\\My Backups\"");
  EXPECT_EQ("Backups\"", line.backupPath);
  line = ParseCommandLine("/con\t/b");
  EXPECT_EQ("/con\t/b", line.switches.at(0));
  EXPECT_EQ(1u, line.switches.size());
}

TEST(CommandLineTokens, OneCharacterTokenIsASwitchNotAPath) {
  CommandLine line = ParseCommandLine("/con x");
  EXPECT_TRUE(line.backupPath.empty());
  EXPECT_TRUE(line.Has("x"));
}

TEST(CommandLineTokens, SwitchesAreCaseSensitiveAndKeptAsTyped) {
  CommandLine line = ParseCommandLine("/con /B /Sch /del");
  EXPECT_FALSE(line.Has("/b"));
  EXPECT_TRUE(line.Has("/B"));
  EXPECT_FALSE(line.Has("/sch"));
  EXPECT_TRUE(line.Has("/del"));
}

TEST(CommandLineCompression, ColonFormsSetTheLevel) {
  struct Case {
    const char* token;
    bool compress;
    int level;
  } cases[] = {
      {"/c:7", true, 7},  {"/c:", true, -1}, {"/c:12", true, -1},
      {"/c:a", true, 'a' - '0'}, {"/c", false, -1}, {"/C:5", false, -1},
  };
  for (const Case& c : cases) {
    CommandLine line = ParseCommandLine(std::string("/con ") + c.token);
    EXPECT_EQ(c.compress, line.compress) << c.token;
    EXPECT_EQ(c.level, line.level) << c.token;
  }
  EXPECT_TRUE(ParseCommandLine("/c:3").Has("/c"));
  EXPECT_FALSE(ParseCommandLine("/c:3").Has("/c:3"));
}

TEST(CommandLineCompression, HighCharacterIsAnOutOfRangeLevel) {
  CommandLine line = ParseCommandLine("/c:\xE9");
  EXPECT_GT(line.level, 9);
}

TEST(CommandLinePassword, TextAfterColonIsThePassword) {
  CommandLine line = ParseCommandLine("/con /p:se%20cret");
  EXPECT_TRUE(line.passwordGiven);
  EXPECT_EQ("se%20cret", line.password);  // only paths and keys decode %20
  EXPECT_TRUE(line.Has("/p"));
  line = ParseCommandLine("/con /p:");
  EXPECT_TRUE(line.passwordGiven);
  EXPECT_TRUE(line.password.empty());
}

TEST(CommandLineExport, KeyDecodesBlanks) {
  CommandLine line = ParseCommandLine("/con /e:HKEY_CURRENT_USER\\My%20Key out.xml");
  EXPECT_EQ("HKEY_CURRENT_USER\\My Key", line.exportKey);
  EXPECT_EQ("out.xml", line.backupPath);
  EXPECT_TRUE(line.Has("/e"));
  EXPECT_TRUE(ParseCommandLine("/e:").exportKey.empty());
}

TEST(ConsoleLine, JoinsArgumentsAfterTheConsoleSwitch) {
  const char* argv[] = {"backupcmd", "/b", "C:\\My Backups"};
  std::string line;
  ASSERT_TRUE(BuildConsoleLine(3, argv, line));
  EXPECT_EQ("/con /b C:\\My Backups", line);
  ASSERT_TRUE(BuildConsoleLine(1, argv, line));
  EXPECT_EQ("/con", line);
}

TEST(ConsoleLine, RefusesALineThatDoesNotFit) {
  std::string fits(kMaxConsoleLine - 5, 'a');  // "/con " + argument = limit
  std::string tooLong = fits + "a";
  const char* argv1[] = {"backupcmd", fits.c_str()};
  const char* argv2[] = {"backupcmd", tooLong.c_str()};
  std::string line;
  EXPECT_TRUE(BuildConsoleLine(2, argv1, line));
  EXPECT_EQ(kMaxConsoleLine, line.size());
  EXPECT_FALSE(BuildConsoleLine(2, argv2, line));
}
