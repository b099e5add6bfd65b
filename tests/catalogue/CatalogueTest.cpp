#include "catalogue/Catalogue.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "base/Flags.h"
#include "base/Interaction.h"
#include "catalogue/PathVariables.h"
#include "catalogue/Registry.h"
#include "support/TestSupport.h"
#include "system/ItemSelection.h"

namespace {

const std::string kRoot = "HKEY_CURRENT_USER\\Software\\QmCatalogueTests";

class CatalogueEvaluation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSystemOperations());
    DeleteKeyTree(kRoot);
    ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Present"));
    ASSERT_TRUE(WriteRegistryValue(kRoot + "\\Present\\Version", "Seven", 0));
    for (const char* profile : {"work", "home", "travel"})
      ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Profiles\\" + profile));
    ASSERT_TRUE(CreateRegistryKey(kRoot + "\\NoProfiles"));
    catalogue.SetPath(temp.Path() + "backup.xml");
  }
  void TearDown() override {
    DeleteKeyTree(kRoot);
    CloseSystemOperations();
  }

  // Evaluates a document whose lines are given without their line ends.
  bool Evaluate(const std::string& lines) {
    std::string text = "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\r\n<catalogue>\r\n";
    size_t start = 0;
    for (size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1)
      text += lines.substr(start, end - start) + "\r\n";
    text += lines.substr(start) + "\r\n</catalogue>\r\n";
    WriteWholeFile(catalogue.GetPath(), text);
    return catalogue.Evaluate();
  }
  const CatalogueEntry& Entry(const std::string& name) {
    for (const auto& entry : catalogue.Entries())
      if (entry->name == name) return *entry;
    throw std::runtime_error("no entry " + name);
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& entry : catalogue.Entries()) names.push_back(entry->name);
    return names;
  }

  CTemporaryFolder temp;
  Catalogue catalogue;
};

TEST_F(CatalogueEvaluation, ConditionsCombineLeftToRight) {
  ASSERT_TRUE(Evaluate(
      "<backup name=\"Both\" keyExists=\"" + kRoot + "\\Present\" keyExists2=\"" + kRoot + "\\Missing\">\n</backup>\n"
      "<backup name=\"Or\" keyExists=\"" + kRoot + "\\Missing\" orKeyExists=\"" + kRoot + "\\Present\">\n</backup>\n"
      "<backup name=\"OrThenAnd\" keyExists=\"" + kRoot + "\\Missing\" orKeyExists=\"" + kRoot +
      "\\Present\" keyExistsAgain=\"" + kRoot + "\\Missing\">\n</backup>\n"
      "<backup name=\"NotThere\" keyNotExists=\"" + kRoot + "\\Missing\" winVer=\"2000XP\">\n</backup>\n"
      "<backup name=\"Equals\" keyEquals=\"" + kRoot + "\\Present\\Version=seven\">\n</backup>\n"
      "<backup name=\"Differs\" keyEquals=\"" + kRoot + "\\Present\\Version=eight\">\n</backup>\n"
      "<backup name=\"NoEquals\" keyEquals=\"" + kRoot + "\\Present\\Version\">\n</backup>\n"
      "<backup name=\"Old\" winVer=\"9598ME\">\n"
      " <backup name=\"Nested\" keyExists=\"" + kRoot + "\\Present\">\n </backup>\n</backup>"));
  EXPECT_FALSE(Entry("Both").valid);
  EXPECT_TRUE(Entry("Or").valid);
  EXPECT_FALSE(Entry("OrThenAnd").valid);
  EXPECT_TRUE(Entry("NotThere").valid);
  EXPECT_TRUE(Entry("Equals").valid);
  EXPECT_FALSE(Entry("Differs").valid);
  EXPECT_FALSE(Entry("NoEquals").valid);
  EXPECT_FALSE(Entry("Old").valid);
  EXPECT_FALSE(Entry("Nested").valid);
  EXPECT_EQ(&Entry("Old"), Entry("Nested").parent);
}

// Conditions on one path, each asked the way it is written: a value is no
// key, a key read as a value is no value, and a key made between two
// readings is there for the second.
TEST_F(CatalogueEvaluation, ConditionsOnTheSamePathEachAskTheirOwnQuestion) {
  std::string version = kRoot + "\\Present\\Version";
  std::string later = kRoot + "\\Later";
  std::string document;
  for (int twice = 0; twice < 2; ++twice) {
    std::string n = std::to_string(twice);
    document += "<backup name=\"Exists" + n + "\" keyExists=\"" + kRoot + "\\Present\">\n</backup>\n"
                "<backup name=\"NotExists" + n + "\" keyNotExists=\"" + kRoot + "\\Present\">\n</backup>\n"
                "<backup name=\"ValueAsKey" + n + "\" keyExists=\"" + version + "\">\n</backup>\n"
                "<backup name=\"Equals" + n + "\" keyEquals=\"" + version + "=Seven\">\n</backup>\n"
                "<backup name=\"Differs" + n + "\" keyEquals=\"" + version + "=Eight\">\n</backup>\n"
                "<backup name=\"KeyAsValue" + n + "\" keyEquals=\"" + kRoot + "\\Present=\">\n</backup>\n"
                "<backup name=\"Later" + n + "\" keyExists=\"" + later + "\">\n"
                " <var name=\"V\" value=\"[" + version + "]\"/>\n</backup>\n";
  }
  ASSERT_TRUE(Evaluate(document));
  for (const char* n : {"0", "1"}) {
    SCOPED_TRACE(n);
    EXPECT_TRUE(Entry(std::string("Exists") + n).valid);
    EXPECT_FALSE(Entry(std::string("NotExists") + n).valid);
    EXPECT_FALSE(Entry(std::string("ValueAsKey") + n).valid);
    EXPECT_TRUE(Entry(std::string("Equals") + n).valid);
    EXPECT_FALSE(Entry(std::string("Differs") + n).valid);
    EXPECT_FALSE(Entry(std::string("KeyAsValue") + n).valid);
    EXPECT_FALSE(Entry(std::string("Later") + n).valid);
    EXPECT_EQ(std::vector<std::string>{"Seven"}, Entry(std::string("Later") + n).variableValues);
  }

  ASSERT_TRUE(CreateRegistryKey(later));
  ASSERT_TRUE(catalogue.Evaluate());
  EXPECT_TRUE(Entry("Later0").valid);
  EXPECT_TRUE(Entry("Later1").valid);
}

TEST_F(CatalogueEvaluation, ItemsKeepTheirNumbersAndPaths) {
  ASSERT_TRUE(Evaluate("<backup name=\"Mail\" detect=\"mail.exe\" display=\"The mail\" reboot=\"YES\">\n"
                       " <item path=\"($AppData)\\Mail\\\"/>\n"
                       " <item path=\"C:\\never\" keyExists=\"" + kRoot + "\\Missing\"/>\n"
                       " <item path=\"" + kRoot + "\\Present\\\" winVer=\"xp\"/>\n"
                       " <item name=\"rules\" path=\"C:\\rules.dat\"/>\n"
                       "</backup>"));
  const CatalogueEntry& mail = Entry("Mail");
  EXPECT_EQ((std::vector<std::string>{"1;($AppData)\\Mail\\", "3;" + kRoot + "\\Present\\",
                                      "rules;C:\\rules.dat"}),
            mail.items);
  EXPECT_EQ("mail.exe", mail.detect);
  EXPECT_EQ("The mail", mail.display);
  EXPECT_TRUE(mail.reboot);
  EXPECT_TRUE(mail.valid);
  EXPECT_FALSE(mail.selected);
}

TEST_F(CatalogueEvaluation, VariablesFromTextAndRegistry) {
  ASSERT_TRUE(Evaluate("<backup name=\"Tool\">\n"
                       " <var name=\"Dir\" value=\"($Windows)\\tool\"/>\n"
                       " <var name=\"DIR\" value=\"($dir)\\v2\"/>\n"
                       " <var name=\"Version\" value=\"[" + kRoot + "\\Present\\Version]\"/>\n"
                       " <var name=\"Gone\" value=\"[" + kRoot + "\\Present\\Missing]\"/>\n"
                       " <var name=\"Skipped\" value=\"x\" keyExists=\"" + kRoot + "\\Missing\"/>\n"
                       " <backup name=\"Inner\">\n"
                       "  <item path=\"C:\\a\" keyExists=\"" + kRoot + "\\($Version)\"/>\n"
                       " </backup>\n"
                       "</backup>"));
  const CatalogueEntry& tool = Entry("Tool");
  std::string windows = GetSpecialFolder("Windows").value_or("?");
  EXPECT_EQ((std::vector<std::string>{"dir", "version", "gone"}), tool.variableNames);
  EXPECT_EQ((std::vector<std::string>{windows + "\\tool\\v2", "Seven", ""}), tool.variableValues);
  // "Seven" resolves through the parent: no key of that name, so no item.
  EXPECT_TRUE(Entry("Inner").items.empty());
}

TEST_F(CatalogueEvaluation, ForeachRepeatsAnEntryPerSubkey) {
  ASSERT_TRUE(Evaluate("<backup name=\"Profile ($P)\" foreach=\"P\" in=\"" + kRoot + "\\Profiles\\x\">\n"
                       " <item path=\"D:\\($P)\\settings.ini\"/>\n"
                       " <backup name=\"Cache of ($P)\">\n"
                       " </backup>\n"
                       "</backup>\n"
                       "<backup name=\"None\" foreach=\"P\" in=\"" + kRoot + "\\NoProfiles\\x\">\n"
                       " <item path=\"D:\\($P)\"/>\n"
                       "</backup>"));
  PrepareEntries(catalogue);
  EXPECT_EQ((std::vector<std::string>{"Profile Home", "Cache of Home", "Profile Travel",
                                      "Cache of Travel", "Profile Work", "Cache of Work", "None"}),
            Names());
  // Item numbers go on across repetitions so that item names stay unique.
  EXPECT_EQ(std::vector<std::string>{"1;D:\\($P)\\settings.ini"}, Entry("Profile Home").items);
  EXPECT_EQ(std::vector<std::string>{"2;D:\\($P)\\settings.ini"}, Entry("Profile Travel").items);
  EXPECT_EQ("Travel", FindVariable(&Entry("Cache of Travel"), "p").value_or("?"));
  EXPECT_FALSE(Entry("None").valid);
  EXPECT_EQ(std::vector<std::string>{"(error)"}, Entry("None").variableValues);
}

TEST_F(CatalogueEvaluation, SubFoldersBecomeGeneratedEntries) {
  std::string games = temp.Path() + "Games";
  CreateDirectoryA(games.c_str(), NULL);
  CreateDirectoryA((games + "\\Chess").c_str(), NULL);
  CreateDirectoryA((games + "\\Go").c_str(), NULL);
  WriteWholeFile(games + "\\readme.txt", "not a folder");
  SetEnvironmentVariableA("QMGAMES", games.c_str());
  ASSERT_TRUE(Evaluate("<backup name=\"Saves\" expandSubDirs=\"($G)\">\n"
                       " <var name=\"G\" value=\"" + games + "\"/>\n"
                       "</backup>\n"
                       "<backup name=\"Broken\" expandSubDirs=\"" + temp.Path() + "NoSuchFolder\">\n"
                       "</backup>"));
  std::string missing = PrepareEntries(catalogue);
  ASSERT_EQ(4u, catalogue.Entries().size());
  const CatalogueEntry& first = *catalogue.Entries()[1];
  EXPECT_TRUE(first.generated);
  EXPECT_EQ(&Entry("Saves"), first.parent);
  EXPECT_EQ(std::vector<std::string>{";($G)\\" + first.name + "\\"}, first.items);
  EXPECT_EQ("Backup this folder from Saves", first.display);
  EXPECT_TRUE(missing.empty());
  CloseSystemOperations();
  EXPECT_NE(std::string::npos,
            ReadWholeFile(temp.Path() + "QMARK.log").find("Error: failed to expand " + temp.Path() + "NoSuchFolder"));
}

TEST_F(CatalogueEvaluation, DamagedDocumentsKeepWhatWasRead) {
  ASSERT_TRUE(Evaluate("<backup name=\"First\">\n</backup>\n<backup name=\"Second\">\n<<broken\n"
                       "<backup name=\"Third\">\n</backup>"));
  EXPECT_EQ(std::vector<std::string>{"First"}, Names());  // Second never closed

  ASSERT_TRUE(Evaluate("<restore name=\"Restored\">\n <item path=\"C:\\x\"/>\n</restore>\n"
                       "<backup name=\"Cut\">\n <item path=\"C:\\y\"/>"));
  EXPECT_EQ(std::vector<std::string>{"Restored"}, Names());

  catalogue.SetPath(temp.Path() + "missing.xml");
  EXPECT_FALSE(catalogue.Evaluate());
  EXPECT_EQ(std::vector<std::string>{"Restored"}, Names());  // left as it was
}

TEST_F(CatalogueEvaluation, FailedExpansionStopsTheEvaluation) {
  EXPECT_FALSE(Evaluate("<backup name=\"Listed\">\n</backup>\n"
                        "<backup name=\"Bad\" keyExists=\"($Nowhere)\">\n</backup>"));
  EXPECT_EQ(std::vector<std::string>{"Listed"}, Names());
  // A value is expanded when it is defined, so it may name its own earlier value.
  ASSERT_TRUE(Evaluate("<backup name=\"Grow\">\n <var name=\"A\" value=\"x\"/>\n"
                       " <var name=\"A\" value=\"($A)\\y\"/>\n</backup>"));
  EXPECT_EQ(std::vector<std::string>{"x\\y"}, Entry("Grow").variableValues);
  // A subkey name that refers to the foreach variable itself must not loop.
  ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Loops\\($P)x"));
  EXPECT_FALSE(Evaluate("<backup name=\"Loop\" foreach=\"P\" in=\"" + kRoot + "\\Loops\\x\">\n"
                        " <item path=\"p\" name=\"($P)\"/>\n</backup>"));
  // An invalid entry takes its attributes as written.
  EXPECT_TRUE(Evaluate("<backup name=\"Off\" winVer=\"98\" keyExists=\"($Nowhere)\">\n</backup>"));
}

TEST_F(CatalogueEvaluation, CustomItemsAndMissingPrograms) {
  std::string custom = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark\\Custom";
  DeleteKeyTree(custom);
  ASSERT_TRUE(CreateRegistryKey(custom));
  WriteRegistryValue(custom + "\\itemName0", "Letters", 0);
  WriteRegistryValue(custom + "\\itemValue0", "D:\\Letters\\", 0);
  WriteRegistryValue(custom + "\\itemName1", "Half", 0);
  ASSERT_TRUE(Evaluate("<backup name=\"($Windows) things\">\n</backup>\n"
                       "<backup name=\"Absent\" keyExists=\"" + kRoot + "\\Missing\">\n"
                       " <backup name=\"Absent child\">\n </backup>\n</backup>"));
  AddCustomEntries(catalogue);
  std::string missing = PrepareEntries(catalogue);
  DeleteKeyTree(custom);
  EXPECT_EQ("Absent\r\n", missing);
  EXPECT_EQ(GetSpecialFolder("Windows").value_or("?") + " things", catalogue.Entries()[0]->name);
  const CatalogueEntry& group = Entry("Custom files and folders");
  const CatalogueEntry& letters = Entry("Letters");
  EXPECT_EQ(&group, letters.parent);
  EXPECT_EQ(std::vector<std::string>{"D:\\Letters\\"}, letters.items);
  EXPECT_EQ(5u, catalogue.Entries().size());
}

TEST_F(CatalogueEvaluation, LargeCatalogues) {
  std::string lines;
  for (int i = 0; i < 10000; ++i)
    lines += "<backup name=\"E" + std::to_string(i) + "\">\n <item path=\"C:\\f" + std::to_string(i) + "\"/>\n</backup>\n";
  ASSERT_TRUE(Evaluate(lines));
  ASSERT_EQ(10000u, catalogue.Entries().size());
  EXPECT_EQ(std::vector<std::string>{"1;C:\\f9999"}, catalogue.Entries().back()->items);
}


TEST_F(CatalogueEvaluation, OddDocuments) {
  WriteWholeFile(catalogue.GetPath(), "");
  EXPECT_TRUE(catalogue.Evaluate());
  EXPECT_TRUE(catalogue.Entries().empty());

  // A value ends at either quote; the rest of the tag is read as attributes.
  ASSERT_TRUE(Evaluate("<backup name=\"It's\" display='say \"hi\"'>\n</backup>"));
  ASSERT_EQ(1u, catalogue.Entries().size());
  EXPECT_EQ("It", catalogue.Entries()[0]->name);

  std::string many;
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Many\\k" + std::to_string(1000 + i)));
  ASSERT_TRUE(Evaluate("<backup name=\"($K)\" foreach=\"K\" in=\"" + kRoot + "\\Many\\x\">\n"
                       " <item path=\"($K)\"/>\n</backup>"));
  PrepareEntries(catalogue);
  ASSERT_EQ(1000u, catalogue.Entries().size());
  EXPECT_EQ("K1999", catalogue.Entries().back()->name);
  EXPECT_EQ(std::vector<std::string>{"1000;($K)"}, catalogue.Entries().back()->items);
}

// Values that hold a quote, '<', '>' or '&' come as entities; a bare '&'
// and an entity the reader doesn't know stay as written.
TEST_F(CatalogueEvaluation, AttributeValuesAreReadUnescaped) {
  ASSERT_TRUE(CreateRegistryKey(kRoot + "\\Bob's"));
  ASSERT_TRUE(Evaluate("<backup name=\"Bob&apos;s &amp; Tom & Jerry &nbsp;\" display=\"&quot;x&quot; &lt;y&gt;\""
                       " detect=\"a&amp;amp;b\" keyExists=\"" + kRoot + "\\Bob&apos;s\">\n"
                       " <var name=\"Dir\" value=\"D:\\R&amp;D\"/>\n"
                       " <item name=\"it&apos;s\" path=\"($Dir)\\Bob&apos;s\\\" keyExists=\"" + kRoot + "\\Bob&apos;s\"/>\n"
                       "</backup>\n"
                       "<restore name=\"Old &amp; new\">\n</restore>"));
  const CatalogueEntry& bob = *catalogue.Entries()[0];
  EXPECT_EQ("Bob's & Tom & Jerry &nbsp;", bob.name);
  EXPECT_EQ("\"x\" <y>", bob.display);
  EXPECT_EQ("a&amp;b", bob.detect);
  EXPECT_TRUE(bob.valid);
  EXPECT_EQ(std::vector<std::string>{"D:\\R&D"}, bob.variableValues);
  EXPECT_EQ(std::vector<std::string>{"it's;($Dir)\\Bob's\\"}, bob.items);
  EXPECT_EQ("Old & new", catalogue.Entries()[1]->name);
}

TEST_F(CatalogueEvaluation, SelectionsAreKeptPerEntryAndPerMode) {
  std::string settings = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark";
  DeleteKeyTree(settings + "\\Office");
  DeleteKeyTree(settings + "\\Schedule\\Office");
  ASSERT_TRUE(Evaluate("<backup name=\"Office\">\n <backup name=\"Word\">\n </backup>\n</backup>\n"
                       "<backup name=\"Gone\" keyExists=\"" + kRoot + "\\Missing\">\n</backup>"));
  const CatalogueEntry& word = Entry("Word");
  EXPECT_TRUE(LoadItemSelection(word));  // nothing stored: selected
  SaveItemSelection(word, false);
  EXPECT_FALSE(LoadItemSelection(word));
  EXPECT_EQ("0", ReadRegistryValue(settings + "\\Office\\Word").value_or("?"));
  SetScheduleMode(true);
  EXPECT_TRUE(LoadItemSelection(word));
  SaveItemSelection(word, false);
  EXPECT_EQ("0", ReadRegistryValue(settings + "\\Schedule\\Office\\Word").value_or("?"));
  SetScheduleMode(false);
  SaveItemSelection(word, true);
  EXPECT_TRUE(LoadItemSelection(word));
  SaveItemSelection(Entry("Gone"), false);  // not on this computer: untouched
  EXPECT_FALSE(ReadRegistryValue(settings + "\\Gone"));
  DeleteKeyTree(settings + "\\Office");
  DeleteKeyTree(settings + "\\Schedule\\Office");
}

// One reader for a whole catalogue gives each entry the choice saved for it,
// whichever key holds it and whatever was read before.
TEST_F(CatalogueEvaluation, SelectionsReadTogetherAreEachEntrysOwn) {
  std::string settings = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark";
  for (const char* name : {"\\Office", "\\Schedule\\Office", "\\Word"}) DeleteKeyTree(settings + name);
  ASSERT_TRUE(Evaluate("<backup name=\"Office\">\n <backup name=\"Word\">\n </backup>\n"
                       " <backup name=\"Excel\">\n </backup>\n</backup>\n"
                       "<backup name=\"Word\">\n</backup>"));
  const CatalogueEntry& office = *catalogue.Entries()[0];
  const CatalogueEntry& officeWord = *catalogue.Entries()[1];
  const CatalogueEntry& excel = *catalogue.Entries()[2];
  const CatalogueEntry& word = *catalogue.Entries()[3];
  ASSERT_EQ("Word", officeWord.name);
  ASSERT_EQ(nullptr, word.parent);
  SaveItemSelection(office, true);
  SaveItemSelection(officeWord, false);
  SaveItemSelection(word, true);
  SetScheduleMode(true);
  SaveItemSelection(excel, false);
  SetScheduleMode(false);

  CRegistryValueReader saved;
  std::vector<bool> read;
  for (const CatalogueEntry* entry : {&officeWord, &office, &word, &excel}) read.push_back(LoadItemSelection(*entry, saved));
  SetScheduleMode(true);
  for (const CatalogueEntry* entry : {&excel, &officeWord}) read.push_back(LoadItemSelection(*entry, saved));
  SetScheduleMode(false);
  EXPECT_EQ((std::vector<bool>{false, true, true, true, false, true}), read);
  for (const CatalogueEntry* entry : {&officeWord, &office, &word, &excel})
    EXPECT_EQ(LoadItemSelection(*entry), LoadItemSelection(*entry, saved)) << entry->name;
  for (const char* name : {"\\Office", "\\Schedule\\Office", "\\Word"}) DeleteKeyTree(settings + name);
}

}  // namespace
