#include "base/Interaction.h"

#include <gtest/gtest.h>

#include <regex>

#include "base/Flags.h"
#include "support/TestSupport.h"

namespace {

class ConsoleQuestion : public ::testing::Test {
 protected:
  void SetUp() override { SetWizardMode(false); }
  void TearDown() override {
    CloseSystemOperations();
    ResetFlags();
  }
  CTemporaryFolder temp;
  CScriptedInteraction ui;
};

TEST_F(ConsoleQuestion, KeysAnswerWithoutRegardToCaseAndOthersAreIgnored) {
  ui.QueueKeys("x7Y");
  EXPECT_EQ(IDYES, Ask(NULL, "Continue?", "Quillmark", MB_YESNO));
  EXPECT_EQ("Continue?\n([Y]es/[N]o)\n", ui.output);
  EXPECT_EQ(3, ui.keysRead);

  ui.QueueKeys("n");
  EXPECT_EQ(IDNO, Ask(NULL, "", "Quillmark", MB_YESNO | MB_ICONWARNING));
  ui.QueueKeys("yO");
  EXPECT_EQ(IDOK, Ask(NULL, "", "Quillmark", MB_OKCANCEL));
  ui.QueueKeys("C");
  EXPECT_EQ(IDCANCEL, Ask(NULL, "", "Quillmark", MB_OKCANCEL));
  ui.QueueKeys("r");
  EXPECT_EQ(IDRETRY, Ask(NULL, "", "Quillmark", MB_ABORTRETRYIGNORE));
  ui.QueueKeys("A");
  EXPECT_EQ(IDABORT, Ask(NULL, "", "Quillmark", MB_ABORTRETRYIGNORE));
  ui.QueueKeys("i");
  EXPECT_EQ(IDIGNORE, Ask(NULL, "", "Quillmark", MB_ABORTRETRYIGNORE));
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(ConsoleQuestion, StylesWithCancelAreAskedAsOkCancel) {
  ui.QueueKeys("yo");
  EXPECT_EQ(IDOK, Ask(NULL, "Q", "Quillmark", MB_YESNOCANCEL));
  EXPECT_EQ("Q\n([O]k/[C]ancel)\n", ui.output);
}

TEST_F(ConsoleQuestion, NoticeWaitsForAnyOneKey) {
  ui.QueueKeys("zq");
  EXPECT_EQ(IDOK, Ask(NULL, "Note", "Quillmark", MB_OK | MB_ICONSTOP));
  EXPECT_EQ("Note\n", ui.output);
  EXPECT_EQ(1, ui.keysRead);
}

TEST_F(ConsoleQuestion, ClosedInputTakesTheAnswerThatChangesNothing) {
  EXPECT_EQ(IDNO, Ask(NULL, "", "Quillmark", MB_YESNO));
  EXPECT_EQ(IDCANCEL, Ask(NULL, "", "Quillmark", MB_OKCANCEL));
  EXPECT_EQ(IDABORT, Ask(NULL, "", "Quillmark", MB_ABORTRETRYIGNORE));
  EXPECT_EQ(IDOK, Ask(NULL, "", "Quillmark", MB_OK));
  OverwriteAnswer answer = OverwriteNoToAll;
  EXPECT_FALSE(AskOverwrite("C:\\a.txt", answer));
  EXPECT_EQ(OverwriteNoToAll, answer);
}

TEST_F(ConsoleQuestion, YesToAllAnswersWithoutReadingAKey) {
  SetYesToAll(true);
  ui.QueueKeys("nnnn");
  EXPECT_EQ(IDYES, Ask(NULL, "Q", "Quillmark", MB_YESNO));
  EXPECT_EQ(IDOK, Ask(NULL, "Q", "Quillmark", MB_OKCANCEL));
  EXPECT_EQ(IDIGNORE, Ask(NULL, "Q", "Quillmark", MB_ABORTRETRYIGNORE));
  EXPECT_EQ(IDOK, Ask(NULL, "Q", "Quillmark", MB_OK));
  EXPECT_EQ(0, ui.keysRead);
  EXPECT_EQ("Q\n([Y]es/[N]o)\nQ\n([O]k/[C]ancel)\nQ\n([A]bort/[R]etry/[I]gnore)\nQ\n", ui.output);
}

TEST_F(ConsoleQuestion, SilentQuestionBecomesTwoLogEntries) {
  ASSERT_TRUE(OpenSystemOperations());
  SetSilent(true);
  SetYesToAll(true);
  EXPECT_EQ(IDYES, Ask(NULL, "Overwrite settings?", "Quillmark", MB_YESNO));
  CloseSystemOperations();
  EXPECT_TRUE(ui.output.empty());
  std::string log = ReadWholeFile(temp.Path() + "QMARK.log");
  EXPECT_TRUE(std::regex_match(
      log, std::regex("\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d: Overwrite settings\\?\r\n\r\n"
                      "\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d: \r\n\\(\\[Y\\]es/\\[N\\]o\\)\r\n"
                      "\r\n\r\n")))
      << log;
}

TEST_F(ConsoleQuestion, LogIsAppendedNeverTruncated) {
  WriteWholeFile(temp.Path() + "QMARK.log", "earlier run\r\n");
  ASSERT_TRUE(OpenSystemOperations());
  WriteLog("Done!\n");
  CloseSystemOperations();
  WriteLog("after close");  // dropped: no log open
  std::string log = ReadWholeFile(temp.Path() + "QMARK.log");
  EXPECT_TRUE(std::regex_match(
      log, std::regex("earlier run\r\n\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d: Done!\r\n\r\n\r\n")))
      << log;
}

TEST_F(ConsoleQuestion, WizardModeShowsAMessageBox) {
  SetWizardMode(true);
  ui.QueueBoxAnswer(IDRETRY);
  HWND owner = reinterpret_cast<HWND>(0x1234);
  EXPECT_EQ(IDRETRY, Ask(owner, "Disk full", "Quillmark", MB_RETRYCANCEL | MB_ICONSTOP));
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ(owner, ui.boxes[0].owner);
  EXPECT_EQ("Disk full", ui.boxes[0].text);
  EXPECT_EQ(static_cast<UINT>(MB_RETRYCANCEL | MB_ICONSTOP), ui.boxes[0].style);
  EXPECT_TRUE(ui.output.empty());
}

TEST_F(ConsoleQuestion, OverwriteKeysMapToAnswers) {
  struct Case {
    char key;
    OverwriteAnswer answer;
  } cases[] = {{'y', OverwriteYes}, {'N', OverwriteNo}, {'a', OverwriteYesToAll},
               {'L', OverwriteNoToAll}};
  for (const Case& c : cases) {
    ui.output.clear();
    ui.QueueKeys(std::string("q") + c.key);
    OverwriteAnswer answer = OverwriteNo;
    EXPECT_TRUE(AskOverwrite("C:\\x.ini", answer)) << c.key;
    EXPECT_EQ(c.answer, answer) << c.key;
    EXPECT_EQ(
        "File C:\\x.ini already exists! Overwrite? ([Y]es/[N]o/Yes to [A]ll/No to A[l]l/[C]ancel)\n",
        ui.output);
  }
}

TEST_F(ConsoleQuestion, OverwriteCancelKeepsTheAnswer) {
  ui.QueueKeys("c");
  OverwriteAnswer answer = OverwriteYes;
  EXPECT_FALSE(AskOverwrite("C:\\x.ini", answer));
  EXPECT_EQ(OverwriteYes, answer);
  EXPECT_EQ('\n', ui.output.back());
}

TEST_F(ConsoleQuestion, OverwriteWithYesToAllAndALongPath) {
  SetYesToAll(true);
  std::string path = "C:\\" + std::string(400, 'p') + "\\end.dat";
  OverwriteAnswer answer = OverwriteNo;
  EXPECT_TRUE(AskOverwrite(path, answer));
  EXPECT_EQ(OverwriteYesToAll, answer);
  EXPECT_EQ("File " + path +
                " already exists! Overwrite? ([Y]es/[N]o/Yes to [A]ll/No to A[l]l/[C]ancel)",
            ui.output);
  EXPECT_EQ(0, ui.keysRead);
}

TEST(Timestamp, PatternLettersAndOtherCharacters) {
  SYSTEMTIME time = {};
  time.wYear = 2005;
  time.wMonth = 3;
  time.wDay = 14;
  time.wHour = 6;
  time.wMinute = 15;
  time.wSecond = 0;
  EXPECT_EQ("14/03/2005 06:15:00", FormatTimestampAt("D/M/Y H:m:s", time));
  EXPECT_EQ("20050314-061500", FormatTimestampAt("YMD-Hms", time));
  EXPECT_EQ("06:15", FormatTimestampAt("H:m", time));
  EXPECT_EQ("at 06h", FormatTimestampAt("at Hh", time));
  EXPECT_EQ(255u, FormatTimestampAt(std::string(300, 'Y'), time).size());
}

TEST(SystemOperations, ProvideTheShellFolderFunction) {
  CTemporaryFolder temp;
  ASSERT_TRUE(OpenSystemOperations());
  FolderPathFunction folderPath = GetFolderPathFunction();
  ASSERT_NE(nullptr, folderPath);
  char windows[MAX_PATH] = "";
  EXPECT_EQ(S_OK, folderPath(NULL, 0x24 /* CSIDL_WINDOWS */, NULL, 0, windows));
  EXPECT_STRCASEEQ("C:\\windows", windows);
  EXPECT_EQ(temp.Path() + "QMARK.log", LogFilePath());
  CloseSystemOperations();
  EXPECT_EQ(nullptr, GetFolderPathFunction());
}

TEST(SystemOperations, HoldOneLogFileAndLetItGoWhenClosed) {
  CTemporaryFolder temp;
  EXPECT_TRUE(OpenSystemOperations());
  EXPECT_TRUE(OpenSystemOperations());
  WriteLog("twice opened");
  // An open log can't be deleted; once closed, nothing may still hold it.
  EXPECT_FALSE(DeleteFileA(LogFilePath().c_str()));
  CloseSystemOperations();
  EXPECT_TRUE(DeleteFileA(LogFilePath().c_str())) << "a log handle was left open";
}

}  // namespace
