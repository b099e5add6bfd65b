#include "catalogue/Registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

// Each test works below a key of its own, removed afterwards.
class RegistryHelpers : public ::testing::Test {
 protected:
  void SetUp() override {
    root = "HKEY_CURRENT_USER\\Software\\QuillmarkTests\\" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
    DeleteKeyTree(root);
    ASSERT_TRUE(CreateRegistryKey(root));
  }
  void TearDown() override { DeleteKeyTree(root); }

  std::string Path(const std::string& relative) { return root + "\\" + relative; }
  DWORD TypeOf(const std::string& key, const char* value) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.substr(18).c_str(), 0, KEY_READ, &handle) != 0)
      return REG_NONE;
    DWORD type = REG_NONE;
    RegQueryValueExA(handle, value, NULL, &type, NULL, NULL);
    RegCloseKey(handle);
    return type;
  }
  std::string root;
};

TEST_F(RegistryHelpers, RootNamesIgnoreCaseButAreNeverAbbreviated) {
  ASSERT_TRUE(WriteRegistryValue(Path("Name"), "Ada", 0));
  std::string lower = "hkey_current_user" + root.substr(17);
  EXPECT_EQ("Ada", ReadRegistryValue(lower + "\\Name").value_or("?"));
  EXPECT_TRUE(RegistryKeyExists(lower));

  std::string abbreviated = "HKCU" + root.substr(17);
  EXPECT_FALSE(ReadRegistryValue(abbreviated + "\\Name"));
  EXPECT_FALSE(RegistryKeyExists(abbreviated));
  EXPECT_FALSE(CreateRegistryKey(abbreviated + "\\New"));
  EXPECT_FALSE(RegistryKeyExists(Path("New")));
  EXPECT_FALSE(CreateRegistryKey("HKEY_CURRENT_USER"));  // no key path at all
}

TEST_F(RegistryHelpers, TrailingBackslashReadsTheDefaultValue) {
  ASSERT_TRUE(WriteRegistryValue(root + "\\", "default text", 0));
  EXPECT_EQ("default text", ReadRegistryValue(root + "\\").value_or("?"));
  EXPECT_FALSE(ReadRegistryValue(Path("Missing")));
  EXPECT_FALSE(ReadRegistryValue(Path("NoKey\\Value")));
}

TEST_F(RegistryHelpers, ValuesOfTenTwentyFourBytesOrMoreReadAsNothing) {
  std::string largest(1023, 'x');
  ASSERT_TRUE(WriteRegistryValue(Path("Largest"), largest.data(), largest.size()));
  EXPECT_EQ(largest, ReadRegistryValue(Path("Largest")).value_or("?"));
  std::string tooLarge(1024, 'x');
  ASSERT_TRUE(WriteRegistryValue(Path("TooLarge"), tooLarge.data(), tooLarge.size()));
  EXPECT_FALSE(ReadRegistryValue(Path("TooLarge")));
  // A string of 1022 characters plus its terminator still fits.
  std::string text(1022, 't');
  ASSERT_TRUE(WriteRegistryValue(Path("Text"), text.c_str(), 0));
  EXPECT_EQ(text, ReadRegistryValue(Path("Text")).value_or("?"));
}

TEST_F(RegistryHelpers, OtherTypesComeBackAsTheirBytes) {
  HKEY handle;
  ASSERT_EQ(0, RegOpenKeyExA(HKEY_CURRENT_USER, root.substr(18).c_str(), 0, KEY_WRITE, &handle));
  DWORD number = 0x00434241;  // "ABC" in memory order
  RegSetValueExA(handle, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof number);
  RegCloseKey(handle);
  EXPECT_EQ("ABC", ReadRegistryValue(Path("Number")).value_or("?"));
}

TEST_F(RegistryHelpers, DataComesWithItsTypeWholeAndAtAnySize) {
  std::string bytes("\x00sealed\x00\xff", 9);
  bytes += std::string(3000, 'b');
  ASSERT_TRUE(WriteRegistryValue(Path("Sealed"), bytes.data(), bytes.size()));
  ASSERT_TRUE(WriteRegistryValue(Path("Plain"), "text", 0));

  std::optional<RegistryData> sealed = ReadRegistryData(Path("Sealed"));
  ASSERT_TRUE(sealed);
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), sealed->type);
  EXPECT_EQ(bytes, sealed->bytes);
  std::optional<RegistryData> plain = ReadRegistryData(Path("Plain"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), plain->type);
  EXPECT_EQ(std::string("text\0", 5), plain->bytes);
  EXPECT_FALSE(ReadRegistryData(Path("Missing")));
  EXPECT_FALSE(ReadRegistryData(Path("NoKey\\Value")));
}

TEST_F(RegistryHelpers, WritingNeedsAnExistingKey) {
  EXPECT_FALSE(WriteRegistryValue(Path("Sub\\Value"), "x", 0));
  EXPECT_FALSE(RegistryKeyExists(Path("Sub")));
  ASSERT_TRUE(CreateRegistryKey(Path("Sub")));
  EXPECT_TRUE(CreateRegistryKey(Path("Sub")));  // an existing key is fine
  ASSERT_TRUE(WriteRegistryValue(Path("Sub\\Value"), "x", 0));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), TypeOf(Path("Sub"), "Value"));
  ASSERT_TRUE(WriteRegistryValue(Path("Sub\\Bytes"), "\x01\x00\x02", 3));
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), TypeOf(Path("Sub"), "Bytes"));
  ASSERT_TRUE(CreateRegistryKey(Path("A\\B\\C")));  // missing keys on the way are made
  EXPECT_TRUE(RegistryKeyExists(Path("A\\B")));
}

TEST_F(RegistryHelpers, EnumerationDropsTheLastComponent) {
  ASSERT_TRUE(CreateRegistryKey(Path("Profiles\\Work")));
  ASSERT_TRUE(CreateRegistryKey(Path("Profiles\\Home")));
  EXPECT_EQ("Home", EnumRegistrySubkey(Path("Profiles\\anything"), 0).value_or("?"));
  EXPECT_EQ("Work", EnumRegistrySubkey(Path("Profiles\\"), 1).value_or("?"));
  EXPECT_FALSE(EnumRegistrySubkey(Path("Profiles\\x"), 2));
  EXPECT_FALSE(EnumRegistrySubkey(Path("Missing\\x"), 0));
  EXPECT_EQ("Profiles", EnumRegistrySubkey(Path("x"), 0).value_or("?"));
}

TEST_F(RegistryHelpers, FirstLeafFollowsFirstSubkeys) {
  ASSERT_TRUE(CreateRegistryKey(Path("Store\\b\\c")));
  ASSERT_TRUE(CreateRegistryKey(Path("Store\\a\\x\\y")));
  ASSERT_TRUE(CreateRegistryKey(Path("Store\\a\\w")));
  EXPECT_EQ("a\\w", FindFirstLeafKey(Path("Store")).value_or("?"));
  EXPECT_EQ("", FindFirstLeafKey(Path("Store\\b\\c")).value_or("?"));
  EXPECT_FALSE(FindFirstLeafKey(Path("Missing")));
}

TEST_F(RegistryHelpers, DeletingAKeyWithSubkeysFails) {
  ASSERT_TRUE(CreateRegistryKey(Path("Parent\\Child")));
  EXPECT_FALSE(DeleteRegistryKey(Path("Parent")));
  EXPECT_TRUE(RegistryKeyExists(Path("Parent\\Child")));
  EXPECT_TRUE(DeleteRegistryKey(Path("Parent\\Child")));
  EXPECT_TRUE(DeleteRegistryKey(Path("Parent")));
  EXPECT_FALSE(RegistryKeyExists(Path("Parent")));
  EXPECT_FALSE(DeleteRegistryKey(Path("Parent")));
}

TEST_F(RegistryHelpers, DeletingATreeTakesEveryKeyBelow) {
  for (const char* key : {"Tree\\a\\b\\c", "Tree\\a\\d", "Tree\\e", "Treetop"})
    ASSERT_TRUE(CreateRegistryKey(Path(key)));
  ASSERT_TRUE(WriteRegistryValue(Path("Tree\\a\\b\\Value"), "v", 0));
  EXPECT_TRUE(DeleteRegistryTree(Path("Tree")));
  EXPECT_FALSE(RegistryKeyExists(Path("Tree")));
  EXPECT_TRUE(RegistryKeyExists(Path("Treetop")));
  EXPECT_FALSE(DeleteRegistryTree(Path("Tree")));
  EXPECT_FALSE(DeleteRegistryTree("HKEY_CURRENT_USER\\"));
}

TEST_F(RegistryHelpers, LongPathsFailCleanly) {
  // Paths are limited to 511 characters (1023 for the key-exists test); the
  // system's own "A" registry calls already stop near 260 for the key part.
  std::string deep = std::string(100, 'k') + "\\" + std::string(100, 'k');
  EXPECT_TRUE(CreateRegistryKey(Path(deep)));
  EXPECT_TRUE(RegistryKeyExists(Path(deep)));
  std::string tooLong = Path(deep + "\\" + std::string(300, 'k'));
  ASSERT_GT(tooLong.size(), 511u);
  EXPECT_FALSE(CreateRegistryKey(tooLong));
  EXPECT_FALSE(RegistryKeyExists(tooLong));
  EXPECT_FALSE(WriteRegistryValue(tooLong, "x", 0));
  EXPECT_FALSE(ReadRegistryValue(Path(std::string(5000, 'v'))));
  EXPECT_FALSE(EnumRegistrySubkey(Path(std::string(5000, 'v')), 0));
  EXPECT_FALSE(FindFirstLeafKey(Path(std::string(5000, 'v'))));
  EXPECT_FALSE(RegistryKeyExists(Path(std::string(1100, 'v'))));
}

TEST(WindowsVersionTags, EveryListedVersionAndNoOther) {
  EXPECT_EQ("32", WindowsVersionTag(VER_PLATFORM_WIN32s, 3, 10));
  EXPECT_EQ("95", WindowsVersionTag(VER_PLATFORM_WIN32_WINDOWS, 4, 0));
  EXPECT_EQ("98", WindowsVersionTag(VER_PLATFORM_WIN32_WINDOWS, 4, 10));
  EXPECT_EQ("ME", WindowsVersionTag(VER_PLATFORM_WIN32_WINDOWS, 4, 90));
  EXPECT_EQ("", WindowsVersionTag(VER_PLATFORM_WIN32_WINDOWS, 4, 3));
  EXPECT_EQ("", WindowsVersionTag(VER_PLATFORM_WIN32_WINDOWS, 5, 0));
  EXPECT_EQ("NT", WindowsVersionTag(VER_PLATFORM_WIN32_NT, 4, 0));
  EXPECT_EQ("NT", WindowsVersionTag(VER_PLATFORM_WIN32_NT, 3, 51));
  EXPECT_EQ("2000", WindowsVersionTag(VER_PLATFORM_WIN32_NT, 5, 0));
  EXPECT_EQ("XP", WindowsVersionTag(VER_PLATFORM_WIN32_NT, 5, 1));
  EXPECT_EQ("2003", WindowsVersionTag(VER_PLATFORM_WIN32_NT, 5, 2));
  EXPECT_EQ("", WindowsVersionTag(VER_PLATFORM_WIN32_NT, 5, 3));
  EXPECT_EQ("", WindowsVersionTag(VER_PLATFORM_WIN32_NT, 6, 1));
  EXPECT_EQ("", WindowsVersionTag(7, 5, 1));
}

// Run once per Windows version the prefix can pretend to be; the test
// program is told which one it is started under.
TEST(RunningWindowsVersion, MatchesTheListsThatNameIt) {
  char expected[16] = "XP";
  GetEnvironmentVariableA("QM_EXPECTED_WINVER", expected, sizeof expected);
  std::string tag = expected;
  bool nt = tag == "XP" || tag == "2000";

  EXPECT_TRUE(IsWindowsVersion(tag));
  EXPECT_EQ(tag == "XP" || tag == "2000", IsWindowsVersion("xp2000"));
  EXPECT_EQ(!nt, IsWindowsVersion("9598ME"));
  EXPECT_EQ(tag == "98", IsWindowsVersion("98"));
  EXPECT_EQ(tag == "XP", IsWindowsVersion("winxp"));
  EXPECT_FALSE(IsWindowsVersion("NT"));
  EXPECT_FALSE(IsWindowsVersion(""));
}

}  // namespace
