#include "engine/Engine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/ConsoleRunCallback.h"
#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/RunCallback.h"
#include "base/Win32Handle.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Registry.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "support/TestSupport.h"

namespace {

const std::string kRoot = "HKEY_CURRENT_USER\\Software\\QmEngineTests";

std::string Lines(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Records the progress lines and can act on one of them.
class CProgressWatch : public CScriptedInteraction {
 public:
  std::function<void(const std::string&)> onOutput;
  void WriteOutput(const std::string& text) override {
    CScriptedInteraction::WriteOutput(text);
    if (onOutput) onOutput(text);
  }
};

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSystemOperations());
    SetWizardMode(false);  // progress lines go to the console
    DeleteKeyTree(kRoot);
    src = temp.Path() + "src\\";
    set = temp.Path() + "set\\";
    disk.CreateFolderTree(set + "Registry\\");
    MakeProgram();
  }
  void TearDown() override {
    DeleteKeyTree(kRoot);
    CloseSystemOperations();
    ResetFlags();
  }

  void Write(const std::string& relative, const std::string& data) {
    disk.CreateFolderTree(CDiskObject::FolderOf(src + relative));
    WriteWholeFile(src + relative, data);
  }
  void Set(const std::string& path, const std::string& text) {
    CreateRegistryKey(path.substr(0, path.rfind('\\')));
    ASSERT_TRUE(WriteRegistryValue(path, text.c_str(), 0)) << path;
  }

  // The program's settings as a user would have them.
  void MakeProgram() {
    Set(kRoot + "\\Editor\\Font", "Courier");
    Set(kRoot + "\\Editor\\Recent\\File1", "a.txt");
    Set(kRoot + "\\Window\\Left", "10");
    Set(kRoot + "\\Window\\Sub\\Deep", "not saved");
    Set(kRoot + "\\Single\\Width", "640");
    Set(kRoot + "\\Single\\Height", "480");
    Set(kRoot + "\\Paths\\DataFile", src + "data\\words.dic");
    Set(kRoot + "\\Paths\\DataFolder", src + "dict");
    Write("editor.ini", "[view]\r\nzoom=2\r\n");
    Write("Templates\\letter.tpl", "Dear");
    Write("Templates\\old\\memo.tpl", "Memo");
    Write("Logs\\today.log", "log");
    Write("Logs\\archive\\old.log", "old log");
    Write("data\\words.dic", "words");
    Write("dict\\en\\en.aff", "affix");
    Write("mail.dat", std::string(200000, 'm'));
  }

  std::string CatalogueText() {
    return Lines(
        "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\n"
        "<catalogue>\n"
        "<backup name=\"Editor\">\n"
        " <item path=\"" + kRoot + "\\Editor\\\"/>\n"
        " <item path=\"" + kRoot + "\\Window\\*\"/>\n"
        " <item path=\"" + kRoot + "\\Single\\Width\"/>\n"
        " <item path=\"" + src + "editor.ini\"/>\n"
        " <item path=\"" + src + "Templates\\\"/>\n"
        " <item path=\"" + src + "Logs\\*\"/>\n"
        " <item path=\"[" + kRoot + "\\Paths\\DataFile]\"/>\n"
        " <item path=\"[" + kRoot + "\\Paths\\DataFolder]\"/>\n"
        " <item path=\"[" + kRoot + "\\Paths\\Missing]\"/>\n"
        " <item path=\"" + src + "gone.txt\"/>\n"
        " <backup name=\"Mail\" reboot=\"yes\">\n"
        "  <item name=\"box\" path=\"" + src + "mail.dat\"/>\n"
        " </backup>\n"
        "</backup>\n"
        "<backup name=\"Other\">\n"
        " <item path=\"" + src + "editor.ini\"/>\n"
        "</backup>\n"
        "</catalogue>\n");
  }

  void Load(Catalogue& catalogue, const std::string& path, std::vector<std::string> chosen) {
    catalogue.SetPath(path);
    ASSERT_TRUE(catalogue.Evaluate());
    PrepareEntries(catalogue);
    for (const auto& entry : catalogue.Entries())
      if (entry->valid && std::find(chosen.begin(), chosen.end(), entry->name) != chosen.end())
        SelectEntry(*entry);
  }
  // As a console restore does: a packed set's settings and registry files
  // into a working folder, evaluated there.
  void UnpackSettings(ArchiveReader& reader, const std::string& work, Catalogue& settings) {
    ASSERT_TRUE(reader.UnpackFile("restore.xml", work + "restore.xml"));
    ASSERT_TRUE(reader.UnpackFolder("Registry\\", work + "Registry\\"));
    Load(settings, work + "restore.xml", {"Editor", "Mail"});
  }
  void LoadBackup(Catalogue& catalogue, std::vector<std::string> chosen = {"Editor", "Mail"}) {
    WriteWholeFile(temp.Path() + "backup.xml", CatalogueText());
    Load(catalogue, temp.Path() + "backup.xml", chosen);
  }

  bool Backup(Catalogue& catalogue, bool pack, bool settings = true,
              const std::optional<std::string>& password = std::nullopt) {
    ArchiveWriter archive;
    if (pack) {
      EXPECT_TRUE(archive.Open(set + "restore.zip", set, false, password, 6));
    }
    bool result = RunBackup(disk, archive, pack, set, catalogue, front, settings);
    EXPECT_TRUE(archive.Close());
    return result;
  }

  // The user's settings changed or lost after the backup.
  void Spoil() {
    DeleteKeyTree(kRoot + "\\Editor");
    DeleteKeyTree(kRoot + "\\Window");
    Set(kRoot + "\\Single\\Width", "1");
    WriteWholeFile(src + "editor.ini", "changed");
    DeleteFileA((src + "Templates\\old\\memo.tpl").c_str());
    DeleteFileA((src + "Logs\\today.log").c_str());
    DeleteFileA((src + "data\\words.dic").c_str());
    DeleteFileA((src + "dict\\en\\en.aff").c_str());
    DeleteFileA((src + "mail.dat").c_str());
  }

  void ExpectProgramBack() {
    EXPECT_EQ("Courier", ReadRegistryValue(kRoot + "\\Editor\\Font").value_or("?"));
    EXPECT_EQ("a.txt", ReadRegistryValue(kRoot + "\\Editor\\Recent\\File1").value_or("?"));
    EXPECT_EQ("10", ReadRegistryValue(kRoot + "\\Window\\Left").value_or("?"));
    EXPECT_FALSE(RegistryKeyExists(kRoot + "\\Window\\Sub"));
    EXPECT_EQ("640", ReadRegistryValue(kRoot + "\\Single\\Width").value_or("?"));
    EXPECT_EQ("[view]\r\nzoom=2\r\n", ReadWholeFile(src + "editor.ini"));
    EXPECT_EQ("Memo", ReadWholeFile(src + "Templates\\old\\memo.tpl"));
    EXPECT_EQ("log", ReadWholeFile(src + "Logs\\today.log"));
    EXPECT_EQ("words", ReadWholeFile(src + "data\\words.dic"));
    EXPECT_EQ("affix", ReadWholeFile(src + "dict\\en\\en.aff"));
    EXPECT_EQ(std::string(200000, 'm'), ReadWholeFile(src + "mail.dat"));
  }

  std::string Log() { return ReadWholeFile(LogFilePath()); }

  CTemporaryFolder temp;
  std::string src, set;
  CDiskObject disk{true, NULL};
  CConsoleRunCallback front;
};

TEST_F(Engine, UnpackedSetHoldsEachItemWhereItsRewrittenTextSays) {
  CScriptedInteraction console;
  Catalogue catalogue;
  LoadBackup(catalogue);
  ASSERT_TRUE(Backup(catalogue, false));

  const CatalogueEntry& editor = *catalogue.Entries()[0];
  EXPECT_EQ((std::vector<std::string>{
                "1;" + kRoot + "\\Editor\\", "2;" + kRoot + "\\Window\\*",
                "3;" + kRoot + "\\Single\\Width", "4\\editor.ini;" + src + "editor.ini",
                "5;" + src + "Templates\\", "6;" + src + "Logs\\*",
                "7\\words.dic;[" + kRoot + "\\Paths\\DataFile]",
                "8;[" + kRoot + "\\Paths\\DataFolder]", "", ""}),
            editor.items);
  EXPECT_EQ("box\\mail.dat;" + src + "mail.dat", catalogue.Entries()[1]->items[0]);

  EXPECT_TRUE(FileExists(set + "Editor\\4\\editor.ini"));
  EXPECT_EQ("Memo", ReadWholeFile(set + "Editor\\5\\old\\memo.tpl"));
  EXPECT_TRUE(FileExists(set + "Editor\\6\\today.log"));
  EXPECT_FALSE(FileExists(set + "Editor\\6\\archive\\old.log"));
  EXPECT_EQ("words", ReadWholeFile(set + "Editor\\7\\words.dic"));
  EXPECT_EQ("affix", ReadWholeFile(set + "Editor\\8\\en\\en.aff"));
  EXPECT_TRUE(FileExists(set + "Editor\\Mail\\box\\mail.dat"));
  EXPECT_TRUE(FileExists(set + "restore.xml"));
  EXPECT_FALSE(FileExists(set + "Other"));

  // One registry file for the entry with registry items, none for Mail.
  std::string registry = ReadWholeFile(set + "Registry\\Editor.xml");
  // The wrapper stands one space in, every key chain one space deeper.
  EXPECT_NE(std::string::npos,
            registry.find("?>\r\n <Registry>\r\n  <Key Name=\"HKEY_CURRENT_USER\">\r\n"));
  EXPECT_EQ("\r\n </Registry>\r\n", registry.substr(registry.size() - 16));
  EXPECT_NE(std::string::npos, registry.find("Courier"));
  EXPECT_EQ(std::string::npos, registry.find("not saved"));
  EXPECT_EQ(std::string::npos, registry.find("480"));
  EXPECT_FALSE(FileExists(set + "Registry\\Editor.Mail.xml"));

  EXPECT_EQ("Editor\nEditor.Mail\n", console.output);
  std::string log = Log();
  EXPECT_NE(std::string::npos,
            log.find("Error: key empty or doesn't exists: [" + kRoot + "\\Paths\\Missing]"));
  EXPECT_NE(std::string::npos, log.find("Error: failed to backup file:\r\n" + src + "gone.txt"));
}

TEST_F(Engine, RestoreBringsBackEveryItemKindAndAsksForARestart) {
  CScriptedInteraction console;
  Catalogue catalogue;
  LoadBackup(catalogue);
  ASSERT_TRUE(Backup(catalogue, false));
  Spoil();

  Catalogue settings;
  Load(settings, set + "restore.xml", {"Editor", "Mail"});
  ArchiveReader none;
  EXPECT_TRUE(RunRestore(disk, none, false, set, settings, front));
  ExpectProgramBack();
  EXPECT_TRUE(RebootNeeded());
  EXPECT_EQ(std::string::npos, Log().find("Couldn't import"));
}

TEST_F(Engine, PackedSetWithPasswordRestoresFromTheArchive) {
  CScriptedInteraction console;
  Catalogue catalogue;
  LoadBackup(catalogue);
  ASSERT_TRUE(Backup(catalogue, true, true, std::string("secret")));
  // Only the archive stays in the set folder.
  std::vector<std::string> left;
  disk.ListAllFiles(set, left);
  EXPECT_EQ(std::vector<std::string>{"restore.zip"}, left);
  Spoil();

  // The caller unpacks the settings and registry files to a working folder.
  std::string work = temp.Path() + "work\\";
  CConsoleRunCallback keys("secret");
  ArchiveReader reader(set + "restore.zip", true, &keys);
  Catalogue settings;
  UnpackSettings(reader, work, settings);
  EXPECT_TRUE(RunRestore(disk, reader, true, work, settings, front));
  ExpectProgramBack();
}

TEST_F(Engine, RollbackKeepsFilesInTheEntryFolderAndWritesNoSettings) {
  CScriptedInteraction console;
  Catalogue catalogue;
  LoadBackup(catalogue, {"Mail"});
  ASSERT_TRUE(Backup(catalogue, false, false));
  EXPECT_TRUE(FileExists(set + "Editor\\Mail\\mail.dat"));
  EXPECT_FALSE(FileExists(set + "restore.xml"));
  EXPECT_EQ("mail.dat;" + src + "mail.dat", catalogue.Entries()[1]->items[0]);
}

TEST_F(Engine, StopBetweenEntriesStillWritesTheSettingsOfWhatWasDone) {
  CProgressWatch console;
  console.onOutput = [&](const std::string& line) {
    if (line == "Editor.Mail\n") front.RequestStop();
  };
  Catalogue catalogue;
  LoadBackup(catalogue);
  EXPECT_TRUE(Backup(catalogue, false));
  EXPECT_FALSE(FileExists(set + "Editor\\Mail"));
  EXPECT_TRUE(FileExists(set + "Editor\\4\\editor.ini"));
  EXPECT_NE(std::string::npos, ReadWholeFile(set + "restore.xml").find("name=\"4\\editor.ini\""));
}

TEST_F(Engine, RestoreReportsWhatTheSetLacksAndGoesOn) {
  CScriptedInteraction console;
  Catalogue catalogue;
  LoadBackup(catalogue);
  ASSERT_TRUE(Backup(catalogue, false));
  Spoil();
  DeleteFileA((set + "Registry\\Editor.xml").c_str());
  // A custom file item carries no name in the set.
  std::string text = ReadWholeFile(set + "restore.xml");
  size_t at = text.find("name=\"box\\mail.dat\"");
  ASSERT_NE(std::string::npos, at);
  text.replace(at, 19, "name=\"\"");
  WriteWholeFile(set + "restore.xml", text);

  Catalogue settings;
  Load(settings, set + "restore.xml", {"Editor", "Mail"});
  ArchiveReader none;
  EXPECT_TRUE(RunRestore(disk, none, false, set, settings, front));
  std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Error: Couldn't import registry file: Editor.xml"));
  EXPECT_NE(std::string::npos, log.find("Error: no file to copy.\r\n" + src + "mail.dat"));
  // Registry imported (and failed) once only.
  EXPECT_EQ(log.find("Couldn't import"), log.rfind("Couldn't import"));
  EXPECT_EQ("[view]\r\nzoom=2\r\n", ReadWholeFile(src + "editor.ini"));
  EXPECT_TRUE(RebootNeeded());
}

TEST_F(Engine, UnknownVariableIsFatalAndShownOnce) {
  CScriptedInteraction console;
  WriteWholeFile(temp.Path() + "backup.xml",
                 Lines("<?xml version=\"1.0\"?>\n<catalogue>\n<backup name=\"Bad\">\n"
                       " <item path=\"($NoSuchThing)\\x.ini\"/>\n</backup>\n</catalogue>\n"));
  Catalogue catalogue;
  Load(catalogue, temp.Path() + "backup.xml", {"Bad"});
  EXPECT_FALSE(Backup(catalogue, false));
  EXPECT_NE(std::string::npos,
            console.output.find("Fatal error: failed to expand variable: ($NoSuchThing)\\x.ini"));
  EXPECT_EQ(console.output.find("Fatal error"), console.output.rfind("Fatal error"));
  EXPECT_FALSE(FileExists(set + "restore.xml"));
}

// A program that keeps a folder's path as a chain of key names: the first
// leaf below the key spells the folder.
TEST_F(Engine, BracedItemFollowsTheFirstLeafKeyBothWays) {
  CScriptedInteraction console;
  std::string folder = src + "dict";
  ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Leaves\\" + folder));
  WriteWholeFile(temp.Path() + "backup.xml",
                 Lines("<catalogue>\n<backup name=\"Leaf\">\n <item path=\"{" + kRoot +
                       "\\Leaves}\"/>\n</backup>\n</catalogue>\n"));
  Catalogue catalogue;
  Load(catalogue, temp.Path() + "backup.xml", {"Leaf"});
  ASSERT_TRUE(Backup(catalogue, false));
  EXPECT_EQ("affix", ReadWholeFile(set + "Leaf\\1\\en\\en.aff"));

  DeleteFileA((folder + "\\en\\en.aff").c_str());
  Catalogue settings;
  Load(settings, set + "restore.xml", {"Leaf"});
  ArchiveReader none;
  EXPECT_TRUE(RunRestore(disk, none, false, set, settings, front));
  EXPECT_EQ("affix", ReadWholeFile(folder + "\\en\\en.aff"));
}

// Catalogues may name a file through an environment variable.
TEST_F(Engine, EnvironmentVariablesInFilePathsAreExpanded) {
  CScriptedInteraction console;
  SetEnvironmentVariableA("QMENGINEDATA", src.c_str());
  WriteWholeFile(temp.Path() + "backup.xml",
                 Lines("<catalogue>\n<backup name=\"Env\">\n"
                       " <item path=\"%QMENGINEDATA%editor.ini\"/>\n</backup>\n</catalogue>\n"));
  Catalogue catalogue;
  Load(catalogue, temp.Path() + "backup.xml", {"Env"});
  ASSERT_TRUE(Backup(catalogue, false));
  EXPECT_EQ("1\\editor.ini;%QMENGINEDATA%editor.ini", catalogue.Entries()[0]->items[0]);
  EXPECT_TRUE(FileExists(set + "Env\\1\\editor.ini"));

  WriteWholeFile(src + "editor.ini", "changed");
  Catalogue settings;
  Load(settings, set + "restore.xml", {"Env"});
  ArchiveReader none;
  EXPECT_TRUE(RunRestore(disk, none, false, set, settings, front));
  EXPECT_EQ("[view]\r\nzoom=2\r\n", ReadWholeFile(src + "editor.ini"));
  SetEnvironmentVariableA("QMENGINEDATA", NULL);
}

// Each repetition of a foreach entry keeps its own items in the set's
// settings, and a folder whose name holds an apostrophe is found again.
TEST_F(Engine, ForeachRepetitionsAndQuotedFoldersComeBack) {
  CScriptedInteraction console;
  ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Users\\alpha"));
  ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Users\\beta"));
  for (const char* user : {"alpha", "beta"}) {
    Write(std::string(user) + "\\settings.ini", std::string(user) + " settings");
    Write(std::string(user) + "\\cache\\c.dat", std::string(user) + " cache");
  }
  Write("Games\\Bob's files\\save.dat", "Bob's game");
  WriteWholeFile(temp.Path() + "backup.xml",
                 Lines("<catalogue>\n"
                       "<backup name=\"Profile ($P)\" foreach=\"P\" in=\"" + kRoot + "\\Users\\x\">\n"
                       " <item path=\"" + src + "($P)\\settings.ini\"/>\n"
                       " <backup name=\"Cache of ($P)\">\n"
                       "  <item path=\"" + src + "($P)\\cache\\\"/>\n"
                       " </backup>\n"
                       "</backup>\n"
                       "<backup name=\"Saves\" expandSubDirs=\"" + src + "Games\">\n"
                       "</backup>\n"
                       "</catalogue>\n"));
  const std::vector<std::string> chosen = {"Profile Alpha", "Cache of Alpha", "Profile Beta",
                                           "Cache of Beta", "Saves", "Bob's files"};
  Catalogue catalogue;
  Load(catalogue, temp.Path() + "backup.xml", chosen);
  ASSERT_TRUE(Backup(catalogue, false));
  for (const char* user : {"alpha", "beta"}) {
    WriteWholeFile(src + user + "\\settings.ini", "changed");
    DeleteFileA((src + user + "\\cache\\c.dat").c_str());
  }
  DeleteFileA((src + "Games\\Bob's files\\save.dat").c_str());

  Catalogue settings;
  Load(settings, set + "restore.xml", chosen);
  ArchiveReader none;
  EXPECT_TRUE(RunRestore(disk, none, false, set, settings, front));
  for (const std::string user : {"alpha", "beta"}) {
    EXPECT_EQ(user + " settings", ReadWholeFile(src + user + "\\settings.ini"));
    EXPECT_EQ(user + " cache", ReadWholeFile(src + user + "\\cache\\c.dat"));
  }
  EXPECT_EQ("Bob's game", ReadWholeFile(src + "Games\\Bob's files\\save.dat"));
}

// A registry key's name may hold characters that no file name can (a mail
// profile called "Work: home?*"); the entry's registry file and folder in the
// set use a stand-in, and both come back, plain and packed.
TEST_F(Engine, EntryNamesNoFileNameCanHoldStillComeBack) {
  CScriptedInteraction console;
  Set(kRoot + "\\Profiles\\work: home?*\\Server", "mail.example.org");
  Write("store.dat", "mails");
  WriteWholeFile(temp.Path() + "backup.xml",
                 Lines("<catalogue>\n"
                       "<backup name=\"Mail ($P)\" foreach=\"P\" in=\"" + kRoot + "\\Profiles\\x\">\n"
                       " <item path=\"" + kRoot + "\\Profiles\\($P)\\\"/>\n"
                       " <item path=\"" + src + "store.dat\"/>\n"
                       "</backup>\n"
                       "</catalogue>\n"));
  const std::vector<std::string> chosen = {"Mail Work: home?*"};
  for (bool pack : {false, true}) {
    SCOPED_TRACE(pack ? "packed" : "plain");
    Catalogue catalogue;
    Load(catalogue, temp.Path() + "backup.xml", chosen);
    ASSERT_TRUE(Backup(catalogue, pack));
    DeleteKeyTree(kRoot + "\\Profiles");
    WriteWholeFile(src + "store.dat", "changed");

    ArchiveReader reader(&front);
    Catalogue settings;
    std::string folder = set;
    if (pack) {
      ASSERT_TRUE(reader.Open(set + "restore.zip", true));
      folder = temp.Path() + "work\\";
      UnpackSettings(reader, folder, settings);
    }
    Load(settings, folder + "restore.xml", chosen);
    EXPECT_TRUE(RunRestore(disk, reader, pack, folder, settings, front));
    EXPECT_EQ("mail.example.org",
              ReadRegistryValue(kRoot + "\\Profiles\\Work: home?*\\Server").value_or("?"));
    EXPECT_EQ("mails", ReadWholeFile(src + "store.dat"));
    reader.Close();
    disk.RemoveFolderTree(set);
    disk.CreateFolderTree(set + "Registry\\");
  }
}

// Settings that can't be written would leave a set that lies about itself.
TEST_F(Engine, UnwritableRestoreSettingsAreFatal) {
  CScriptedInteraction console;
  // A folder in the file's place can't be opened for writing.
  CreateDirectoryA((set + "restore.xml").c_str(), NULL);
  Catalogue catalogue;
  LoadBackup(catalogue, {"Mail"});
  EXPECT_FALSE(Backup(catalogue, false));
  EXPECT_NE(std::string::npos, console.output.find("Fatal error: couldn't create restore settings!"));
}

// The console window's title counts the selected entries up to 100%.
TEST_F(Engine, ConsoleTitleShowsThePercentageOfEntriesStarted) {
  char title[256];
  SetLastError(ERROR_SUCCESS);
  if (GetConsoleTitleA(title, sizeof title) == 0 && GetLastError() != ERROR_SUCCESS &&
      !AllocConsole() && !(FreeConsole() && AllocConsole()))
    GTEST_SKIP() << "no console";
  SetConsoleTitleA("Saving");
  std::vector<std::string> titles;
  CProgressWatch console;
  console.onOutput = [&](const std::string&) {
    GetConsoleTitleA(title, sizeof title);
    titles.push_back(title);
  };
  Catalogue catalogue;
  LoadBackup(catalogue, {"Editor", "Mail", "Other"});
  ASSERT_TRUE(Backup(catalogue, false));
  GetConsoleTitleA(title, sizeof title);
  titles.push_back(title);
  // Each line is written before its entry's percentage.
  EXPECT_EQ((std::vector<std::string>{"Saving", "Saving - 33%", "Saving - 66%", "Saving - 100%"}),
            titles);
}

// A front end of its own, as the wizard's tests will drive the runs: it
// records what the run tells it and answers its questions from a script.
class CScriptedRun : public IRunCallback {
 public:
  void StartEntry(const std::string& dottedPath, int number, int total) override {
    entries.push_back(dottedPath + " " + std::to_string(number) + "/" + std::to_string(total));
  }
  void SetCurrentPath(const std::string& path) override { paths.push_back(path); }
  bool ShouldStop() override { return false; }
  bool AskOverwrite(const std::string& path, OverwriteAnswer& answer) override {
    overwrites.push_back(path);
    answer = OverwriteYesToAll;
    return true;
  }
  int AskFileError(const std::string& text, const std::string&, UINT) override {
    fileErrors.push_back(text);
    return IDIGNORE;
  }
  bool GetArchivePassword(const std::string& entryName, std::string& password) override {
    passwords.push_back(entryName);
    password = "s3cret";
    return true;
  }
  void ShowFatalError(const std::string& text) override { fatal.push_back(text); }
  void LogItemError(const std::string& text) override { itemErrors.push_back(text); }

  std::vector<std::string> entries, paths, overwrites, fileErrors, passwords, fatal, itemErrors;
};

TEST_F(Engine, RunsTellTheirFrontEndEntriesPathsAndQuestions) {
  CScriptedInteraction console;
  CScriptedRun backupFront;
  Catalogue catalogue;
  LoadBackup(catalogue);
  ArchiveWriter archive;
  ASSERT_TRUE(archive.Open(set + "restore.zip", set, false, std::string("s3cret"), 6));
  ASSERT_TRUE(RunBackup(disk, archive, true, set, catalogue, backupFront, true));
  ASSERT_TRUE(archive.Close());
  EXPECT_EQ((std::vector<std::string>{"Editor 1/2", "Editor.Mail 2/2"}), backupFront.entries);
  EXPECT_NE(backupFront.paths.end(),
            std::find(backupFront.paths.begin(), backupFront.paths.end(), src + "editor.ini"));
  EXPECT_TRUE(backupFront.fatal.empty());
  EXPECT_TRUE(console.output.empty()) << console.output;  // nothing went past the front end

  // A restore over the files asks before the first one, and the password
  // comes from the front end once per entry it unpacks.
  Spoil();
  std::string work = temp.Path() + "work\\";
  CScriptedRun restoreFront;
  ArchiveReader reader(set + "restore.zip", false, &restoreFront);
  Catalogue settings;
  UnpackSettings(reader, work, settings);
  ASSERT_TRUE(RunRestore(disk, reader, true, work, settings, restoreFront));
  EXPECT_EQ(backupFront.entries, restoreFront.entries);
  EXPECT_EQ((std::vector<std::string>{src + "editor.ini"}), restoreFront.overwrites);
  EXPECT_FALSE(restoreFront.passwords.empty());
  ExpectProgramBack();

  // A file another program holds is put to the front end, not to a box.
  CScriptedRun lockedFront;
  disk.SetRunCallback(&lockedFront);
  {
    CHandle held(CreateFileA((src + "editor.ini").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                             0, NULL));
    ASSERT_TRUE(held.Valid());
    Catalogue again;
    LoadBackup(again);
    ArchiveWriter unused;
    EXPECT_TRUE(RunBackup(disk, unused, false, set, again, lockedFront, true));
  }
  disk.SetRunCallback(nullptr);
  ASSERT_EQ(1u, lockedFront.fileErrors.size());
  EXPECT_NE(std::string::npos, lockedFront.fileErrors[0].find(src + "editor.ini"));
  // The item's log line goes to the front end too.
  EXPECT_NE(lockedFront.itemErrors.end(),
            std::find_if(lockedFront.itemErrors.begin(), lockedFront.itemErrors.end(),
                         [&](const std::string& line) {
                           return line.find("Error: failed to backup file:\n" + src +
                                            "editor.ini") == 0;
                         }));
  EXPECT_TRUE(console.boxes.empty());
}

// Packed sets must stay within 2 GiB: exactly the limit passes.
TEST_F(Engine, ArchiveSizeLimitIsCheckedAfterPacking) {
  for (std::uint64_t size : {2147483648ULL, 2147483649ULL}) {
    CScriptedInteraction console;
    Catalogue catalogue;
    LoadBackup(catalogue, {"Mail"});
    ArchiveWriter archive;
    // The archive being written is measured, whatever its name (a new set
    // is written beside an old one until it is complete).
    ASSERT_TRUE(archive.Open(set + "building.zip", set, false, std::nullopt, 1));
    // Stands in for an archive that grew that large.
    CHandle big(CreateFileA((set + "building.zip").c_str(), GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL));
    ASSERT_TRUE(big.Valid());
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    ASSERT_TRUE(SetFilePointerEx(big.Get(), end, NULL, FILE_BEGIN) && SetEndOfFile(big.Get()));
    big.Reset();
    bool result = RunBackup(disk, archive, true, set, catalogue, front, true);
    archive.Close();
    DeleteFileA((set + "building.zip").c_str());
    bool told = console.output.find(
                    "Fatal error: archive too large! Please do an uncompressed backup.") !=
                std::string::npos;
    EXPECT_EQ(size == 2147483648ULL, result);
    EXPECT_EQ(size != 2147483648ULL, told);
  }
}

}  // namespace
