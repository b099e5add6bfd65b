#include "system/SpecialItems.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <wininet.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Flags.h"
#include "base/Win32Handle.h"
#include "catalogue/PathVariables.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "support/TestSupport.h"

namespace {

const char kProfileKey[] = "Software\\QmTestMailProfile";
const char kProfilePath[] = "HKEY_CURRENT_USER\\Software\\QmTestMailProfile";
// The identifiers of the stores Id(0) and Id(0xf0) as the profile names their keys.
const std::string kFirstId = "000102030405060708090a0b0c0d0e0f";
const std::string kSecondId = "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff";
const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
// Fri, 14-Mar-2031 10:20:30 GMT; its low half prints as a negative number.
const char kExpiryHalves[] = "31608444 -1252414720";
const FILETIME kExpiry = {0xb559ab00, 0x01e24e7c};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), ::tolower);
  return text;
}

std::string CookiesOf(const std::string& address) {
  char data[4096];
  DWORD size = sizeof data;
  return InternetGetCookieA(address.c_str(), NULL, data, &size) ? data : "<none>";
}

// A stream over the text, read as the restore reads its files.
std::unique_ptr<FILE, int (*)(FILE*)> TextStream(const std::string& folder,
                                                 const std::string& text) {
  WriteWholeFile(folder + "stream.txt", text);
  return {fopen((folder + "stream.txt").c_str(), "rt"), fclose};
}

class SpecialItems : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSystemOperations());
    ResetFlags();
    set = temp.Path() + "Set\\";
    CreateDirectoryA(set.c_str(), NULL);
  }
  void TearDown() override {
    CloseSystemOperations();
    ResetFlags();
  }
  bool Backup(const std::string& item, bool packed, const std::string& itemFolder = "Item") {
    ArchiveWriter writer;
    if (packed) writer.Open(set + "restore.zip", set, false, std::nullopt, 6);
    bool done = BackupSpecialItem(item, writer, disk, packed, set, itemFolder);
    writer.Close();
    return done;
  }
  // A packed restore unpacks into its own folder, as the engine does.
  bool Restore(const std::string& item, bool packed, const std::string& itemFolder = "Item") {
    ArchiveReader reader;
    if (!packed) return RestoreSpecialItem(item, reader, disk, false, set, itemFolder);
    reader.Open(set + "restore.zip", true);
    return RestoreSpecialItem(item, reader, disk, true, Unpacked(), itemFolder);
  }
  std::string Unpacked() {
    std::string folder = temp.Path() + "Unpacked\\";
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
  }
  std::string Packed(const std::string& name) {
    ArchiveReader reader(set + "restore.zip", true, NULL);
    std::string target = temp.Path() + "entry.out";
    DeleteFileA(target.c_str());
    return reader.UnpackFile(name, target) ? ReadWholeFile(target) : "<missing>";
  }
  std::string Log() { return ReadWholeFile(temp.Path() + "QMARK.log"); }

  CTemporaryFolder temp;
  CScriptedInteraction ui;
  CDiskObject disk{true, NULL};
  std::string set;
};

// ---------------------------------------------------------------- item paths

TEST_F(SpecialItems, OnlyKnownPathsAreHandled) {
  for (const char* item : {"$Nothing", "$Outlook", "$Outlook10\\HKEY_NOWHERE\\Key\\"}) {
    EXPECT_FALSE(Backup(item, false)) << item;
    EXPECT_FALSE(Restore(item, false)) << item;
    EXPECT_EQ(0u, SpecialItemSize(item, disk)) << item;
  }
  EXPECT_EQ(64000u, SpecialItemSize("$cookies", disk));
  EXPECT_EQ(0u, SpecialItemSize("$LoadRegAtStartup", disk));
  // Its registry file is the engine's business: nothing is written here.
  EXPECT_TRUE(Backup("$loadregatstartup", false));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((set + "Item").c_str()));

  std::optional<std::string> history = GetSpecialFolder("History");
  ASSERT_TRUE(history);
  std::uint64_t before = SpecialItemSize("$HISTORY", disk);
  std::string page = CDiskObject::JoinPath(*history, "qmtest-page.dat");
  WriteWholeFile(page, std::string(1000, 'h'));
  EXPECT_EQ(before + 1000, SpecialItemSize("$History", disk));
  DeleteFileA(page.c_str());
}

// ---------------------------------------------------------------- cookies

TEST_F(SpecialItems, CookieBackupWritesOneRecordPerCacheEntry) {
  // An entry the cache knows without a cookie behind it, and a real cookie.
  FILETIME none = {0, 0};
  ASSERT_TRUE(CommitUrlCacheEntryA("Cookie:qm@qmentry.example.test/", NULL, kExpiry, none,
                                   COOKIE_CACHE_ENTRY, NULL, 0, NULL, NULL));
  const char* set1 = "qa=1; expires=Thu, 01-Jan-2037 00:00:00 GMT";
  const char* set2 = "qb=2; expires=Thu, 01-Jan-2037 00:00:00 GMT";
  ASSERT_TRUE(InternetSetCookieA("http://qmset.example.test/", NULL, set1));
  ASSERT_TRUE(InternetSetCookieA("http://qmset.example.test/", NULL, set2));

  for (bool packed : {false, true}) {
    ASSERT_TRUE(Backup("$COOKIES", packed));
    std::string text = packed ? Packed("Item\\cookies.txt") : ReadWholeFile(set + "Item\\cookies.txt");
    EXPECT_NE(std::string::npos,
              text.find("http://qmentry.example.test/ " + std::string(kExpiryHalves) + " ;\r\r\n"))
        << text;
    // The cache may or may not know this cookie's expiry; its data is what counts.
    size_t record = ("\n" + text).find("\nhttp://qmset.example.test/ ");
    ASSERT_NE(std::string::npos, record) << text;
    EXPECT_EQ(text.find('\n', record), text.find(" qa=1; qb=2;\r\r\n", record) + 14) << text;
  }
  EXPECT_FALSE(FileExists(set + "cookies.txt"));  // the packed run's temporary file

  DeleteUrlCacheEntryA("Cookie:qm@qmentry.example.test/");
  InternetSetCookieA("http://qmset.example.test/", NULL, "qa=; expires=Thu, 01-Jan-2000 00:00:00 GMT");
  InternetSetCookieA("http://qmset.example.test/", NULL, "qb=; expires=Thu, 01-Jan-2000 00:00:00 GMT");
}

TEST_F(SpecialItems, CookieRestoreSetsEachTokenOfARecord) {
  CreateDirectoryA((set + "Item").c_str(), NULL);
  WriteWholeFile(set + "Item\\cookies.txt",
                 "http://qmone.example.test/ " + std::string(kExpiryHalves) + " qc=3; qd=4;\r\r\n"
                 "http://qmtwo.example.test/path/ 31608444 0 qe=five six;\r\r\n"
                 "http://qmnone.example.test/ 31608444 0 ;\r\r\n");
  ASSERT_TRUE(Restore("$Cookies", false));
  EXPECT_EQ("qc=3; qd=4", CookiesOf("http://qmone.example.test/"));
  // A value with a blank in it was two tokens, set one by one.
  std::string two = CookiesOf("http://qmtwo.example.test/path/");
  EXPECT_EQ(0u, two.find("qe=five")) << two;
  EXPECT_EQ(std::string::npos, two.find("five six")) << two;
  // An address written without cookies sets none.
  EXPECT_EQ("<none>", CookiesOf("http://qmnone.example.test/"));

  // Packed: the extracted copy is removed again.
  WriteWholeFile(temp.Path() + "cookies.txt", "http://qmpacked.example.test/ 31608444 0 qf=6;");
  {
    ArchiveWriter writer(set + "restore.zip", set, false, std::nullopt, 6, NULL);
    ASSERT_TRUE(writer.AddFileAs(temp.Path() + "cookies.txt", "Item"));
  }
  ASSERT_TRUE(Restore("$Cookies", true));
  EXPECT_EQ("qf=6", CookiesOf("http://qmpacked.example.test/"));
  EXPECT_FALSE(FileExists(Unpacked() + "cookies.txt"));
  EXPECT_FALSE(Restore("$Cookies", true, "Elsewhere"));
}

TEST_F(SpecialItems, CookieFilesAreCheckedNotTrusted) {
  for (const char* text : {"", "\r\r\n"})
    EXPECT_TRUE(ImportCookies(TextStream(temp.Path(), text).get())) << text;
  for (const char* text : {"http://qmbad.example.test/", "http://qmbad.example.test/ 1",
                           "http://qmbad.example.test/ one two qg=7;",
                           "http://qmbad.example.test/ 1 99999999999 qg=7;"})
    EXPECT_FALSE(ImportCookies(TextStream(temp.Path(), text).get())) << text;
  EXPECT_EQ("<none>", CookiesOf("http://qmbad.example.test/"));

  // Overlong addresses and cookies are left out, and the rest still comes in.
  std::string longHost = "http://" + std::string(300, 'x') + ".test/";
  std::string text = longHost + " 31608444 0 qh=8;\r\r\nhttp://qmlong.example.test/ 31608444 0 " +
                     "qi=" + std::string(5000, 'i') + "; qj=10;\r\r\n";
  EXPECT_TRUE(ImportCookies(TextStream(temp.Path(), text).get()));
  EXPECT_EQ("qj=10", CookiesOf("http://qmlong.example.test/"));
  EXPECT_NE(std::string::npos, Log().find("address is longer than 255 characters: http://xxx"));
  EXPECT_NE(std::string::npos, Log().find("longer than 4095 characters, for http://qmlong"));
}

// ---------------------------------------------------------------- history

TEST_F(SpecialItems, HistoryBackupListsVisitedAddresses) {
  FILETIME none = {0, 0};
  const char* entry = "Visited: qm@http://qmhistory.example.test/page?a=1";
  ASSERT_TRUE(CommitUrlCacheEntryA(entry, NULL, kExpiry, none, URLHISTORY_CACHE_ENTRY, NULL, 0,
                                   NULL, NULL));
  for (bool packed : {false, true}) {
    ASSERT_TRUE(Backup("$History", packed));
    std::string text = packed ? Packed("Item\\history.txt") : ReadWholeFile(set + "Item\\history.txt");
    EXPECT_NE(std::string::npos, text.find("http://qmhistory.example.test/page?a=1\r\r\n")) << text;
  }
  EXPECT_FALSE(FileExists(set + "history.txt"));
  DeleteUrlCacheEntryA(entry);
}

TEST_F(SpecialItems, HistoryRestoreLeavesComAsItFoundIt) {
  CreateDirectoryA((set + "Item").c_str(), NULL);
  std::string overlong = "http://" + std::string(300, 'y') + ".test/";
  WriteWholeFile(set + "Item\\history.txt", "http://qmvisit.example.test/\r\r\n" + overlong);
  ASSERT_TRUE(Restore("$History", false));
  EXPECT_NE(std::string::npos, Log().find("longer than 255 characters: http://yyy"));
  // The import's own apartment is gone: the thread may still choose another.
  HRESULT result = CoInitializeEx(NULL, COINIT_MULTITHREADED);
  EXPECT_EQ(S_OK, result);
  if (SUCCEEDED(result)) CoUninitialize();
  EXPECT_FALSE(Restore("$History", false, "Missing"));
}

// ---------------------------------------------------------------- mail profiles

class MailProfiles : public SpecialItems {
 protected:
  void SetUp() override {
    SpecialItems::SetUp();
    DeleteKeyTree(kProfilePath);
    std::optional<std::string> profile = GetSpecialFolder("Profile");
    ASSERT_TRUE(profile);
    mailFolder = CDiskObject::JoinPath(*profile, "QM Mail Test\\");
    CreateDirectoryA(mailFolder.c_str(), NULL);
    first = mailFolder + "First Store.pst";
    second = temp.Path() + "Second.pst";
    WriteWholeFile(first, "first");
    WriteWholeFile(second, "second!");
  }
  void TearDown() override {
    DeleteKeyTree(kProfilePath);
    disk.RemoveFolderTree(mailFolder);
    SpecialItems::TearDown();
  }
  static std::string Id(int first) {
    std::string id;
    for (int i = 0; i < 16; ++i) id += static_cast<char>(first + i);
    return id;
  }
  static void SetValue(const std::string& subkey, const char* name, DWORD type,
                       const std::string& data) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER,
                                             (std::string(kProfileKey) + "\\" + subkey).c_str(), 0,
                                             NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    if (name) RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size()));
    RegCloseKey(key);
  }
  static std::string GetValue(const std::string& subkey, const char* name, DWORD* type) {
    HKEY key;
    std::string data(4096, '\0');
    DWORD size = static_cast<DWORD>(data.size());
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (std::string(kProfileKey) + "\\" + subkey).c_str(), 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
      return "<missing>";
    LONG status = RegQueryValueExA(key, name, NULL, type, reinterpret_cast<BYTE*>(&data[0]), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? data.substr(0, size) : "<missing>";
  }
  static void SetStores(const std::string& list) {
    SetValue("9207f3e0a3b11019908b08002b2a56c2", "01023d00", REG_BINARY, list);
  }
  static std::string Item(const char* version = "10") {
    return std::string("$outlook") + version + "\\HKEY_CURRENT_USER\\" + kProfileKey + "\\";
  }
  std::string Folded(const std::string& path) {
    std::string profile = *GetSpecialFolder("Profile");
    EXPECT_EQ(Lower(profile), Lower(path.substr(0, profile.size())));
    std::string folded = "%userprofile%" + path.substr(profile.size());
    for (size_t at; (at = folded.find(' ')) != std::string::npos;) folded.replace(at, 1, "%20");
    return folded;
  }

  std::string mailFolder, first, second;
};

TEST_F(MailProfiles, BackupCopiesEveryStoreAndMapsItsPath) {
  SetStores(Id(0) + Id(0xf0));
  SetValue(kFirstId, "001e6700", REG_BINARY, first + std::string(1, '\0'));
  SetValue(kSecondId, "001e6700", REG_SZ, second);
  ASSERT_TRUE(Backup(Item(), false, "Mail\\Item"));
  EXPECT_EQ("first", ReadWholeFile(set + "Mail\\Item\\Outook0.pst"));
  EXPECT_EQ("second!", ReadWholeFile(set + "Mail\\Item\\Outook1.pst"));
  EXPECT_EQ("Outook0.pst " + kFirstId + " %userprofile%\\QM%20Mail%20Test\\"
            "First%20Store.pst\r\n"
            "Outook1.pst " + kSecondId + " " + Folded(second) + "\r\n",
            ReadWholeFile(set + "Mail\\Item\\outlook.txt"));
  EXPECT_EQ(12u, SpecialItemSize(Item(), disk));

  // A store whose file can't be read (the mail program holds it) is logged
  // and left out of the map, so a restore never points a profile at it.
  ui.QueueBoxAnswer(IDIGNORE);  // the file question
  {
    CHandle held(CreateFileA(first.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL));
    ASSERT_TRUE(held.Valid());
    ResetItemErrors();
    ASSERT_TRUE(Backup(Item(), false, "Held"));
  }
  EXPECT_EQ("Outook1.pst " + kSecondId + " " + Folded(second) + "\r\n",
            ReadWholeFile(set + "Held\\outlook.txt")) << Log();
  EXPECT_FALSE(FileExists(set + "Held\\Outook0.pst"));
  EXPECT_NE(std::string::npos, Log().find("Mail store file not copied: " + first));
  EXPECT_EQ(1u, ItemErrorCount());

  // A store with no file (a server mailbox) is logged and skipped; the
  // stores after it are still saved.
  SetStores(Id(0xf0) + Id(0));
  RegDeleteKeyA(HKEY_CURRENT_USER, (std::string(kProfileKey) + "\\" + kSecondId).c_str());
  ASSERT_TRUE(Backup(Item(), true));
  EXPECT_EQ("first", Packed("Item\\Outook1.pst"));
  EXPECT_EQ("Outook1.pst " + kFirstId + " " + Folded(first) + "\r\n", Packed("Item\\outlook.txt"));
  EXPECT_NE(std::string::npos,
            Log().find("Mail store left out: the profile names no file for store " + kSecondId));
  EXPECT_FALSE(FileExists(set + "outlook.txt"));
  EXPECT_EQ(5u, SpecialItemSize(Item(), disk));  // a store without a path adds nothing
}

TEST_F(MailProfiles, StoreListMustFitItsArea) {
  EXPECT_FALSE(Backup(Item(), false));  // no list at all
  SetStores(std::string(15, '\0'));
  EXPECT_EQ(0u, SpecialItemSize(Item(), disk));
  EXPECT_TRUE(Backup(Item(), false));
  EXPECT_EQ("", ReadWholeFile(set + "Item\\outlook.txt"));
  std::string stores;
  for (int i = 0; i < 64; ++i) stores += Id(i);
  SetStores(stores);
  EXPECT_FALSE(Backup(Item(), false));
  EXPECT_EQ(0u, SpecialItemSize(Item(), disk));
}

TEST_F(MailProfiles, RestoreWritesPathsIntoExistingKeysOnly) {
  CreateDirectoryA((set + "Item").c_str(), NULL);
  WriteWholeFile(set + "Item\\Outook0.pst", "restored");
  WriteWholeFile(set + "Item\\outlook.txt", "Outook0.pst " + kFirstId +
                                                " %userprofile%\\qm%20mail%20test\\new%20store.pst\r\n");
  std::string target = mailFolder + "new store.pst";

  // On a computer without the profile's store keys nothing is written.
  EXPECT_FALSE(Restore(Item(), false));
  EXPECT_FALSE(FileExists(target));

  SetValue(kFirstId, nullptr, 0, "");
  ASSERT_TRUE(Restore(Item(), false));
  EXPECT_EQ("restored", ReadWholeFile(target));
  DWORD type = 0;
  EXPECT_EQ(Lower(target) + std::string(1, '\0'), Lower(GetValue(kFirstId, "001e6700", &type)));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

  // A line naming a file outside the set is refused.
  WriteWholeFile(set + "Item\\outlook.txt", "..\\..\\Outook0.pst " + kFirstId + " c:\\x.pst\r\n");
  EXPECT_FALSE(Restore(Item(), false));
}

TEST_F(MailProfiles, UnicodeProfilesRoundTripThroughAPackedSet) {
  // The restore writes 2n + 1 bytes of UTF-16, the backup reads them back.
  CreateDirectoryA((set + "Item").c_str(), NULL);
  WriteWholeFile(set + "Item\\Outook0.pst", "unicode");
  std::string line = "Outook0.pst " + kFirstId + " " + Folded(first) + "\r\n";
  WriteWholeFile(set + "Item\\outlook.txt", line);
  SetStores(Id(0));
  SetValue(kFirstId, nullptr, 0, "");
  ASSERT_TRUE(Restore(Item("11"), false));
  DWORD type = 0;
  std::string stored = GetValue(kFirstId, "001f6700", &type);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
  ASSERT_EQ(2 * first.size() + 1, stored.size());
  std::string low, high;
  for (size_t i = 0; i + 1 < stored.size(); i += 2) low += stored[i], high += stored[i + 1];
  EXPECT_EQ(Lower(first), Lower(low));
  EXPECT_EQ(std::string(first.size(), '\0'), high);
  EXPECT_EQ('\0', stored.back());

  ASSERT_TRUE(Backup(Item("11"), true));
  EXPECT_EQ(line, Packed("Item\\outlook.txt"));
  DeleteFileA(first.c_str());
  ASSERT_TRUE(Restore(Item("11"), true));
  EXPECT_EQ("unicode", ReadWholeFile(first));
  EXPECT_FALSE(FileExists(Unpacked() + "outlook.txt"));
}

// ---------------------------------------------------------------- import at the next start

TEST_F(SpecialItems, StartupImportLeavesACommandForTheNextStart) {
  std::string tempFolder = temp.Path() + "Temp Folder\\";
  CreateDirectoryA(tempFolder.c_str(), NULL);
  SetEnvironmentVariableA("TMP", tempFolder.c_str());
  CreateDirectoryA((set + "Registry").c_str(), NULL);
  WriteWholeFile(set + "Registry\\A.B.xml", "<Registry/>");

  ASSERT_TRUE(Restore("$LoadRegAtStartup", false, "A\\B"));
  EXPECT_TRUE(RebootNeeded());
  EXPECT_EQ("<Registry/>", ReadWholeFile(tempFolder + "A.B.xml"));
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunOnce, 0, KEY_ALL_ACCESS, &key));
  char command[1024] = "";
  DWORD size = sizeof command;
  RegQueryValueExA(key, "A.B", NULL, NULL, reinterpret_cast<BYTE*>(command), &size);
  RegDeleteValueA(key, "A.B");
  std::string escaped = temp.Path() + "Temp%20Folder\\A.B.xml";
  EXPECT_EQ("\"" + ProgramFolder() + "system_tests.exe\" /con /s /y /i " + escaped + " /del",
            std::string(command));

  // A catalogue item's folder ends with its own name; the registry file is
  // the entry's.
  ASSERT_TRUE(Restore("$LoadRegAtStartup", false, "A\\B\\7"));
  size = sizeof command;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "A.B", NULL, NULL, reinterpret_cast<BYTE*>(command), &size));
  EXPECT_NE(ERROR_SUCCESS, RegQueryValueExA(key, "A.B.7", NULL, NULL, NULL, NULL));
  RegDeleteValueA(key, "A.B");

  // Without its registry file the item fails and leaves no command.
  ResetFlags();
  EXPECT_FALSE(Restore("$LoadRegAtStartup", false, "A\\C"));
  EXPECT_TRUE(RebootNeeded());
  EXPECT_NE(ERROR_SUCCESS, RegQueryValueExA(key, "A.C", NULL, NULL, NULL, NULL));
  RegCloseKey(key);
}

}  // namespace
