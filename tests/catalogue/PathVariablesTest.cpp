#include "catalogue/PathVariables.h"

#include <gtest/gtest.h>

#include "base/Interaction.h"
#include "catalogue/CatalogueEntry.h"
#include "support/TestSupport.h"

namespace {

class PathVariables : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSystemOperations());
    windows = GetSpecialFolder("Windows").value_or("");
    profile = GetSpecialFolder("Profile").value_or("");
    ASSERT_FALSE(windows.empty());
    ASSERT_FALSE(profile.empty());
  }
  void TearDown() override { CloseSystemOperations(); }

  static void Define(CatalogueEntry& entry, const std::string& name, const std::string& value) {
    entry.variableNames.push_back(name);
    entry.variableValues.push_back(value);
  }
  std::string Expanded(std::string path, const CatalogueEntry* entry, bool expectOk = true) {
    EXPECT_EQ(expectOk, ExpandPathVariables(path, entry)) << path;
    return path;
  }

  CTemporaryFolder temp;
  std::string windows, profile;
};

TEST_F(PathVariables, SpecialFolderNamesIgnoreCase) {
  EXPECT_EQ(windows + "\\win.ini", Expanded("($windows)\\win.ini", nullptr));
  EXPECT_EQ(windows, GetSpecialFolder("WINDOWS").value_or("?"));
  EXPECT_FALSE(GetSpecialFolder("Windows95"));
  EXPECT_FALSE(GetSpecialFolder(""));
}

TEST_F(PathVariables, MissingSpecialFolderIsCreated) {
  // Point the user's templates somewhere that doesn't exist yet.
  std::string target = temp.Path() + "MyTemplates";
  HKEY key;
  ASSERT_EQ(0, RegCreateKeyExA(HKEY_CURRENT_USER,
                               "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                               0, NULL, 0, KEY_READ | KEY_WRITE, NULL, &key, NULL));
  char old[MAX_PATH] = "";
  DWORD oldSize = sizeof old, oldType = REG_NONE;
  bool hadOld = RegQueryValueExA(key, "Templates", NULL, &oldType, reinterpret_cast<BYTE*>(old),
                                 &oldSize) == 0;
  RegSetValueExA(key, "Templates", 0, REG_SZ, reinterpret_cast<const BYTE*>(target.c_str()),
                 static_cast<DWORD>(target.size() + 1));
  std::optional<std::string> folder = GetSpecialFolder("Templates");
  if (hadOld) {
    RegSetValueExA(key, "Templates", 0, oldType, reinterpret_cast<BYTE*>(old), oldSize);
  } else {
    RegDeleteValueA(key, "Templates");
  }
  RegCloseKey(key);
  ASSERT_TRUE(folder);
  EXPECT_STRCASEEQ(target.c_str(), folder->c_str());
  DWORD attributes = GetFileAttributesA(target.c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(PathVariables, VariablesOfEnclosingEntriesAndRepeatedReferences) {
  CatalogueEntry outer, inner;
  inner.parent = &outer;
  Define(outer, "Store", "D:\\Mail");
  Define(outer, "Account", "outer");
  Define(inner, "ACCOUNT", "inner");
  EXPECT_EQ("D:\\Mail\\inner\\inner.pst", Expanded("($Store)\\($account)\\($Account).pst", &inner));
  EXPECT_EQ("inner", FindVariable(&inner, "account").value_or("?"));
  EXPECT_EQ("outer", FindVariable(&outer, "account").value_or("?"));
  EXPECT_FALSE(FindVariable(&outer, "Missing"));
}

TEST_F(PathVariables, ValuesMayHoldFurtherReferences) {
  CatalogueEntry entry;
  Define(entry, "Base", "($Windows)\\Base");
  Define(entry, "Data", "($Base)\\Data");
  Define(entry, "Logs", "($Base)\\Logs");
  // Base comes back through Logs after it was replaced once: no loop.
  EXPECT_EQ(windows + "\\Base\\Data;" + windows + "\\Base\\Logs",
            Expanded("($Data);($Logs)", &entry));
}

TEST_F(PathVariables, SpecialFolderWinsOverACatalogueVariable) {
  CatalogueEntry entry;
  Define(entry, "Windows", "D:\\NotWindows");
  EXPECT_EQ(windows, Expanded("($Windows)", &entry));
}

TEST_F(PathVariables, UnresolvableReferencesFail) {
  CatalogueEntry entry;
  Define(entry, "Known", "k");
  EXPECT_EQ("($Known\\x", Expanded("($Known\\x", &entry, false));
  Expanded("($Unknown)\\x", &entry, false);
  Expanded("($Known)\\($Unknown)", &entry, false);
  EXPECT_EQ("C:\\plain\\(path)\\$x", Expanded("C:\\plain\\(path)\\$x", &entry));
  EXPECT_EQ("", Expanded("", &entry));
}

TEST_F(PathVariables, SelfReferencesFailInsteadOfLooping) {
  CatalogueEntry entry;
  Define(entry, "Self", "x\\($self)");
  Define(entry, "A", "($B)\\a");
  Define(entry, "B", "($C)\\b");
  Define(entry, "C", "($A)\\c");
  Define(entry, "Same", "($Same)");
  Expanded("($Self)", &entry, false);
  Expanded("($A)", &entry, false);
  Expanded("($Same)", &entry, false);
  Expanded("($Windows)\\($C)", &entry, false);
}

TEST_F(PathVariables, WithoutTheShellFunctionOnlyCatalogueVariablesExpand) {
  CloseSystemOperations();
  CatalogueEntry entry;
  Define(entry, "Mine", "D:\\Mine");
  EXPECT_FALSE(GetSpecialFolder("Windows"));
  Expanded("($Windows)\\x", &entry, false);
  EXPECT_EQ("D:\\Mine\\x", Expanded("($Mine)\\x", &entry));
}

TEST_F(PathVariables, FoldingKeepsLetterCaseAndUsesThePlaceholders) {
  std::string mixed = profile;
  for (size_t i = 0; i < mixed.size(); i += 2) mixed[i] = static_cast<char>(toupper(mixed[i]));
  EXPECT_EQ("%userprofile%\\My Files\\A.txt", FoldersToVariables(mixed + "\\My Files\\A.txt"));
  EXPECT_EQ(profile + "\\my files\\a.txt", VariablesToFolders("%userprofile%\\my files\\a.txt"));
  EXPECT_EQ("%windir%\\System32", FoldersToVariables(windows + "\\System32"));
  EXPECT_EQ(windows + "\\System32", VariablesToFolders("%windir%\\System32"));

  // The user's programs lie inside the profile, which is folded first.
  std::string programs = GetSpecialFolder("Programs").value_or("");
  ASSERT_EQ(0u, programs.find(profile));
  EXPECT_EQ(0u, FoldersToVariables(programs).find("%userprofile%\\"));
  std::string common = GetSpecialFolder("ComPrograms").value_or("");
  if (common.find(profile) != 0) {
    EXPECT_EQ("%comprograms%\\Tool.lnk", FoldersToVariables(common + "\\Tool.lnk"));
    EXPECT_EQ(common + "\\Tool.lnk", VariablesToFolders("%comprograms%\\Tool.lnk"));
  }
}

// A folder's path is folded only where a name of the path ends with it, or
// the value would point at another folder on the next computer.
TEST_F(PathVariables, FoldingStopsOnlyAtPathBoundaries) {
  CPlaceholderFolders folders;
  EXPECT_EQ(profile + "beer\\file.txt", FoldersToVariables(profile + "beer\\file.txt"));
  EXPECT_EQ(profile + "beer", folders.Fold(profile + "beer"));
  EXPECT_EQ(windows + "32\\x;%windir%", folders.Fold(windows + "32\\x;" + windows));
  EXPECT_EQ("%userprofile%", folders.Fold(profile));
  EXPECT_EQ("%userprofile%/a", folders.Fold(profile + "/a"));
  EXPECT_EQ("\"%userprofile%\" /x;%windir%;%windir%\\a",
            folders.Fold("\"" + profile + "\" /x;" + windows + ";" + windows + "\\a"));
  // A longer name first, the folder itself later in the same text.
  EXPECT_EQ(profile + "2 %userprofile%\\b", folders.Fold(profile + "2 " + profile + "\\b"));
}

TEST_F(PathVariables, UnfoldingKeepsEverythingButPlaceholders) {
  EXPECT_EQ("Mixed Case Name", VariablesToFolders("Mixed Case Name"));
  EXPECT_EQ("%WINDIR%\\x %Temp%", VariablesToFolders("%WINDIR%\\x %Temp%"));
  EXPECT_EQ(windows + ";" + windows, VariablesToFolders("%windir%;%windir%"));
}

}  // namespace
