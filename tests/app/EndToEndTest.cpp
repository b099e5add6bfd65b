// The real programs started as a user or the Task Scheduler would start them.
#include <gtest/gtest.h>

#include <regex>

#include "app/Messages.h"
#include "app/Startup.h"
#include "base/Win32Handle.h"
#include "catalogue/Registry.h"
#include "support/TestSupport.h"

namespace {

std::string Crlf(const std::string& text) { return std::regex_replace(text, std::regex("\n"), "\r\n"); }

std::string BannerAndUsage() {
  std::string text = msg::kBanner;
  for (const char* line : msg::kUsage) text += line;
  return Crlf(text);
}

class Programs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateRegistryKey(kInstallKey));
    DeleteKeyTree(kScheduleKey);
  }
  void TearDown() override { CreateRegistryKey(kInstallKey); }
  CTemporaryFolder temp;  // the children's temporary folder too
};

TEST_F(Programs, ConsoleProgramPrintsBannerAndUsage) {
  Finished run = RunProgram("backupcmd.exe", "");
  EXPECT_EQ(0u, run.status);
  EXPECT_EQ(BannerAndUsage(), run.output);

  run = RunProgram("backupcmd.exe", "/B x");
  EXPECT_EQ(0u, run.status);
  EXPECT_EQ(BannerAndUsage(), run.output);
}

TEST_F(Programs, WindowedProgramWritesConsoleModeToInheritedOutput) {
  Finished run = RunProgram("backup.exe", "/con /h x");
  EXPECT_EQ(0u, run.status);
  EXPECT_EQ(BannerAndUsage(), run.output);
}

TEST_F(Programs, RefusedStartsEndWithStatusOne) {
  DeleteKeyTree(kInstallKey);
  Finished run = RunProgram("backupcmd.exe", "/b C:\\x");
  EXPECT_EQ(1u, run.status);
  EXPECT_EQ("Program not installed. Please run the installer!\r\n", run.output);
  ASSERT_TRUE(CreateRegistryKey(kInstallKey));

  CHandle running(CreateMutexA(NULL, FALSE, kMutexName));
  run = RunProgram("backupcmd.exe", "/b C:\\x");
  EXPECT_EQ(1u, run.status);
  EXPECT_EQ("Quillmark is already running!\r\n", run.output);
}

TEST_F(Programs, ArgumentsTooLongAreRefusedWhole) {
  Finished run = RunProgram("backupcmd.exe", "/b C:\\" + std::string(1100, 'x'));
  EXPECT_EQ(1u, run.status);
  EXPECT_EQ(Crlf(msg::kLineTooLong), run.output);
}

TEST_F(Programs, ScheduledRunWithoutFolderLogsTheUsage) {
  Finished run = RunProgram("backup.exe", "/con /sch");
  EXPECT_EQ(0u, run.status);
  EXPECT_TRUE(run.output.empty()) << run.output;
  std::string log = ReadWholeFile(temp.Path() + "QMARK.log");
  std::string expected = Crlf(std::string("T: ") + msg::kBanner + "\n\n");
  for (const char* line : msg::kUsage) expected += Crlf("T: " + std::string(line) + "\n\n");
  EXPECT_EQ(expected, std::regex_replace(log, std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d: )"), "T: "));
}

TEST_F(Programs, ConsoleQuestionsReadKeysFromAPipe) {
  EXPECT_EQ("Question?\r\n([Y]es/[N]o)\r\nanswer=6\r\n", RunProgram("ask_probe.exe", "yesno", "xqY").output);
  EXPECT_EQ("Question?\r\n([Y]es/[N]o)\r\nanswer=7\r\n", RunProgram("ask_probe.exe", "yesno").output);
  EXPECT_EQ("Question?\r\n([A]bort/[R]etry/[I]gnore)\r\nanswer=3\r\n",
            RunProgram("ask_probe.exe", "ari").output);
  std::string overwrite = RunProgram("ask_probe.exe", "overwrite", "L").output;
  EXPECT_NE(std::string::npos, overwrite.find("[C]ancel)\r\nresult=1 answer=2\r\n")) << overwrite;
  overwrite = RunProgram("ask_probe.exe", "overwrite").output;
  EXPECT_NE(std::string::npos, overwrite.find("result=0 answer=0")) << overwrite;
}

}  // namespace
