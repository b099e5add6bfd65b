// The catalogue's evaluation off Windows, over the computer held in memory:
// what it decides from the answers, and the restore settings it writes.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "RegistryStandIn.h"
#include "catalogue/Catalogue.h"
#include "catalogue/PathVariables.h"
#include "catalogue/RestoreSettings.h"

namespace {

const std::string kRoot = "HKEY_CURRENT_USER\\Software\\Fuzz";

class EvaluationOverStandIn : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = std::filesystem::temp_directory_path() /
             ("qm-evaluation-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder);
    catalogue.SetPath((folder / "backup.xml").string());
    computer.Clear();
    computer.Describe("K " + kRoot + "\\Profiles\\work\n"
                      "K " + kRoot + "\\Profiles\\home\n"
                      "K " + kRoot + "\\Profiles\\travel\n"
                      "K " + kRoot + "\\Empty\n"
                      "V " + kRoot + "\\Version=Seven\n"
                      "S AppData=C:\\Profile\\AppData\n"
                      "D C:\\Games\\Go\n"
                      "D C:\\Games\\Chess\n");
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  static std::string Document(const std::string& lines) {
    std::string text = "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\r\n<catalogue>\r\n";
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) text += line + "\r\n";
    return text + "</catalogue>\r\n";
  }
  bool Evaluate(const std::string& lines) {
    std::ofstream(catalogue.GetPath(), std::ios::binary) << Document(lines);
    return catalogue.Evaluate();
  }
  static const CatalogueEntry& Entry(const Catalogue& from, const std::string& name) {
    for (const auto& entry : from.Entries())
      if (entry->name == name) return *entry;
    throw std::runtime_error("no entry " + name);
  }
  const CatalogueEntry& Entry(const std::string& name) { return Entry(catalogue, name); }
  static std::vector<std::string> Names(const Catalogue& from) {
    std::vector<std::string> names;
    for (const auto& entry : from.Entries()) names.push_back(entry->name);
    return names;
  }

  CRegistryStandIn& computer = RegistryStandIn();
  std::filesystem::path folder;
  Catalogue catalogue;
};

TEST_F(EvaluationOverStandIn, FalseConditionsHideTheEntryAndWhatItHolds) {
  computer.SetWindowsVersion("2000");
  ASSERT_TRUE(Evaluate("<backup name=\"Absent\" keyExists=\"" + kRoot + "\\Missing\">\n"
                       " <backup name=\"Inside\">\n </backup>\n</backup>\n"
                       "<backup name=\"Rescued\" keyExists=\"" + kRoot + "\\Missing\" orKeyExists=\"" + kRoot + "\\Empty\">\n</backup>\n"
                       "<backup name=\"Same data\" keyEquals=\"" + kRoot + "\\Version=SEVEN\">\n</backup>\n"
                       "<backup name=\"Old Windows\" winVer=\"9598ME\">\n"
                       " <item path=\"C:\\a\"/>\n"
                       " <item path=\"C:\\b\" winVer=\"2000XP\"/>\n</backup>"));
  EXPECT_FALSE(Entry("Absent").valid);
  EXPECT_FALSE(Entry("Inside").valid);
  EXPECT_TRUE(Entry("Rescued").valid);
  EXPECT_TRUE(Entry("Same data").valid);
  EXPECT_FALSE(Entry("Old Windows").valid);
  // Only the outermost missing program is named to the user.
  EXPECT_EQ("Absent\r\nOld Windows\r\n", PrepareEntries(catalogue));
}

TEST_F(EvaluationOverStandIn, ForeachRepeatsPerSubkeyWithItsName) {
  ASSERT_TRUE(Evaluate("<backup name=\"Profile ($P)\" foreach=\"P\" in=\"" + kRoot + "\\Profiles\\x\">\n"
                       " <item path=\"D:\\($P)\\settings.ini\" keyExists=\"" + kRoot + "\\Profiles\\($P)\"/>\n"
                       " <backup name=\"($P) by ($Q)\" foreach=\"Q\" in=\"" + kRoot + "\\Profiles\\x\">\n"
                       "  <item path=\"($Q)\"/>\n"
                       " </backup>\n"
                       "</backup>\n"
                       "<backup name=\"None ($P)\" foreach=\"P\" in=\"" + kRoot + "\\Empty\\x\">\n"
                       " <item path=\"D:\\($P)\"/>\n"
                       "</backup>"));
  PrepareEntries(catalogue);
  std::vector<std::string> expected;
  for (const char* outer : {"Home", "Travel", "Work"}) {
    expected.push_back(std::string("Profile ") + outer);
    for (const char* inner : {"Home", "Travel", "Work"})
      expected.push_back(std::string(outer) + " by " + inner);
  }
  expected.push_back("None (error)");
  EXPECT_EQ(expected, Names(catalogue));
  // Each repetition's condition was asked with its own subkey.
  EXPECT_EQ(std::vector<std::string>{"2;D:\\($P)\\settings.ini"}, Entry("Profile Travel").items);
  EXPECT_EQ(&Entry("Profile Work"), Entry("Work by Home").parent);
  EXPECT_FALSE(Entry("None (error)").valid);
}

TEST_F(EvaluationOverStandIn, UnresolvableReferencesFail) {
  EXPECT_FALSE(Evaluate("<backup name=\"Listed\">\n</backup>\n"
                        "<backup name=\"Bad\" keyExists=\"($Nowhere)\">\n</backup>"));
  EXPECT_EQ(std::vector<std::string>{"Listed"}, Names(catalogue));
  // Data read from the registry isn't expanded when read: it may lead back.
  computer.SetValue(kRoot + "\\Loop", "($Loop)\\x");
  EXPECT_FALSE(Evaluate("<backup name=\"Loop\">\n <var name=\"Loop\" value=\"[" + kRoot + "\\Loop]\"/>\n"
                        " <item path=\"p\" name=\"($Loop)\"/>\n</backup>"));
  ASSERT_TRUE(Evaluate("<backup name=\"Data\">\n <var name=\"Dir\" value=\"($appdata)\\Data\"/>\n</backup>"));
  std::string path = "($DIR)\\x";
  EXPECT_TRUE(ExpandPathVariables(path, &Entry("Data")));
  EXPECT_EQ("C:\\Profile\\AppData\\Data\\x", path);
}

TEST_F(EvaluationOverStandIn, ReferencesThatWouldNeverEndFail) {
  // Each variable twice the one before: the text would outgrow any memory.
  std::string doubling = "<backup name=\"Grow\">\n <var name=\"V0\" value=\"abcdefgh\"/>\n";
  for (int i = 1; i < 40; ++i)
    doubling += " <var name=\"V" + std::to_string(i) + "\" value=\"($V" + std::to_string(i - 1) +
                ")($V" + std::to_string(i - 1) + ")\"/>\n";
  EXPECT_FALSE(Evaluate(doubling + "</backup>"));
  // Long texts within the limit still expand.
  ASSERT_TRUE(Evaluate("<backup name=\"Long\">\n <var name=\"L\" value=\"" + std::string(3000, 'l') +
                       "\"/>\n <var name=\"M\" value=\"($L)($L)($L)($L)($L)($L)($L)($L)($L)($L)\"/>\n</backup>"));
  EXPECT_EQ(30000u, FindVariable(&Entry("Long"), "M").value_or("").size());
  // "(" and "$B)" make "($B)" again after every round.
  computer.SetValue(kRoot + "\\B", "($A)$B)");
  EXPECT_FALSE(Evaluate("<backup name=\"Round\">\n <var name=\"A\" value=\"(\"/>\n"
                        " <var name=\"B\" value=\"[" + kRoot + "\\B]\"/>\n"
                        " <item path=\"p\" name=\"($B)\"/>\n</backup>"));
}

TEST_F(EvaluationOverStandIn, SubFoldersBecomeEntriesAndUnlistedFoldersAreLogged) {
  ASSERT_TRUE(Evaluate("<backup name=\"Saves\" expandSubDirs=\"C:\\Games\">\n</backup>\n"
                       "<backup name=\"Broken\" expandSubDirs=\"C:\\Nothing\">\n</backup>"));
  EXPECT_EQ((std::vector<std::string>{"Saves", "Chess", "Go", "Broken"}), Names(catalogue));
  EXPECT_EQ(std::vector<std::string>{";C:\\Games\\Go\\"}, Entry("Go").items);
  EXPECT_EQ(std::vector<std::string>{"Error: failed to expand C:\\Nothing"}, computer.LogLines());
}

// The restore settings decide again on the new computer what the backup
// decided on the old one: evaluated there, the same entries come back.
TEST_F(EvaluationOverStandIn, RestoreSettingsEvaluateToTheChosenEntries) {
  ASSERT_TRUE(Evaluate("<backup name=\"Profile ($P)\" foreach=\"P\" in=\"" + kRoot + "\\Profiles\\x\">\n"
                       " <var name=\"Dir\" value=\"D:\\($P)\"/>\n"
                       " <item path=\"($Dir)\\settings.ini\"/>\n"
                       " <backup name=\"Cache of ($P)\">\n </backup>\n"
                       "</backup>\n"
                       "<backup name=\"Saves\" expandSubDirs=\"C:\\Games\">\n</backup>"));
  PrepareEntries(catalogue);
  for (const auto& entry : catalogue.Entries())
    if (entry->name != "Cache of Home" && entry->name != "Chess") SelectEntry(*entry);
  std::string settingsPath = (folder / "restore.xml").string();
  ASSERT_TRUE(BuildRestoreSettings(catalogue, settingsPath));

  computer.Clear();  // the new computer has none of the keys
  Catalogue settings(settingsPath);
  ASSERT_TRUE(settings.Evaluate());
  PrepareEntries(settings);
  EXPECT_EQ((std::vector<std::string>{"Profile Home", "Profile Travel", "Cache of Travel",
                                      "Profile Work", "Cache of Work", "Saves", "Go"}),
            Names(settings));
  const CatalogueEntry& travel = Entry(settings, "Profile Travel");
  ASSERT_EQ(1u, travel.items.size());
  std::string item = travel.items[0].substr(travel.items[0].find(';') + 1);
  EXPECT_TRUE(ExpandPathVariables(item, &travel));
  EXPECT_EQ("D:\\Travel\\settings.ini", item);
  EXPECT_EQ(&Entry(settings, "Saves"), Entry(settings, "Go").parent);
}

}  // namespace
