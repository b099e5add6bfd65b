// Backups and restores through the real console program, with its own
// catalogue beside it, as a user types them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Startup.h"
#include "base/Win32Handle.h"
#include "catalogue/Registry.h"
#include "support/TestSupport.h"
#include "system/Schedule.h"

namespace {

const std::string kRoot = "HKEY_CURRENT_USER\\Software\\QmConsoleRuns";

class ConsoleRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateRegistryKey(kInstallKey));
    DeleteKeyTree(kScheduleKey);
    DeleteKeyTree(kRoot);
    DeleteKeyTree(std::string(kInstallKey) + "\\Notes");
    program = temp.Path() + "prog\\";
    data = temp.Path() + "data\\";
    CreateDirectoryA(program.c_str(), NULL);
    CreateDirectoryA(data.c_str(), NULL);
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "backupcmd.exe").c_str(),
                          (program + "backupcmd.exe").c_str(), FALSE));
    WriteWholeFile(program + "QMARK Setup.exe", "setup");
    WriteCatalogue("");
    ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Notes"));
    ASSERT_TRUE(WriteRegistryValue(kRoot + "\\Notes\\Font", "Arial", 0));
    WriteWholeFile(data + "notes.ini", "[notes]\r\nwrap=1\r\n");
    WriteWholeFile(data + "big.dat", std::string(150000, 'b'));
  }
  void TearDown() override {
    DeleteKeyTree(kRoot);
    DeleteKeyTree(kScheduleKey);
    DeleteKeyTree(std::string(kInstallKey) + "\\Notes");
    DeleteKeyTree(std::string(kInstallKey) + "\\Custom");
  }

  void WriteCatalogue(const std::string& extraItem) {
    WriteWholeFile(program + "backup.xml",
                   "<?xml version=\"1.0\"?>\r\n<catalogue>\r\n"
                   "<backup name=\"Notes\" keyExists=\"" + kRoot + "\\Notes\">\r\n"
                   " <item path=\"" + kRoot + "\\Notes\\\"/>\r\n"
                   " <item path=\"" + data + "*\"/>\r\n" + extraItem +
                   "</backup>\r\n"
                   "<backup name=\"Absent\" keyExists=\"" + kRoot + "\\Absent\">\r\n"
                   " <item path=\"" + data + "notes.ini\"/>\r\n"
                   "</backup>\r\n</catalogue>\r\n");
  }

  Finished Run(const std::string& arguments, const std::string& keys = std::string()) {
    // The catalogue and the setup program are found in the current folder.
    return RunCommand("\"" + program + "backupcmd.exe\" " + arguments, keys, program);
  }

  void Spoil() {
    WriteRegistryValue(kRoot + "\\Notes\\Font", "Comic", 0);
    WriteWholeFile(data + "notes.ini", "lost");
    DeleteFileA((data + "big.dat").c_str());
  }
  void ExpectBack() {
    EXPECT_EQ("Arial", ReadRegistryValue(kRoot + "\\Notes\\Font").value_or("?"));
    EXPECT_EQ("[notes]\r\nwrap=1\r\n", ReadWholeFile(data + "notes.ini"));
    EXPECT_EQ(std::string(150000, 'b'), ReadWholeFile(data + "big.dat"));
  }
  // Folders a packed restore might leave in the temporary folder.
  std::vector<std::string> WorkingFolders() {
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((temp.Path() + "QMRestore*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return found;
    do found.push_back(entry.cFileName);
    while (FindNextFileA(find, &entry));
    FindClose(find);
    return found;
  }

  CTemporaryFolder temp;
  std::string program, data;
};

TEST_F(ConsoleRuns, UnpackedBackupAndRestoreWithYesToAll) {
  std::string set = temp.Path() + "set";
  Finished backup = Run("/b " + set);
  EXPECT_EQ(0u, backup.status);
  EXPECT_NE(std::string::npos, backup.output.find("Notes\r\n"));
  EXPECT_NE(std::string::npos, backup.output.find("Backup finished ...\r\n"));
  EXPECT_TRUE(FileExists(set + "\\restore.xml"));
  EXPECT_TRUE(FileExists(set + "\\Registry\\Notes.xml"));
  EXPECT_EQ("setup", ReadWholeFile(set + "\\QMARK Setup.exe"));

  Spoil();
  Finished restore = Run("/r " + set + " /y");
  EXPECT_EQ(0u, restore.status);
  EXPECT_NE(std::string::npos, restore.output.find("Restore finished ...\r\n"));
  ExpectBack();
}

TEST_F(ConsoleRuns, PackedWithPasswordAndAWrongPassword) {
  std::string set = temp.Path() + "packed";
  Finished backup = Run("/b " + set + " /c:9 /p:secret");
  EXPECT_EQ(0u, backup.status) << backup.output;
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((set + "\\*").c_str(), &entry);
  ASSERT_NE(INVALID_HANDLE_VALUE, find);
  do names.push_back(entry.cFileName);
  while (FindNextFileA(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{".", "..", "QMARK Setup.exe", "restore.zip"}), names);

  Spoil();
  Finished wrong = Run("/r " + set + " /y /p:guess");
  EXPECT_EQ(2u, wrong.status);
  EXPECT_NE(std::string::npos,
            wrong.output.find("Fatal error: couldn't uncompress restore settings! (Maybe invalid "
                              "password?)Restore finished ...\r\n"));
  EXPECT_TRUE(WorkingFolders().empty());
  EXPECT_EQ("lost", ReadWholeFile(data + "notes.ini"));

  Finished right = Run("/r " + set + " /y /p:secret");
  EXPECT_EQ(0u, right.status) << right.output;
  ExpectBack();
  EXPECT_TRUE(WorkingFolders().empty());

  // A second backup into the same folder replaces the archive: the restore
  // gets the newer settings, not the first set's.
  ASSERT_TRUE(WriteRegistryValue(kRoot + "\\Notes\\Font", "Verdana", 0));
  ASSERT_EQ(0u, Run("/b " + set + " /c: /y").status);
  ASSERT_TRUE(WriteRegistryValue(kRoot + "\\Notes\\Font", "Comic", 0));
  ASSERT_EQ(0u, Run("/r " + set + " /y").status);
  EXPECT_EQ("Verdana", ReadRegistryValue(kRoot + "\\Notes\\Font").value_or("?"));
}

TEST_F(ConsoleRuns, ExistingFolderIsAskedAboutAndKeptOnNo) {
  std::string set = temp.Path() + "existing\\";
  CreateDirectoryA(set.c_str(), NULL);
  WriteWholeFile(set + "mine.txt", "mine");
  Finished declined = Run("/b " + set, "n");
  EXPECT_EQ(2u, declined.status);
  EXPECT_NE(std::string::npos,
            declined.output.find("The specified directory already exists. Files may be "
                                 "overwrriten. Continue?"));
  EXPECT_FALSE(FileExists(set + "restore.xml"));
  EXPECT_FALSE(FileExists(set + "Registry"));

  // Silent: only the entries being saved reach the console.
  Finished silent = Run("/b " + set + " /s");
  EXPECT_EQ("Notes\r\nCustom files and folders\r\n", silent.output);
  EXPECT_TRUE(FileExists(set + "restore.xml"));
  EXPECT_EQ("mine", ReadWholeFile(set + "mine.txt"));
  std::string log = ReadWholeFile(temp.Path() + "QMARK.log");
  EXPECT_NE(std::string::npos, log.find("Backup finished ..."));
}

// A run that fails removes what it wrote, but never the user's own files
// in a folder that was there before.
TEST_F(ConsoleRuns, FailedBackupRemovesOnlyWhatItWrote) {
  WriteCatalogue(" <item path=\"($NoSuchFolder)\\x.ini\"/>\r\n");
  std::string fresh = temp.Path() + "fresh";
  Finished run = Run("/b " + fresh + " /y");
  EXPECT_EQ(2u, run.status);
  EXPECT_NE(std::string::npos, run.output.find("Fatal error: failed to expand variable: "));
  EXPECT_FALSE(FileExists(fresh));

  std::string existing = temp.Path() + "mine\\";
  CreateDirectoryA(existing.c_str(), NULL);
  CreateDirectoryA((existing + "Photos").c_str(), NULL);
  WriteWholeFile(existing + "Photos\\cat.jpg", "cat");
  run = Run("/b " + existing + " /y /c:");
  EXPECT_EQ("cat", ReadWholeFile(existing + "Photos\\cat.jpg"));
  EXPECT_FALSE(FileExists(existing + "restore.zip"));
  EXPECT_FALSE(FileExists(existing + "Registry"));
}

// A file another program holds without sharing is asked about (Ignore
// under /y), named in the log and left out of the set, and the run ends
// with the status of an incomplete one; the folder keeps its other files.
TEST_F(ConsoleRuns, LockedFileIsReportedAndLeftOutOfTheSet) {
  WriteCatalogue(" <item path=\"" + data + "locked.dat\"/>\r\n");
  WriteWholeFile(data + "locked.dat", "mail store");
  for (const char* packing : {"", " /c:"}) {
    SCOPED_TRACE(packing);
    std::string set = temp.Path() + "locked" + (*packing ? "packed" : "plain");
    DeleteFileA((temp.Path() + "QMARK.log").c_str());
    Finished backup;
    {
      CHandle held(CreateFileA((data + "locked.dat").c_str(), GENERIC_READ, 0, NULL,
                               OPEN_EXISTING, 0, NULL));
      ASSERT_TRUE(held.Valid());
      backup = Run("/b " + set + packing + " /y");
    }
    EXPECT_EQ(3u, backup.status) << backup.output;
    std::string log = ReadWholeFile(temp.Path() + "QMARK.log");
    size_t first = log.find("Error: failed to backup file:\r\n" + data + "locked.dat");
    ASSERT_NE(std::string::npos, first) << log;
    // Once for the folder item, once for the file item.
    EXPECT_NE(std::string::npos,
              log.find("Error: failed to backup file:\r\n" + data + "locked.dat", first + 1));

    Spoil();
    DeleteFileA((data + "locked.dat").c_str());
    Finished restore = Run("/r " + set + " /y");
    EXPECT_EQ(0u, restore.status) << restore.output;
    ExpectBack();
    EXPECT_FALSE(FileExists(data + "locked.dat"));
    WriteWholeFile(data + "locked.dat", "mail store");
  }
  std::string settings = ReadWholeFile(temp.Path() + "lockedplain\\restore.xml");
  EXPECT_EQ(std::string::npos, settings.find("locked.dat")) << settings;
}

// Until a new packed set is complete, the one in the folder stays whole.
TEST_F(ConsoleRuns, FailedPackedBackupKeepsTheSetThatWasThere) {
  std::string set = temp.Path() + "kept\\";
  ASSERT_EQ(0u, Run("/b " + set + " /c: /y").status);
  std::string archive = ReadWholeFile(set + "restore.zip");
  WriteCatalogue(" <item path=\"($NoSuchFolder)\\x.ini\"/>\r\n");
  EXPECT_EQ(2u, Run("/b " + set + " /c: /y").status);
  EXPECT_EQ(archive, ReadWholeFile(set + "restore.zip"));
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((set + "QMZ*").c_str(), &entry);
  EXPECT_EQ(INVALID_HANDLE_VALUE, find) << entry.cFileName;
  if (find != INVALID_HANDLE_VALUE) FindClose(find);

  WriteCatalogue("");
  Spoil();
  EXPECT_EQ(0u, Run("/r " + set + " /y").status);
  ExpectBack();
}

// A folder named through the registry is saved like a plain folder item:
// a set inside it is not copied into itself.
TEST_F(ConsoleRuns, SetInsideARegistryNamedFolderIsLeftOut) {
  ASSERT_TRUE(WriteRegistryValue(kRoot + "\\Notes\\Data", data.c_str(), 0));
  WriteCatalogue(" <item path=\"[" + kRoot + "\\Notes\\Data]\"/>\r\n");
  std::string set = data + "set\\";
  ASSERT_EQ(0u, Run("/b " + set + " /y").status);
  EXPECT_EQ(std::string(150000, 'b'), ReadWholeFile(set + "Notes\\3\\big.dat"));
  EXPECT_FALSE(FileExists(set + "Notes\\3\\set"));
}

TEST_F(ConsoleRuns, BadRestoreFoldersAndBackupPaths) {
  std::string empty = temp.Path() + "empty";
  CreateDirectoryA(empty.c_str(), NULL);
  Finished run = Run("/r " + empty + " /y");
  EXPECT_EQ(2u, run.status);
  EXPECT_NE(std::string::npos,
            run.output.find("Fatal error: invalid restore directory!Restore finished ...\r\n"));

  WriteWholeFile(empty + "\\restore.zip", "PK\x05\x06 damaged");
  run = Run("/r " + empty + " /y");
  EXPECT_NE(std::string::npos, run.output.find("Fatal error: invalid restore directory!"));

  WriteWholeFile(empty + "\\restore.xml", "<RestoreSettings><restore name=");
  run = Run("/r " + empty + " /y");
  EXPECT_NE(std::string::npos, run.output.find("Restore finished ...\r\n"));

  for (const std::string& bad : {std::string("Q:\\nowhere"), temp.Path() + std::string(300, 'l')}) {
    run = Run("/b " + bad + " /y");
    EXPECT_EQ(2u, run.status);
    EXPECT_NE(std::string::npos, run.output.find("Fatal error: failed to create directory!"))
        << run.output;
  }
}

TEST_F(ConsoleRuns, RestoreNamesTheProgramsThisComputerLacks) {
  ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Absent"));
  std::string set = temp.Path() + "both";
  ASSERT_EQ(0u, Run("/b " + set + " /y").status);
  DeleteKeyTree(kRoot + "\\Absent");
  Finished run = Run("/r " + set + " /s");
  EXPECT_EQ("Notes\r\nCustom files and folders\r\n", run.output);
  std::string log = ReadWholeFile(temp.Path() + "QMARK.log");
  size_t notice = log.find(
      "The following applications were not found on this computer and will not be restored:");
  ASSERT_NE(std::string::npos, notice) << log;
  EXPECT_NE(std::string::npos, log.find("Absent", notice));
}

// The Task Scheduler's daily run: silent, into a new dated folder, with
// the entries chosen for the schedule.
TEST_F(ConsoleRuns, ScheduledRunUsesTheScheduleSettingsAndSelection) {
  ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Absent"));
  std::string base = temp.Path() + "daily";
  ASSERT_TRUE(CreateRegistryKey(std::string(kScheduleKey)));
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\BackupPath", base.c_str(), 0));
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\Compress", "6", 0));
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\Absent", "0", 0));

  Finished run = Run("/sch");
  EXPECT_EQ(0u, run.status);
  EXPECT_EQ("Notes\r\nCustom files and folders\r\n", run.output)
      << "only the entries chosen for the schedule";
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((base + "\\Backup-*").c_str(), &entry);
  ASSERT_NE(INVALID_HANDLE_VALUE, find);
  std::string set = base + "\\" + entry.cFileName;
  FindClose(find);
  EXPECT_TRUE(FileExists(set + "\\restore.zip"));

  Spoil();
  ASSERT_EQ(0u, Run("/r " + set + " /y").status);
  ExpectBack();
  EXPECT_NE(std::string::npos, ReadWholeFile(temp.Path() + "QMARK.log").find("Backup finished ..."));
}

// The sealed password protects the scheduled set: the set opens with that
// password and with no other.
TEST_F(ConsoleRuns, ScheduledRunPacksWithTheSealedPassword) {
  std::string base = temp.Path() + "daily";
  ScheduleSettings settings;
  settings.backupPath = base;
  settings.compress = true;
  settings.level = 6;
  settings.password = "daily-secret";
  ASSERT_TRUE(WriteScheduleSettings(settings));

  Finished run = Run("/sch");
  ASSERT_EQ(0u, run.status) << run.output;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((base + "\\Backup-*").c_str(), &entry);
  ASSERT_NE(INVALID_HANDLE_VALUE, find);
  std::string set = base + "\\" + entry.cFileName;
  FindClose(find);

  Spoil();
  EXPECT_EQ(2u, Run("/r " + set + " /y").status) << "the set opened without a password";
  EXPECT_EQ("lost", ReadWholeFile(data + "notes.ini"));
  Finished right = Run("/r " + set + " /y /p:daily-secret");
  EXPECT_EQ(0u, right.status) << right.output;
  ExpectBack();
}

TEST_F(ConsoleRuns, ScheduledRunWithADamagedPasswordWritesNoSet) {
  std::string base = temp.Path() + "daily";
  ASSERT_TRUE(CreateDirectoryA(base.c_str(), NULL));
  ASSERT_TRUE(CreateRegistryKey(std::string(kScheduleKey)));
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\BackupPath", base.c_str(), 0));
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\Compress", "6", 0));
  std::string damaged(200, '\x5a');
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\Encrypt", damaged.data(),
                                 damaged.size()));

  Finished run = Run("/sch");
  EXPECT_EQ(2u, run.status);
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((base + "\\Backup-*").c_str(), &entry);
  EXPECT_EQ(INVALID_HANDLE_VALUE, find) << "a set was written: " << entry.cFileName;
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
  EXPECT_NE(std::string::npos, ReadWholeFile(temp.Path() + "QMARK.log")
                                   .find("couldn't read the scheduled backup's password!"));
}

}  // namespace
