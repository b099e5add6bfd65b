#include "catalogue/RestoreSettings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "app/Interaction.h"
#include "catalogue/Catalogue.h"
#include "catalogue/PathVariables.h"
#include "catalogue/Registry.h"
#include "support/TestSupport.h"

namespace {

const std::string kRoot = "HKEY_CURRENT_USER\\Software\\QmSettingsTests";
const std::string kCustom = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark\\Custom";

std::string Lines(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

class RestoreSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSystemOperations());
    DeleteKeyTree(kRoot);
    DeleteKeyTree(kCustom);
    ASSERT_TRUE(WriteRegistryValue(kRoot + "\\Present\\Version", "x", 0) ||
                (CreateRegistryKey(kRoot + "\\Present") &&
                 WriteRegistryValue(kRoot + "\\Present\\Version", "Seven", 0)));
    for (const char* profile : {"work", "home", "travel"})
      ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Profiles\\" + profile));
    ASSERT_TRUE(CreateRegistryKey(kCustom));
    WriteRegistryValue(kCustom + "\\itemName0", "Letters", 0);
    WriteRegistryValue(kCustom + "\\itemValue0", "D:\\Letters\\", 0);
    games = temp.Path() + "Games";
    CreateDirectoryA(games.c_str(), NULL);
    CreateDirectoryA((games + "\\Chess").c_str(), NULL);
  }
  void TearDown() override {
    DeleteKeyTree(kRoot);
    DeleteKeyTree(kCustom);
    CloseSystemOperations();
  }

  std::string Catalogue() {
    return Lines(
        "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\n"
        "<catalogue>\n"
        "<backup name=\"Editor ($Ver)\" display=\"Text editor\" winVer=\"xp2000\" keyExists=\"" + kRoot + "\\Present\">\n"
        " <var name=\"Ver\" value=\"[" + kRoot + "\\Present\\Version]\"/>\n"
        " <item path=\"" + kRoot + "\\Present\\\"/>\n"
        " <item path=\"C:\\gone\" keyExists=\"" + kRoot + "\\Missing\"/>\n"
        " <item name=\"data\" path=\"($AppData)\\Editor\\\"/>\n"
        " <backup name=\"Profile ($P)\" foreach=\"P\" in=\"" + kRoot + "\\Profiles\\x\">\n"
        "  <item path=\"($AppData)\\Editor\\($P).ini\"/>\n"
        " </backup>\n"
        " <backup name=\"Skipped\">\n"
        "  <item path=\"C:\\skip\"/>\n"
        " </backup>\n"
        "</backup>\n"
        "<backup name=\"Saves\" expandSubDirs=\"" + games + "\">\n"
        "</backup>\n"
        "<backup name=\"Absent\" keyExists=\"" + kRoot + "\\Missing\">\n"
        " <item path=\"C:\\absent\"/>\n"
        "</backup>\n"
        "</catalogue>\n");
  }

  // Evaluates the catalogue for a backup and selects by name.
  void Prepare(::Catalogue& catalogue, const std::vector<std::string>& chosen) {
    WriteWholeFile(temp.Path() + "backup.xml", Catalogue());
    catalogue.SetPath(temp.Path() + "backup.xml");
    ASSERT_TRUE(catalogue.Evaluate());
    AddCustomEntries(catalogue);
    PrepareEntries(catalogue);
    for (const auto& entry : catalogue.Entries())
      for (const std::string& name : chosen)
        if (entry->valid && entry->name == name) SelectEntry(*entry);
  }

  CTemporaryFolder temp;
  std::string games;
};

TEST_F(RestoreSettings, DocumentLayoutIsExact) {
  ::Catalogue catalogue;
  Prepare(catalogue, {"Editor Seven", "Profile Home", "Profile Work", "Saves", "Chess",
                      "Custom files and folders", "Letters", "Absent"});
  std::string path = temp.Path() + "restore.xml";
  ASSERT_TRUE(BuildRestoreSettings(catalogue, path));
  std::string k = kRoot;
  EXPECT_EQ(Lines(
      "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\n"
      "<RestoreSettings>\n"
      "    <restore name=\"Editor Seven\" display=\"Text editor\" winVer=\"xp2000\" keyExists=\"" + k + "\\Present\">\n"
      "        <var name=\"Ver\" value=\"[" + k + "\\Present\\Version]\"/>\n"
      "            <restore name=\"Profile Home\">\n"
      "                    <var name=\"P\" value=\"Home\"/>\n"
      "                    <item path=\"($AppData)\\Editor\\($P).ini\" name=\"1\"/>\n"
      "            </restore>\n"
      "            <restore name=\"Profile Work\">\n"
      "                    <var name=\"P\" value=\"Work\"/>\n"
      "                    <item path=\"($AppData)\\Editor\\($P).ini\" name=\"3\"/>\n"
      "            </restore>\n"
      "        <item path=\"" + k + "\\Present\\\" name=\"1\"/>\n"
      "        <item path=\"($AppData)\\Editor\\\" name=\"data\"/>\n"
      "    </restore>\n"
      "    <restore name=\"Saves\">\n"
      "            <restore name=\"Chess\" display=\"Restore this folder from Saves\">\n"
      "                    <item path=\"" + games + "\\Chess\\\" name=\"\"/>\n"
      "            </restore>\n"
      "    </restore>\n"
      "    <restore name=\"Custom files and folders\" display=\"Custom files and folders (double click or press Insert on children to change items)\" detect=\"\">\n"
      "            <restore name=\"Letters\" display=\"D:\\Letters\\\" detect=\"\">\n"
      "                    <item path=\"D:\\Letters\\\" name=\"\"/>\n"
      "            </restore>\n"
      "    </restore>\n"
      "</RestoreSettings>\n"),
      ReadWholeFile(path));
}


TEST_F(RestoreSettings, ReadsBackAsACatalogueOnTheTarget) {
  ::Catalogue catalogue;
  Prepare(catalogue, {"Profile Travel", "Chess", "Letters"});  // their parents come along
  std::string path = temp.Path() + "restore.xml";
  ASSERT_TRUE(BuildRestoreSettings(catalogue, path));

  ::Catalogue restored(path);
  ASSERT_TRUE(restored.Evaluate());
  std::string missing = PrepareEntries(restored);
  std::vector<std::string> names;
  for (const auto& entry : restored.Entries()) names.push_back(entry->name);
  EXPECT_EQ((std::vector<std::string>{"Editor Seven", "Profile Travel", "Saves", "Chess",
                                      "Custom files and folders", "Letters"}),
            names);
  const CatalogueEntry& editor = *restored.Entries()[0];
  EXPECT_EQ((std::vector<std::string>{"1;" + kRoot + "\\Present\\", "data;($AppData)\\Editor\\"}),
            editor.items);
  EXPECT_EQ((std::vector<std::string>{"ver"}), editor.variableNames);
  EXPECT_EQ((std::vector<std::string>{"Seven"}), editor.variableValues);
  const CatalogueEntry& travel = *restored.Entries()[1];
  EXPECT_EQ(&editor, travel.parent);
  EXPECT_EQ((std::vector<std::string>{"2;($AppData)\\Editor\\($P).ini"}), travel.items);
  EXPECT_EQ("Travel", FindVariable(&travel, "P").value_or("?"));
  EXPECT_EQ((std::vector<std::string>{";" + games + "\\Chess\\"}), restored.Entries()[3]->items);
  EXPECT_EQ((std::vector<std::string>{";D:\\Letters\\"}), restored.Entries()[5]->items);
  EXPECT_TRUE(missing.empty());

  // On a computer without the program's key the entry is not found.
  DeleteKeyTree(kRoot + "\\Present");
  ASSERT_TRUE(restored.Evaluate());
  EXPECT_EQ("Editor Seven\r\n", PrepareEntries(restored));
}

TEST_F(RestoreSettings, DocumentStillClosesWithoutTheCustomGroup) {
  ::Catalogue catalogue;
  WriteWholeFile(temp.Path() + "backup.xml", Catalogue());
  catalogue.SetPath(temp.Path() + "backup.xml");
  ASSERT_TRUE(catalogue.Evaluate());
  PrepareEntries(catalogue);
  std::string path = temp.Path() + "restore.xml";
  ASSERT_TRUE(BuildRestoreSettings(catalogue, path));
  EXPECT_EQ(Lines("<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\n<RestoreSettings>\n"
                  "</RestoreSettings>\n"),
            ReadWholeFile(path));

  catalogue.SetPath(temp.Path() + "missing.xml");
  EXPECT_FALSE(BuildRestoreSettings(catalogue, temp.Path() + "other.xml"));
  EXPECT_FALSE(FileExists(temp.Path() + "other.xml"));
}

}  // namespace
