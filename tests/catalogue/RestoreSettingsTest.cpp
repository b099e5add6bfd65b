#include "catalogue/RestoreSettings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <initializer_list>

#include "base/Interaction.h"
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


const std::string kTrips = "HKEY_CURRENT_USER\\Software\\QmRoundTripTests";

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// What a restore sees of an entry list: the entries as a tree, each with its
// items, its variables and, where the document decides it, its display text.
std::string Outline(const ::Catalogue& catalogue, bool selectedOnly) {
  std::string out;
  for (const auto& entry : catalogue.Entries()) {
    if (selectedOnly && !entry->selected) continue;
    std::string indent;
    for (const CatalogueEntry* e = entry->parent; e != nullptr; e = e->parent) indent += "  ";
    out += indent + entry->name + (entry->valid ? "" : " (not found)") + "\n";
    // The group and the sub-folders are told what to show at each end.
    bool ownDisplay = !(entry->parent == nullptr && entry->name == kCustomGroupName) &&
                      entry->display.find(" this folder from ") == std::string::npos;
    if (ownDisplay && !entry->display.empty()) out += indent + "  display " + entry->display + "\n";
    for (const std::string& item : entry->items) {
      if (item.empty()) continue;
      out += indent + "  item " + (item.find(';') == std::string::npos ? ";" : "") + item + "\n";
    }
    for (size_t i = 0; i < entry->variableNames.size(); ++i)
      out += indent + "  var " + Lower(entry->variableNames[i]) + "=" + entry->variableValues[i] + "\n";
  }
  return out;
}

// Evaluates a catalogue as a backup would, chooses every entry found on this
// computer, writes the restore settings and reads them back as a restore
// on the same computer would.
class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSystemOperations());
    DeleteKeyTree(kTrips);
    DeleteKeyTree(kCustom);
  }
  void TearDown() override {
    DeleteKeyTree(kTrips);
    DeleteKeyTree(kCustom);
    CloseSystemOperations();
  }

  void Subkeys(const std::string& key, std::initializer_list<const char*> names) {
    for (const char* name : names) ASSERT_TRUE(CreateRegistryKey(kTrips + "\\" + key + "\\" + name));
  }

  // The catalogue's lines are given without their line ends.
  void Trip(const std::string& lines) {
    WriteWholeFile(temp.Path() + "backup.xml",
                   Lines("<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\n"
                         "<catalogue>\n" + lines + "\n</catalogue>\n"));
    backup.SetPath(temp.Path() + "backup.xml");
    ASSERT_TRUE(backup.Evaluate());
    AddCustomEntries(backup);
    PrepareEntries(backup);
    for (const auto& entry : backup.Entries())
      if (entry->valid) SelectEntry(*entry);
    ASSERT_TRUE(BuildRestoreSettings(backup, Settings()));
    restored.SetPath(Settings());
    ASSERT_TRUE(restored.Evaluate()) << ReadWholeFile(Settings());
    EXPECT_EQ("", PrepareEntries(restored));
  }
  std::string Settings() { return temp.Path() + "restore.xml"; }

  // The backup's outline, then the same read back from the settings.
  void ExpectRestored(const std::string& outline) {
    EXPECT_EQ(outline, Outline(backup, true));
    EXPECT_EQ(outline, Outline(restored, false)) << ReadWholeFile(Settings());
  }

  CTemporaryFolder temp;
  ::Catalogue backup, restored;
};

// A foreach over the users' subkeys with a nested entry of its own.
std::string ProfilesWithCaches() {
  return "<backup name=\"Profile ($P)\" foreach=\"P\" in=\"" + kTrips + "\\Users\\x\">\n"
         " <item path=\"D:\\($P)\\settings.ini\"/>\n"
         " <backup name=\"Cache of ($P)\">\n"
         "  <item path=\"D:\\($P)\\cache\\\"/>\n"
         " </backup>\n"
         "</backup>";
}

class RestoreSettingsNesting : public RoundTrip {};
class RestoreSettingsValues : public RoundTrip {};

TEST_F(RestoreSettingsNesting, EachForeachRepetitionKeepsItsOwnItems) {
  Subkeys("Users", {"alpha", "beta"});
  Trip(ProfilesWithCaches());
  ExpectRestored(
      "Profile Alpha\n  item 1;D:\\($P)\\settings.ini\n  var p=Alpha\n"
      "  Cache of Alpha\n    item 1;D:\\($P)\\cache\\\n"
      "Profile Beta\n  item 2;D:\\($P)\\settings.ini\n  var p=Beta\n"
      "  Cache of Beta\n    item 1;D:\\($P)\\cache\\\n"
      "Custom files and folders\n");
}

TEST_F(RestoreSettingsNesting, ForeachInsideForeachKeepsTheEntriesAfterIt) {
  Subkeys("Users", {"alpha", "beta"});
  Subkeys("Pages", {"one", "two"});
  Trip("<backup name=\"Profile ($P)\" foreach=\"P\" in=\"" + kTrips + "\\Users\\x\">\n"
       " <item path=\"D:\\($P)\\settings.ini\"/>\n"
       " <backup name=\"($P) page ($Q)\" foreach=\"Q\" in=\"" + kTrips + "\\Pages\\x\">\n"
       "  <item path=\"D:\\($P)\\($Q).page\"/>\n"
       " </backup>\n"
       " <backup name=\"Notes of ($P)\">\n"
       "  <item path=\"D:\\($P)\\notes.txt\"/>\n"
       " </backup>\n"
       "</backup>\n"
       "<backup name=\"After\">\n"
       " <item path=\"D:\\after.txt\"/>\n"
       "</backup>");
  ExpectRestored(
      "Profile Alpha\n  item 1;D:\\($P)\\settings.ini\n  var p=Alpha\n"
      "  Alpha page One\n    item 1;D:\\($P)\\($Q).page\n    var q=One\n"
      "  Alpha page Two\n    item 2;D:\\($P)\\($Q).page\n    var q=Two\n"
      "  Notes of Alpha\n    item 1;D:\\($P)\\notes.txt\n"
      "Profile Beta\n  item 2;D:\\($P)\\settings.ini\n  var p=Beta\n"
      "  Beta page One\n    item 1;D:\\($P)\\($Q).page\n    var q=One\n"
      "  Beta page Two\n    item 2;D:\\($P)\\($Q).page\n    var q=Two\n"
      "  Notes of Beta\n    item 1;D:\\($P)\\notes.txt\n"
      "After\n  item 1;D:\\after.txt\n"
      "Custom files and folders\n");
}

// A variable is seen by the entries nested after its definition only, so a
// redefinition after a nested entry must stay after it.
TEST_F(RestoreSettingsNesting, VariablesKeepTheirPlaceAmongNestedEntries) {
  Subkeys("Users", {"alpha", "beta"});
  Trip("<backup name=\"Profile ($P)\" foreach=\"P\" in=\"" + kTrips + "\\Users\\x\">\n"
       " <var name=\"Dir\" value=\"D:\\first\"/>\n"
       " <backup name=\"Early ($P)\">\n"
       "  <var name=\"Seen\" value=\"($Dir)\"/>\n"
       " </backup>\n"
       " <var name=\"Dir\" value=\"D:\\second\"/>\n"
       " <item path=\"($Dir)\\profile.ini\"/>\n"
       " <backup name=\"Late ($P)\">\n"
       "  <var name=\"Seen\" value=\"($Dir)\"/>\n"
       " </backup>\n"
       "</backup>");
  ExpectRestored(
      "Profile Alpha\n  item 1;($Dir)\\profile.ini\n  var p=Alpha\n  var dir=D:\\second\n"
      "  Early Alpha\n    var seen=D:\\first\n  Late Alpha\n    var seen=D:\\second\n"
      "Profile Beta\n  item 2;($Dir)\\profile.ini\n  var p=Beta\n  var dir=D:\\second\n"
      "  Early Beta\n    var seen=D:\\first\n  Late Beta\n    var seen=D:\\second\n"
      "Custom files and folders\n");
}

// A repetition reads the element again from the line after its start tag:
// what shares that line belongs to the first repetition only, and entries
// that share a line are still told apart.
TEST_F(RestoreSettingsNesting, EntriesThatShareALine) {
  Subkeys("Users", {"alpha", "beta"});
  Trip("<backup name=\"Profile ($P)\" foreach=\"P\" in=\"" + kTrips + "\\Users\\x\">"
       "<var name=\"Kind\" value=\"first\"/><backup name=\"Head\" display=\"Only once\"></backup>\n"
       " <item path=\"D:\\($P)\\settings.ini\"/>\n"
       " <backup name=\"A ($P)\" display=\"Shown A\"><item path=\"a\"/></backup>"
       "<backup name=\"B ($P)\" display=\"Shown B\"><item path=\"b\"/></backup>\n"
       "</backup>");
  ExpectRestored(
      "Profile Alpha\n  item 1;D:\\($P)\\settings.ini\n  var p=Alpha\n  var kind=first\n"
      "  Head\n    display Only once\n"
      "  A Alpha\n    display Shown A\n    item 1;a\n"
      "  B Alpha\n    display Shown B\n    item 1;b\n"
      "Profile Beta\n  item 2;D:\\($P)\\settings.ini\n  var p=Beta\n"
      "  A Beta\n    display Shown A\n    item 1;a\n"
      "  B Beta\n    display Shown B\n    item 1;b\n"
      "Custom files and folders\n");
}

TEST_F(RestoreSettingsValues, SubFolderWithAnApostrophe) {
  std::string games = temp.Path() + "Games";
  CreateDirectoryA(games.c_str(), NULL);
  CreateDirectoryA((games + "\\Bob's files").c_str(), NULL);
  Trip("<backup name=\"Saves\" expandSubDirs=\"" + games + "\">\n"
       " <item path=\"" + games + "\\index.dat\"/>\n"
       "</backup>");
  ExpectRestored("Saves\n  item 1;" + games + "\\index.dat\n"
                 "  Bob's files\n    item ;" + games + "\\Bob's files\\\n"
                 "Custom files and folders\n");
  EXPECT_NE(std::string::npos,
            ReadWholeFile(Settings()).find("<restore name=\"Bob&apos;s files\" display=\"Restore "
                                           "this folder from Saves\">"));
}

TEST_F(RestoreSettingsValues, ForeachSubkeyWithAnApostrophe) {
  Subkeys("Users", {"Gamma's", "zeta"});
  Trip(ProfilesWithCaches());
  ExpectRestored(
      "Profile Gamma's\n  item 1;D:\\($P)\\settings.ini\n  var p=Gamma's\n"
      "  Cache of Gamma's\n    item 1;D:\\($P)\\cache\\\n"
      "Profile Zeta\n  item 2;D:\\($P)\\settings.ini\n  var p=Zeta\n"
      "  Cache of Zeta\n    item 1;D:\\($P)\\cache\\\n"
      "Custom files and folders\n");
}

TEST_F(RestoreSettingsValues, CustomItemPathWithAnApostrophe) {
  ASSERT_TRUE(CreateRegistryKey(kCustom));
  WriteRegistryValue(kCustom + "\\itemName0", "Bob's letters", 0);
  WriteRegistryValue(kCustom + "\\itemValue0", "D:\\Bob's letters\\", 0);
  Trip("<backup name=\"Plain\">\n <item path=\"D:\\plain.txt\"/>\n</backup>");
  ExpectRestored("Plain\n  item 1;D:\\plain.txt\n"
                 "Custom files and folders\n"
                 "  Bob's letters\n    display D:\\Bob's letters\\\n    item ;D:\\Bob's letters\\\n");
}

// Whatever the catalogue says through entities means the same on the target.
TEST_F(RestoreSettingsValues, CopiedAttributesMeanWhatTheCatalogueMeant) {
  ASSERT_TRUE(CreateRegistryKey(kTrips + "\\Bob's & Tom's"));
  Trip("<backup name=\"Tom &amp; Jerry\" display=\"Say &quot;hi&quot; &lt;now&gt;\" keyExists=\"" +
       kTrips + "\\Bob&apos;s &amp; Tom&apos;s\">\n"
       " <var name=\"Dir\" value=\"D:\\Bob&apos;s\"/>\n"
       " <item path=\"($Dir)\\R&amp;D\\\"/>\n"
       "</backup>");
  ExpectRestored("Tom & Jerry\n  display Say \"hi\" <now>\n  item 1;($Dir)\\R&D\\\n  var dir=D:\\Bob's\n"
                 "Custom files and folders\n");
  EXPECT_NE(std::string::npos,
            ReadWholeFile(Settings()).find("keyExists=\"" + kTrips + "\\Bob&apos;s &amp; Tom&apos;s\""));
}

// Line breaks stay inside the value, as CR LF, the one form the reader gives.
TEST_F(RestoreSettingsValues, LineBreaksStayInsideTheValue) {
  ASSERT_TRUE(CreateRegistryKey(kCustom));
  WriteRegistryValue(kCustom + "\\itemName0", "One\rTwo\nThree\r\nFour", 0);
  WriteRegistryValue(kCustom + "\\itemValue0", "D:\\notes.txt", 0);
  Trip("<backup name=\"Plain\">\n</backup>");
  ASSERT_EQ(3u, restored.Entries().size());
  EXPECT_EQ("One\r\nTwo\r\nThree\r\nFour", restored.Entries()[2]->name);
  EXPECT_EQ((std::vector<std::string>{";D:\\notes.txt"}), restored.Entries()[2]->items);
}

}  // namespace
