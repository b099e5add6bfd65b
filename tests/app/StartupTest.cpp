#include "app/Startup.h"

#include <gtest/gtest.h>

#include <regex>

#include "app/Messages.h"
#include "base/Flags.h"
#include "base/Win32Handle.h"
#include "catalogue/Registry.h"
#include "support/TestSupport.h"
#include "system/Schedule.h"

namespace {

std::string UsageText() {
  std::string text;
  for (const char* line : msg::kUsage) text += line;
  return text;
}

// The log with each entry's timestamp replaced by "T" and CR LF read as LF.
std::string NormalisedLog(const std::string& log) {
  static const std::regex kTimestamp("(^|\n\n)\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d: ");
  std::string text = std::regex_replace(log, std::regex("\r\n"), "\n");
  return std::regex_replace(text, kTimestamp, "$1T: ");
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteKeyTree(kScheduleKey);
    ASSERT_TRUE(CreateRegistryKey(kInstallKey));
    operations.runConsoleBackup = [this](const std::string& folder, bool compress, int level,
                                         bool passwordGiven, const std::string& password) {
      calls.push_back("backup");
      this->folder = folder;
      this->compress = compress;
      this->level = level;
      this->passwordGiven = passwordGiven;
      this->password = password;
      return outcome;
    };
    operations.runConsoleRestore = [this](const std::string& folder, const std::string& password) {
      calls.push_back("restore");
      this->folder = folder;
      this->password = password;
      if (restoreNeedsReboot) SetRebootNeeded(true);
      return outcome;
    };
    operations.importRegistryFile = [this](const std::string& file) {
      calls.push_back("import " + file);
      return importSucceeds;
    };
    operations.exportRegistryKey = [this](const std::string& file, const std::string& key) {
      calls.push_back("export " + key + " > " + file);
      return exportSucceeds;
    };
    operations.reboot = [this] { calls.push_back("reboot"); };
    operations.runWizard = [this] { calls.push_back("wizard"); };
  }
  void TearDown() override {
    DeleteKeyTree(kScheduleKey);
    CreateRegistryKey(kInstallKey);
    ResetFlags();
  }

  int Run(const std::string& line) { return RunStartup(line, operations); }
  std::string Log() { return NormalisedLog(ReadWholeFile(temp.Path() + "QMARK.log")); }
  void SetSchedule(const char* name, const char* value) {
    ASSERT_TRUE(CreateRegistryKey(kScheduleKey));
    ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\" + name, value, 0));
  }

  CTemporaryFolder temp;
  CScriptedInteraction ui;
  StartupOperations operations;
  std::vector<std::string> calls;
  std::string folder, password;
  bool compress = false, passwordGiven = false;
  int level = 0;
  bool importSucceeds = true, exportSucceeds = true, restoreNeedsReboot = false;
  RunOutcome outcome = RunOutcome::Succeeded;
};

const std::string kBanner = msg::kBanner;

TEST_F(StartupTest, NoArgumentsPrintsBannerAndUsage) {
  EXPECT_EQ(0, Run("/con"));
  EXPECT_EQ(kBanner + UsageText(), ui.output);
  EXPECT_TRUE(calls.empty());
}

TEST_F(StartupTest, OperationsNeedAPathAndExactSwitches) {
  const char* lines[] = {"/con /b", "/con /B C:\\x", "/con /bb C:\\x", "/con C:\\x",
                         "/con /? C:\\x", "/con /h C:\\x /b"};
  for (const char* line : lines) {
    ui.output.clear();
    EXPECT_EQ(0, Run(line)) << line;
    EXPECT_EQ(kBanner + UsageText(), ui.output) << line;
  }
  EXPECT_TRUE(calls.empty());
}

TEST_F(StartupTest, BackupGetsDecodedPathAndCompression) {
  EXPECT_EQ(0, Run("/con /b C:\\My%20Backups /c:7 /p:pw"));
  ASSERT_EQ(std::vector<std::string>{"backup"}, calls);
  EXPECT_EQ("C:\\My Backups", folder);
  EXPECT_TRUE(compress);
  EXPECT_EQ(7, level);
  EXPECT_TRUE(passwordGiven);
  EXPECT_EQ("pw", password);
  EXPECT_EQ(kBanner + "Backup finished ...\n", ui.output);

  Run("/con /b C:\\x /c");
  EXPECT_FALSE(compress);
  Run("/con /b C:\\x /c:12");
  EXPECT_TRUE(compress);
  EXPECT_EQ(-1, level);
}

TEST_F(StartupTest, RefusedValuesRunNothing) {
  struct Case {
    const char* line;
    const char* message;
  } cases[] = {
      {"/con /b C:\\x /c:a", "Invalid compression level!\n"},
      {"/con /b C:\\x /c:-", "Invalid compression level!\n"},
      {"/con /b C:\\x /p:", "Invalid password!\n"},
      {"/con /r C:\\x /p:", "Invalid password!\n"},
      {"/con /e: out.xml", "Error: key can be empty!\n"},
  };
  for (const Case& c : cases) {
    ui.output.clear();
    EXPECT_EQ(2, Run(c.line)) << c.line;
    EXPECT_EQ(kBanner + c.message, ui.output) << c.line;
  }
  EXPECT_TRUE(calls.empty());
}

TEST_F(StartupTest, RestoreRebootsOnlyWhenAskedAndNeeded) {
  Run("/con /r C:\\set /p:secret /reboot");
  EXPECT_EQ((std::vector<std::string>{"restore"}), calls);
  EXPECT_EQ("secret", password);

  calls.clear();
  restoreNeedsReboot = true;
  Run("/con /r C:\\set");
  EXPECT_EQ((std::vector<std::string>{"restore"}), calls);

  calls.clear();
  ui.output.clear();
  Run("/con /r C:\\set /reboot");
  EXPECT_EQ((std::vector<std::string>{"restore", "reboot"}), calls);
  EXPECT_EQ(kBanner + "Restore finished ...\nRebooting...\n", ui.output);
}

TEST_F(StartupTest, ImportDeletesTheFileOnlyAfterSuccess) {
  std::string file = temp.Path() + "regs.xml";
  WriteWholeFile(file, "<Registry/>");

  importSucceeds = false;
  EXPECT_EQ(2, Run("/con /i " + file + " /del"));
  EXPECT_EQ(kBanner + "Error: Couldn't import registry file!\n", ui.output);
  EXPECT_TRUE(FileExists(file));

  importSucceeds = true;
  ui.output.clear();
  EXPECT_EQ(0, Run("/con /i " + file));
  EXPECT_TRUE(FileExists(file));
  Run("/con /i " + file + " /del");
  EXPECT_FALSE(FileExists(file));
  EXPECT_EQ(kBanner + "Done!\n" + kBanner + "Done!\n", ui.output);
}

TEST_F(StartupTest, ExportReportsItsOutcome) {
  Run("/con /e:HKEY_CURRENT_USER\\My%20Key out.xml");
  EXPECT_EQ((std::vector<std::string>{"export HKEY_CURRENT_USER\\My Key > out.xml"}), calls);
  EXPECT_EQ(kBanner + "Done!\n", ui.output);
  exportSucceeds = false;
  ui.output.clear();
  EXPECT_EQ(2, Run("/con /e:HKEY_CURRENT_USER\\Key out.xml"));
  EXPECT_EQ(kBanner + "Error: couldn't export registry file!\n", ui.output);
}

// A script, or the scheduler's last result, tells a whole run from a failed
// or an incomplete one by the exit status alone.
TEST_F(StartupTest, ExitStatusIsTheOutcomeOfTheRun) {
  for (RunOutcome result : {RunOutcome::Succeeded, RunOutcome::Failed, RunOutcome::Incomplete}) {
    outcome = result;
    EXPECT_EQ(static_cast<int>(result), Run("/con /b C:\\x"));
    EXPECT_EQ(static_cast<int>(result), Run("/con /r C:\\x"));
  }
  EXPECT_EQ(0, Run("/con /? C:\\x"));
}

TEST_F(StartupTest, RefusesWhenNotInstalled) {
  DeleteKeyTree(kInstallKey);
  EXPECT_EQ(1, Run("/con /b C:\\x"));
  EXPECT_EQ("Program not installed. Please run the installer!\n", ui.output);
  EXPECT_TRUE(calls.empty());

  EXPECT_EQ(0, Run(""));
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ("Quillmark not installed. Please run the installer!", ui.boxes[0].text);
  EXPECT_EQ("Quillmark", ui.boxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONSTOP), ui.boxes[0].style);
  EXPECT_TRUE(calls.empty());
}

TEST_F(StartupTest, RefusesASecondCopy) {
  CHandle other(CreateMutexA(NULL, FALSE, kMutexName));
  ASSERT_TRUE(other.Valid());
  EXPECT_EQ(1, Run("/con /b C:\\x"));
  EXPECT_EQ("Quillmark is already running!\n", ui.output);

  EXPECT_EQ(0, Run("/sch"));
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ("Quillmark is already running!", ui.boxes[0].text);
  EXPECT_TRUE(calls.empty());

  // Our own mutex is closed when start-up returns, so the next start is free.
  other.Reset();
  EXPECT_EQ(0, Run("/con"));
  EXPECT_EQ(0, Run("/con"));
}

TEST_F(StartupTest, ReportsSystemOperationsThatCannotOpen) {
  SetEnvironmentVariableA("TMP", "C:\\no\\such\\folder\\");
  SetEnvironmentVariableA("TEMP", "C:\\no\\such\\folder\\");
  EXPECT_EQ(1, Run("/con /b C:\\x"));
  EXPECT_EQ("Fatal error: couldn't initialize system operations!\n", ui.output);
  EXPECT_EQ(1, Run(""));
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ("Fatal error: couldn't initialize system operations!", ui.boxes[0].text);
  EXPECT_TRUE(calls.empty());
}

TEST_F(StartupTest, WindowedModeRunsTheWizard) {
  EXPECT_EQ(0, Run("/b C:\\x"));
  EXPECT_EQ((std::vector<std::string>{"wizard"}), calls);
  EXPECT_TRUE(WizardMode());
  EXPECT_TRUE(ui.output.empty());
}

TEST_F(StartupTest, ConsoleSwitchesSetTheModeFlags) {
  Run("/con /y /k");
  EXPECT_FALSE(WizardMode());
  EXPECT_TRUE(YesToAll());
  EXPECT_FALSE(Silent());
  EXPECT_TRUE(CloseRunningPrograms());
  EXPECT_FALSE(ScheduleMode());
  EXPECT_FALSE(StartDirectory().empty());

  Run("/con /s");
  EXPECT_TRUE(YesToAll());
  EXPECT_TRUE(Silent());
  EXPECT_FALSE(CloseRunningPrograms());
}

TEST_F(StartupTest, SilentOutputGoesToTheLogOnly) {
  Run("/con /s /b C:\\x /c:a");
  EXPECT_TRUE(ui.output.empty());
  EXPECT_EQ("T: " + kBanner + "\n\nT: Invalid compression level!\n\n\n", Log());
}

TEST_F(StartupTest, ScheduleWithoutFolderWritesUsageIntoTheLog) {
  EXPECT_EQ(0, Run("/con /sch"));
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(ui.output.empty());
  EXPECT_TRUE(ScheduleMode());
  std::string expected = "T: " + kBanner + "\n\n";
  for (const char* line : msg::kUsage) expected += "T: " + std::string(line) + "\n\n";
  EXPECT_EQ(expected, Log());
}

TEST_F(StartupTest, ScheduleBacksUpSilentlyIntoADatedFolder) {
  SetSchedule("BackupPath", "D:/Saves");
  SetSchedule("Compress", "9");
  SetSchedule("Encrypt", "pw");
  EXPECT_EQ(0, Run("/con /sch C:\\ignored"));
  ASSERT_EQ(std::vector<std::string>{"backup"}, calls);
  EXPECT_TRUE(std::regex_match(folder, std::regex(R"(D:\\Saves\\Backup-20\d{6}-\d{6})")))
      << folder;
  EXPECT_TRUE(compress);
  EXPECT_EQ(9, level);
  EXPECT_TRUE(passwordGiven);
  EXPECT_EQ("pw", password);
  EXPECT_TRUE(ui.output.empty());
  EXPECT_TRUE(Silent());
  EXPECT_TRUE(YesToAll());
  EXPECT_EQ("T: " + kBanner + "\n\nT: Backup finished ...\n\n\n", Log());
}

// The password the schedule page sealed is the one the backup gets.
TEST_F(StartupTest, ScheduleUnsealsThePassword) {
  ScheduleSettings settings;
  settings.backupPath = "D:\\Saves";
  settings.compress = true;
  settings.level = 9;
  settings.password = "sealed pw";
  ASSERT_TRUE(WriteScheduleSettings(settings));
  EXPECT_EQ(0, Run("/con /sch"));
  ASSERT_EQ(std::vector<std::string>{"backup"}, calls);
  EXPECT_TRUE(passwordGiven);
  EXPECT_EQ("sealed pw", password);
}

// Without its password the scheduled backup would be written unprotected:
// the run is refused instead, with a log entry and a failed exit status.
TEST_F(StartupTest, ScheduleRefusesAPasswordThatDoesNotUnseal) {
  SetSchedule("BackupPath", "D:\\Saves");
  SetSchedule("Compress", "9");
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\Encrypt", "\x01\x00\x00\x00", 4));
  EXPECT_EQ(2, Run("/con /sch"));
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(ui.output.empty());
  EXPECT_EQ("T: " + kBanner +
                "\n\nT: Fatal error: couldn't read the scheduled backup's password! Please "
                "schedule the backup again.\n\n\n",
            Log());
}

TEST_F(StartupTest, ScheduleCompressionSettings) {
  SetSchedule("BackupPath", "D:\\Saves\\");
  SetSchedule("Encrypt", "pw");  // ignored without Compress
  Run("/con /sch");
  EXPECT_TRUE(std::regex_match(folder, std::regex(R"(D:\\Saves\\Backup-\d{8}-\d{6})")));
  EXPECT_FALSE(compress);
  EXPECT_FALSE(passwordGiven);

  SetSchedule("Compress", "-1");
  Run("/con /sch");
  EXPECT_TRUE(compress);
  EXPECT_EQ(-1, level);
  EXPECT_TRUE(passwordGiven);

  SetSchedule("Compress", "fast");  // no leading number: level 0
  Run("/con /sch");
  EXPECT_EQ(0, level);

  // A folder setting that is empty is no folder: usage, no backup.
  calls.clear();
  SetSchedule("BackupPath", "");
  Run("/con /sch");
  EXPECT_TRUE(calls.empty());
}

}  // namespace
