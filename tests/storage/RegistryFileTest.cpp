#include "storage/RegistryFile.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

#include "app/Startup.h"
#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/Text.h"
#include "catalogue/PathVariables.h"
#include "catalogue/Registry.h"
#include "catalogue/Xml.h"
#include "support/TestSupport.h"

namespace {

const char kSource[] = "HKEY_CURRENT_USER\\Software\\QmFileTests";
const char kTarget[] = "HKEY_CURRENT_USER\\Software\\QmFileTarget";

HKEY OpenTestKey(const std::string& path) {
  HKEY key = NULL;
  RegCreateKeyExA(HKEY_CURRENT_USER, path.substr(18).c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                  NULL);
  return key;
}

void SetValue(const std::string& keyPath, const char* name, DWORD type, const std::string& data) {
  HKEY key = OpenTestKey(keyPath);
  ASSERT_NE(HKEY(NULL), key);
  ASSERT_EQ(0, RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                              static_cast<DWORD>(data.size())));
  RegCloseKey(key);
}

// The stored type and bytes of a value, or type REG_NONE with "<missing>".
std::pair<DWORD, std::string> GetValue(const std::string& keyPath, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.substr(18).c_str(), 0, KEY_READ, &key) != 0)
    return {REG_NONE, "<missing>"};
  char data[4096];
  DWORD size = sizeof data, type = REG_NONE;
  LONG status = RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != 0) return {REG_NONE, "<missing>"};
  return {type, std::string(data, size)};
}

std::string Renamed(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

class RegistryFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSystemOperations());
    DeleteKeyTree(kSource);
    DeleteKeyTree(kTarget);
    ASSERT_TRUE(CreateRegistryKey(kSource));
    file = temp.Path() + "key.xml";
  }
  void TearDown() override {
    DeleteKeyTree(kSource);
    DeleteKeyTree(kTarget);
    DeleteKeyTree("HKEY_CURRENT_USER\\Software\\Demo");
    CloseSystemOperations();
    ResetFlags();
  }
  std::string Export(const std::string& key, const std::string& selector, bool expect = true) {
    XmlWriter writer;
    writer.SetFileName(file);
    EXPECT_EQ(expect, ExportRegistryKey(writer, key, selector));
    writer.Close();
    return ReadWholeFile(file);
  }
  bool Import(const std::string& document) {
    WriteWholeFile(file, document);
    return ImportRegistryFile(file);
  }
  static std::string Document(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\r\n" + body;
  }

  CTemporaryFolder temp;
  CScriptedInteraction ui;
  std::string file;
};

TEST_F(RegistryFiles, ConsoleExportLayoutIsExact) {
  std::string demo = "HKEY_CURRENT_USER\\Software\\Demo";
  std::string windows = GetSpecialFolder("Windows").value_or("?");
  SetValue(demo, "x", REG_DWORD, std::string("\x01\0\0\0", 4));
  SetValue(demo + "\\Sub", "s", REG_SZ, windows + "\\app.exe" + '\0');
  ASSERT_TRUE(ExportRegistryKeyToFile(file, demo));
  EXPECT_EQ(Document(" <Key Name=\"HKEY_CURRENT_USER\">\r\n"
                     "  <Key Name=\"Software\">\r\n"
                     "   <Key Name=\"Demo\">\r\n"
                     "    <Value Name=\"x\" Content=\"0x00000001 (1)\" Type=\"REG_DWORD\"/>\r\n"
                     "    <Key Name=\"Sub\">\r\n"
                     "     <Value Name=\"s\" Content=\"%windir%\\app.exe\"/>\r\n"
                     "    </Key>\r\n"
                     "   </Key>\r\n"
                     "  </Key>\r\n"
                     " </Key>\r\n"),
            ReadWholeFile(file));
}


TEST_F(RegistryFiles, EmptyKeysAndDefaultValues) {
  ASSERT_TRUE(CreateRegistryKey(std::string(kSource) + "\\Empty"));
  SetValue(std::string(kSource) + "\\Blank", "", REG_SZ, std::string(1, '\0'));
  std::string text = Export(kSource, "\\");
  EXPECT_NE(std::string::npos, text.find("    <Key Name=\"Empty\"/>\r\n")) << text;
  EXPECT_NE(std::string::npos,
            text.find("    <Key Name=\"Blank\">\r\n     <Value Name=\"(Default)\" Content=\"\"/>\r\n"))
      << text;
  EXPECT_EQ(std::string::npos, text.find("(value not set)"));

  // The named key itself always has a start and an end tag.
  text = Export(std::string(kSource) + "\\Empty", "\\");
  EXPECT_NE(std::string::npos, text.find("    <Key Name=\"Empty\">\r\n    </Key>\r\n")) << text;
}

TEST_F(RegistryFiles, SelectorsChooseValues) {
  SetValue(kSource, "Keep", REG_SZ, std::string("k\0", 2));
  SetValue(kSource, "Other", REG_SZ, std::string("o\0", 2));
  SetValue(std::string(kSource) + "\\Sub", "Deep", REG_SZ, std::string("d\0", 2));
  std::string values = Export(kSource, "*");
  EXPECT_NE(std::string::npos, values.find("Name=\"Keep\""));
  EXPECT_NE(std::string::npos, values.find("Name=\"Other\""));
  EXPECT_EQ(std::string::npos, values.find("Sub"));
  std::string one = Export(kSource, "keep");
  EXPECT_NE(std::string::npos, one.find("Name=\"Keep\""));
  EXPECT_EQ(std::string::npos, one.find("Other"));
  std::string none = Export(kSource, "Missing");
  EXPECT_EQ(std::string::npos, none.find("<Value"));
  EXPECT_NE(std::string::npos, none.find("<Key Name=\"QmFileTests\">"));
}

TEST_F(RegistryFiles, UnknownRootsAndMissingKeysExportNothing) {
  Export("HKCU\\Software", "\\", false);
  Export(std::string(kSource) + "\\NoSuchKey", "\\", false);
  Export("", "\\", false);
  EXPECT_FALSE(FileExists(file));
  EXPECT_FALSE(ExportRegistryKeyToFile(file, "HKEY_NOWHERE\\x"));
  EXPECT_FALSE(FileExists(file));
}

TEST_F(RegistryFiles, WholeRootWithoutABackslash) {
  std::string text = Export("HKEY_CURRENT_USER", "*");
  EXPECT_EQ(0u, text.find(Document(" <Key Name=\"HKEY_CURRENT_USER\">\r\n"))) << text;
  EXPECT_NE(std::string::npos, text.find("\r\n </Key>\r\n"));
}

// What the text form makes of each type, and what comes back.
TEST_F(RegistryFiles, EveryTypeThereAndBack) {
  struct Case {
    const char* name;
    DWORD type;
    std::string data;
    const char* content;
    DWORD backType;
    std::string backData;
  } cases[] = {
      {"none", REG_NONE, std::string("n\0", 2), "Content=\"n\" TypeCode=\"0\" Data=\"6e 00\"/>",
       REG_NONE, std::string("n\0", 2)},
      {"sz", REG_SZ, std::string("Mixed Case\0", 11), "Content=\"Mixed Case\"/>", REG_SZ,
       std::string("Mixed Case\0", 11)},
      {"expand", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9),
       "Content=\"%TEMP%\\x\" Type=\"REG_EXPAND_SZ\"/>", REG_EXPAND_SZ,
       std::string("%TEMP%\\x\0", 9)},
      {"bin", REG_BINARY, std::string("\0\x10\xff", 3), "Content=\"00 10 ff\" Type=\"REG_BINARY\"/>",
       REG_BINARY, std::string("\0\x10\xff", 3)},
      {"bin0", REG_BINARY, "", "Content=\"\" Type=\"REG_BINARY\" TypeCode=\"3\" Data=\"\"/>", REG_BINARY,
       ""},
      {"dword", REG_DWORD, "\xff\xff\xff\xff", "Content=\"0xffffffff (-1)\" Type=\"REG_DWORD\"/>",
       REG_DWORD, "\xff\xff\xff\xff"},
      {"big", REG_DWORD_BIG_ENDIAN, std::string("\0\0\x01\0", 4),
       "Content=\"0x00000100 (256)\" Type=\"REG_DWORD\" TypeCode=\"5\" Data=\"00 00 01 00\"/>",
       REG_DWORD_BIG_ENDIAN, std::string("\0\0\x01\0", 4)},
      {"multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5),
       "Content=\"a\r\nb\" Type=\"REG_MULTI_SZ\"/>", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
      {"res", 8, "\x01\x02", "Content=\"01 02\" Type=\"REG_RESOURCE_LIST\"/>", 8, "\x01\x02"},
      {"full", 9, "\x01\x02", "Content=\"\" Type=\"\" TypeCode=\"9\" Data=\"01 02\"/>", 9, "\x01\x02"},
      {"req", 10, "\x03", "Content=\"03\" Type=\"REG_RESOURCE_REQUIREMENTS_LIST\"/>", 10, "\x03"},
      {"qword", 11, "\x08\x07\x06\x05\x04\x03\x02\x01",
       "Content=\"0x0102030405060708\" Type=\"REG_QWORD\"/>", 11, "\x08\x07\x06\x05\x04\x03\x02\x01"},
      {"odd", 0x99, std::string("t\0", 2), "Content=\"t\" Type=\"\" TypeCode=\"153\" Data=\"74 00\"/>",
       0x99, std::string("t\0", 2)},
  };
  for (const Case& c : cases) SetValue(kSource, c.name, c.type, c.data);
  std::string text = Export(kSource, "*");
  for (const Case& c : cases) {
    EXPECT_NE(std::string::npos, text.find("<Value Name=\"" + std::string(c.name) + "\" " + c.content))
        << c.name << "\n" << text;
  }
  DeleteKeyTree(kSource);
  WriteWholeFile(file, text);
  ASSERT_TRUE(ImportRegistryFile(file));
  for (const Case& c : cases) {
    auto back = GetValue(kSource, c.name);
    EXPECT_EQ(c.backType, back.first) << c.name;
    EXPECT_EQ(c.backData, back.second) << c.name;
  }
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(RegistryFiles, DrivePathsAreFoldedAndOtherTextsKeepTheirCase) {
  std::string windows = GetSpecialFolder("Windows").value_or("?");
  SetValue(kSource, "dll", REG_SZ, windows + "\\System32\\X.dll" + '\0');
  SetValue(kSource, "word", REG_SZ, std::string("C:Mixed\0", 8));
  // The folder spelled in other letters than the shell's is folded too: a
  // path, to be re-pointed on the new computer, not kept verbatim.
  std::string upper = windows;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  SetValue(kSource, "upper", REG_SZ, upper + "\\Fonts" + '\0');
  std::string text = Export(kSource, "*");
  EXPECT_NE(std::string::npos, text.find("Content=\"%windir%\\System32\\X.dll\"/>"));
  EXPECT_NE(std::string::npos, text.find("<Value Name=\"upper\" Content=\"%windir%\\Fonts\"/>"))
      << text;
  EXPECT_NE(std::string::npos, text.find("Content=\"C:Mixed\""));
  DeleteKeyTree(kSource);
  WriteWholeFile(file, text);
  ASSERT_TRUE(ImportRegistryFile(file));
  EXPECT_EQ(windows + "\\System32\\X.dll" + '\0', GetValue(kSource, "dll").second);
}

TEST_F(RegistryFiles, DrivePathsFoldOnlyWholeFolderNames) {
  std::string profile = GetSpecialFolder("Profile").value_or("?");
  std::string longer = profile + "beer\\file.txt";
  SetValue(kSource, "longer", REG_SZ, longer + '\0');
  SetValue(kSource, "inside", REG_SZ, profile + "\\Beer.txt" + '\0');
  std::string text = Export(kSource, "*");
  EXPECT_NE(std::string::npos, text.find("<Value Name=\"longer\" Content=\"" + longer + "\"/>")) << text;
  EXPECT_NE(std::string::npos, text.find("<Value Name=\"inside\" Content=\"%userprofile%\\Beer.txt\"/>"))
      << text;
  DeleteKeyTree(kSource);
  WriteWholeFile(file, text);
  ASSERT_TRUE(ImportRegistryFile(file));
  EXPECT_EQ(longer + '\0', GetValue(kSource, "longer").second);
  EXPECT_EQ(profile + "\\Beer.txt" + '\0', GetValue(kSource, "inside").second);
}

TEST_F(RegistryFiles, MarkupCharactersAndApostrophesComeBackWhole) {
  std::string odd = "a&b<c>d\"e'f";
  SetValue(std::string(kSource) + "\\" + odd, odd.c_str(), REG_SZ, odd + '\0');
  std::string text = Export(kSource, "\\");
  EXPECT_EQ(std::string::npos, text.find(odd));
  DeleteKeyTree(kSource);
  WriteWholeFile(file, text);
  ASSERT_TRUE(ImportRegistryFile(file));
  EXPECT_EQ(odd + '\0', GetValue(std::string(kSource) + "\\" + odd, odd.c_str()).second);
}

TEST_F(RegistryFiles, LiteralDefaultNameBecomesTheUnnamedValue) {
  SetValue(kSource, "(Default)", REG_SZ, std::string("named\0", 6));
  std::string text = Export(kSource, "*");
  EXPECT_NE(std::string::npos, text.find("<Value Name=\"(Default)\" Content=\"named\"/>"));
  DeleteKeyTree(kSource);
  WriteWholeFile(file, text);
  ASSERT_TRUE(ImportRegistryFile(file));
  EXPECT_EQ(std::string("named\0", 6), GetValue(kSource, "").second);
  ASSERT_TRUE(Import(Document("<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\">"
                              "<Key Name=\"QmFileTarget\"><Value Content=\"nameless\"/>"
                              "</Key></Key></Key>\r\n")));
  EXPECT_EQ(std::string("nameless\0", 9), GetValue(kTarget, "").second);
}

TEST_F(RegistryFiles, ImportCreatesKeysAndHonoursAttributeOrder) {
  ASSERT_TRUE(Import(Document(" <Key Name=\"HKEY_CURRENT_USER\">\r\n  <Key Name=\"Software\">\r\n"
                              "   <Key Name=\"QmFileTarget\">\r\n    <Key Name=\"New\"/>\r\n"
                              "    <Value Name=\"t\" Type=\"REG_DWORD\" Content=\"0x00000001\"/>\r\n"
                              "   </Key>\r\n  </Key>\r\n </Key>\r\n")));
  EXPECT_TRUE(RegistryKeyExists(std::string(kTarget) + "\\New"));
  auto value = GetValue(kTarget, "t");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.first);  // Type before Content is lost
  EXPECT_EQ(std::string("0x00000001\0", 11), value.second);
}

// A set from another computer must not move this computer's documents or
// application data: a restore leaves the special folders' keys alone, in
// whatever letters the file names them, and imports everything else.
TEST_F(RegistryFiles, RestoresKeepThisComputersSpecialFolders) {
  const std::string shell = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
  const std::string root = "HKEY_CURRENT_USER\\";
  // Takes the test's values out again, whatever the import did.
  auto place = [&](const char* key) {
    std::pair<DWORD, std::string> value = GetValue(root + shell + key, "QmPlace");
    HKEY opened;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (shell + key).c_str(), 0, KEY_SET_VALUE, &opened) ==
        ERROR_SUCCESS) {
      RegDeleteValueA(opened, "QmPlace");
      RegCloseKey(opened);
    }
    return value.second;
  };
  WriteWholeFile(file, Document(
      "<Registry><Key Name=\"HKEY_CURRENT_USER\">"
      "<Key Name=\"software\\microsoft\\windows\\currentversion\\explorer\">"
      "<Key Name=\"User Shell Folders\"><Value Name=\"QmPlace\" Content=\"C:\\Old\"/></Key>"
      "<Key Name=\"Shell Folders\"><Value Name=\"QmPlace\" Content=\"C:\\Old\"/></Key>"
      "<Key Name=\"QmShellView\"><Value Name=\"QmPlace\" Content=\"kept\"/></Key></Key>"
      "<Key Name=\"Software\\QmFileTarget\"><Value Name=\"a\" Content=\"b\"/></Key></Key></Registry>"));

  EXPECT_TRUE(ImportRestoredRegistryFile(file));
  EXPECT_EQ("<missing>", place("User Shell Folders"));
  EXPECT_EQ("<missing>", place("Shell Folders"));
  EXPECT_EQ(std::string("kept\0", 5), place("QmShellView"));
  EXPECT_EQ(std::string("b\0", 2), GetValue(kTarget, "a").second);
  EXPECT_NE(std::string::npos,
            ReadWholeFile(temp.Path() + "QMARK.log")
                .find("not those of the set: HKEY_CURRENT_USER\\software\\microsoft\\windows"
                      "\\currentversion\\explorer\\User Shell Folders"));

  // The console's import of a file the user chose keeps its old way.
  EXPECT_TRUE(ImportRegistryFile(file));
  EXPECT_EQ(std::string("C:\\Old\0", 7), place("User Shell Folders"));
  EXPECT_EQ(std::string("C:\\Old\0", 7), place("Shell Folders"));
  DeleteKeyTree(root + shell + "QmShellView");
}

TEST_F(RegistryFiles, ImportStopsAtKeysItCannotWrite) {
  EXPECT_FALSE(Import(Document("<Key Name=\"HKEY_NOWHERE\"><Value Name=\"a\" Content=\"b\"/></Key>")));
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_FALSE(ImportRegistryFile(temp.Path() + "missing.xml"));

  std::string huge(100000, 'k');
  EXPECT_FALSE(Import(Document("<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\">"
                               "<Key Name=\"QmFileTarget\"><Key Name=\"" + huge + "\">"
                               "<Value Name=\"a\" Content=\"b\"/></Key>"
                               "<Value Name=\"after\" Content=\"x\"/></Key></Key></Key>")));
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ(0u, ui.boxes[0].text.find("couldn't create key HKEY_CURRENT_USER\\Software\\QmFileTarget\\kkk"));
  EXPECT_EQ("<missing>", GetValue(kTarget, "after").second);
}

TEST_F(RegistryFiles, BadValuesAreReportedAndSkipped) {
  ASSERT_TRUE(Import(Document("<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\"><Key Name=\"QmFileTarget\">"
                              "<Value Name=\"short\" Content=\"0x1\" Type=\"REG_DWORD\"/>"
                              "<Value Name=\"hex\" Content=\"zz\" Type=\"REG_BINARY\"/>"
                              "<Value Name=\"q\" Content=\"0x01\" Type=\"REG_QWORD\"/>"
                              "<Value Name=\"good\" Content=\"0x0000000a\" Type=\"reg_dword\"/>"
                              "</Key></Key></Key>")));
  ASSERT_EQ(3u, ui.boxes.size());
  EXPECT_EQ("Couldn't set value short", ui.boxes[0].text);
  EXPECT_EQ("Couldn't set value hex", ui.boxes[1].text);
  EXPECT_EQ("Couldn't set value q", ui.boxes[2].text);
  EXPECT_EQ("<missing>", GetValue(kTarget, "short").second);
  EXPECT_EQ(std::string("\x0a\0\0\0", 4), GetValue(kTarget, "good").second);
}

TEST_F(RegistryFiles, DamagedFilesStopWhereTheDamageIs) {
  // What stands before the damage is written; the error is shown once and
  // the import has failed.
  ASSERT_FALSE(Import(Document("<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\"><Key Name=\"QmFileTarget\">\r\n"
                               "<Value Name=\"before\" Content=\"1\"/>\r\n"
                               "<Value <Name=\"broken\" Content=\"2\"/>\r\n"
                               "<Value Name=\"after\" Content=\"3\"/>\r\n")));
  EXPECT_EQ(std::string("1\0", 2), GetValue(kTarget, "before").second);
  EXPECT_EQ("<missing>", GetValue(kTarget, "after").second);
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ("Parse error in line 4 : (Bad '<' symbol)", ui.boxes[0].text);

  const char* damaged[] = {
      "<Key Name=\"HKEY_CURRENT_USER\"><Key =\"x\">",
      "<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\"><Key Name=\"QmFileTarget\"><Value Name=\"u\" Content=\"unclosed",
      "<\r\n",
      "<>",
      " <Key Name=\"HKEY_CURRENT_USER\">",
  };
  for (const char* body : damaged) {
    ui.boxes.clear();
    Import(Document(body));
    EXPECT_EQ(std::string::npos, GetValue(kTarget, "u").second.find("unclosed")) << body;
  }
}

// Values as files of earlier versions hold them, beside the exact form that
// values which their Content can't restore carry as well.
TEST_F(RegistryFiles, ExactFormWinsAndEarlierFilesReadAsBefore) {
  std::string windows = GetSpecialFolder("Windows").value_or("?");
  ASSERT_TRUE(Import(Document(
      "<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\"><Key Name=\"QmFileTarget\">\r\n"
      "<Value Name=\"bin0\" Content=\"\" Type=\"REG_BINARY\"/>\r\n"
      "<Value Name=\"expand\" Content=\"%windir%\\x\" Type=\"REG_EXPAND_SZ\"/>\r\n"
      "<Value Name=\"lower\" Content=\"%windir%\\system32\\x.dll\"/>\r\n"
      "<Value Name=\"multi\" Content=\"a\r\nb\" Type=\"REG_MULTI_SZ\"/>\r\n"
      "<Value Name=\"lf\" Content=\"a\r\nb\" TypeCode=\"1\" Data=\"61 0a 62 00\"/>\r\n"
      "<Value Name=\"empty\" Content=\"\" Type=\"REG_BINARY\" TypeCode=\"3\" Data=\"\"/>\r\n"
      "<Value Name=\"kept\" Content=\"%windir%\\x\" Type=\"REG_EXPAND_SZ\" TypeCode=\"2\" "
      "Data=\"25 77 69 6E 64 69 72 25 00\"/>\r\n"
      "<Value Name=\"renamed\" TypeCode=\"3\" Data=\"01\" Name=\"plain\" Content=\"p\"/>\r\n"
      "<Value Name=\"badcode\" Content=\"x\" TypeCode=\"one\" Data=\"00\"/>\r\n"
      "<Value Name=\"baddata\" Content=\"x\" TypeCode=\"3\" Data=\"0 1\"/>\r\n"
      "<Value Name=\"nocode\" Content=\"x\" Data=\"00\"/>\r\n"
      "<Value Name=\"big\" Content=\"4294967296\" TypeCode=\"4294967296\" Data=\"00\"/>\r\n"
      "</Key></Key></Key>\r\n")));
  using Stored = std::pair<DWORD, std::string>;
  EXPECT_EQ(Stored(REG_BINARY, std::string(1, '\0')), GetValue(kTarget, "bin0"));
  EXPECT_EQ(Stored(REG_EXPAND_SZ, windows + "\\x" + '\0'), GetValue(kTarget, "expand"));
  EXPECT_EQ(Stored(REG_SZ, windows + "\\system32\\x.dll" + '\0'), GetValue(kTarget, "lower"));
  EXPECT_EQ(Stored(REG_MULTI_SZ, std::string("a\0b\0\0", 5)), GetValue(kTarget, "multi"));
  EXPECT_EQ(Stored(REG_SZ, std::string("a\nb\0", 4)), GetValue(kTarget, "lf"));
  EXPECT_EQ(Stored(REG_BINARY, ""), GetValue(kTarget, "empty"));
  EXPECT_EQ(Stored(REG_EXPAND_SZ, std::string("%windir%\0", 9)), GetValue(kTarget, "kept"));
  EXPECT_EQ(Stored(REG_SZ, std::string("p\0", 2)), GetValue(kTarget, "plain"));
  for (const char* name : {"badcode", "baddata", "nocode", "big"})
    EXPECT_EQ("<missing>", GetValue(kTarget, name).second) << name;
  ASSERT_EQ(4u, ui.boxes.size());
  EXPECT_EQ("Couldn't set value badcode", ui.boxes[0].text);
  EXPECT_EQ("Couldn't set value big", ui.boxes[3].text);
}

// The console's import may run with nobody at the screen: its problems are
// printed, or logged when silent, never put in a box that waits for a click.
TEST_F(RegistryFiles, ConsoleImportPrintsItsProblems) {
  SetWizardMode(false);
  std::string body =
      "<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\"><Key Name=\"QmFileTarget\">\r\n"
      "<Value Name=\"short\" Content=\"0x1\" Type=\"REG_DWORD\"/>\r\n"
      "<Value <Name=\"broken\" Content=\"2\"/>\r\n";
  EXPECT_FALSE(Import(Document(body)));
  EXPECT_EQ("Couldn't set value short\nParse error in line 4 : (Bad '<' symbol)\n", ui.output);
  EXPECT_FALSE(Import(Document("<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\"><Key Name=\"" +
                               std::string(100000, 'k') + "\"/></Key></Key>")));
  EXPECT_NE(std::string::npos, ui.output.find("\ncouldn't create key HKEY_CURRENT_USER\\Software\\kkk"));
  EXPECT_TRUE(ui.boxes.empty());

  ui.output.clear();
  SetSilent(true);
  EXPECT_FALSE(Import(Document(body)));
  EXPECT_EQ("", ui.output);
  std::string log = ReadWholeFile(LogFilePath());  // a text file: CR LF line ends
  EXPECT_NE(std::string::npos, log.find(": Couldn't set value short\r\n")) << log;
  EXPECT_NE(std::string::npos, log.find(": Parse error in line 4 : (Bad '<' symbol)\r\n")) << log;
  EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(RegistryFiles, KeyElementsWithoutOrWithTwoNamesKeepTheChain) {
  ASSERT_TRUE(Import(Document("<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\">"
                              "<Key Name=\"QmFileTarget\" Name=\"Second\">"
                              "<Key><Value Name=\"inner\" Content=\"i\"/></Key>"
                              "<Value Name=\"outer\" Content=\"o\"/>"
                              "</Key></Key></Key>")));
  EXPECT_EQ(std::string("i\0", 2), GetValue(kTarget, "inner").second);
  EXPECT_EQ(std::string("o\0", 2), GetValue(kTarget, "outer").second);
  EXPECT_FALSE(RegistryKeyExists(std::string(kTarget) + "\\Second"));
  EXPECT_EQ("<missing>", GetValue("HKEY_CURRENT_USER\\Software", "outer").second);
}

TEST_F(RegistryFiles, DeepNestingFailsCleanly) {
  std::string body = "<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\"><Key Name=\"QmFileTarget\">";
  for (int i = 0; i < 3000; ++i) body += "<Key Name=\"k\">";
  body += "<Value Name=\"deep\" Content=\"x\"/>";
  EXPECT_FALSE(Import(Document(body)));
  EXPECT_EQ(1u, ui.boxes.size());
}

// A key far larger than one piece of the written text, with values created
// out of name order: every value once, in name order, exactly as formatted.
TEST_F(RegistryFiles, LargeKeysComeOutWholeAndInOrder) {
  HKEY key = OpenTestKey(kSource);
  ASSERT_NE(HKEY(NULL), key);
  const int kValues = 3000;
  std::string expected = Document(" <Key Name=\"HKEY_CURRENT_USER\">\r\n  <Key Name=\"Software\">\r\n"
                                  "   <Key Name=\"QmFileTests\">\r\n");
  std::vector<std::string> lines(kValues);
  for (int i = kValues - 1; i >= 0; --i) {
    char name[16];
    std::snprintf(name, sizeof name, "v%04d", i);
    if (i % 3 == 0) {
      DWORD number = static_cast<DWORD>(i);
      ASSERT_EQ(0, RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4));
      char content[32];
      std::snprintf(content, sizeof content, "0x%08x (%d)", i, i);
      lines[i] = std::string("    <Value Name=\"") + name + "\" Content=\"" + content +
                 "\" Type=\"REG_DWORD\"/>\r\n";
    } else {
      std::string text = std::string(100, 'a' + i % 26) + " & " + std::to_string(i);
      ASSERT_EQ(0, RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>(text.size() + 1)));
      lines[i] = std::string("    <Value Name=\"") + name + "\" Content=\"" +
                 ReplaceAll(text, "&", "&amp;") + "\"/>\r\n";
    }
  }
  RegCloseKey(key);
  SetValue(std::string(kSource) + "\\Sub", "s", REG_SZ, std::string("x\0", 2));
  ASSERT_TRUE(CreateRegistryKey(std::string(kSource) + "\\Sub\\Leaf"));
  for (const std::string& line : lines) expected += line;
  expected += "    <Key Name=\"Sub\">\r\n     <Value Name=\"s\" Content=\"x\"/>\r\n"
              "     <Key Name=\"Leaf\"/>\r\n    </Key>\r\n   </Key>\r\n  </Key>\r\n </Key>\r\n";
  ASSERT_TRUE(ExportRegistryKeyToFile(file, kSource));
  std::string written = ReadWholeFile(file);
  ASSERT_GT(written.size(), 300000u);
  EXPECT_TRUE(written == expected) << "first difference at "
                                   << std::mismatch(written.begin(), written.end(), expected.begin(),
                                                    expected.end()).first - written.begin();
}

// The names of a key's values in the order the registry lists them, which
// is the order they were made in.
std::vector<std::string> ValueNames(const std::string& keyPath) {
  std::vector<std::string> names;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.substr(18).c_str(), 0, KEY_READ, &key) != 0)
    return names;
  char name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    if (RegEnumValueA(key, index, name, &length, NULL, NULL, NULL, NULL) != 0) break;
    names.emplace_back(name, length);
  }
  RegCloseKey(key);
  return names;
}

// A tree of more keys and values than are read or written at once: it comes
// back whole, each key's values made in the order of the file, and a key
// named twice in a file (in other letter case) keeps the later data.
TEST_F(RegistryFiles, TreesLargerThanABatchComeBackWholeAndInOrder) {
  const int kKeys = 300, kValues = 20;
  std::vector<std::string> names;
  for (int v = 0; v < kValues; ++v) names.push_back("v" + std::to_string(10 + v));
  for (int k = 0; k < kKeys; ++k) {
    std::string key = std::string(kSource) + "\\K" + std::to_string(100 + k);
    for (const std::string& name : names)
      SetValue(key, name.c_str(), REG_SZ, name + " of " + std::to_string(k) + std::string(1, '\0'));
  }
  ASSERT_TRUE(CreateRegistryKey(std::string(kSource) + "\\K100\\Leaf"));
  std::string exported = Export(kSource, "\\");
  ASSERT_TRUE(Import(Renamed(exported, "\"QmFileTests\"", "\"QmFileTarget\"")));
  EXPECT_EQ(Renamed(exported, "\"QmFileTests\"", "\"QmFileTarget\""), Export(kTarget, "\\"));
  for (int k = 0; k < kKeys; ++k) {
    std::string key = std::string(kTarget) + "\\K" + std::to_string(100 + k);
    ASSERT_EQ(names, ValueNames(key)) << key;
  }
  EXPECT_TRUE(RegistryKeyExists(std::string(kTarget) + "\\K100\\Leaf"));

  std::string twice;
  for (int k = 0; k < 200; ++k) {
    std::string name = "Twice" + std::to_string(k);
    twice += "<Key Name=\"" + name + "\"><Value Name=\"x\" Content=\"first\"/></Key>"
             "<Key Name=\"" + ToLowerAscii(name) + "\\\"><Value Name=\"x\" Content=\"second\"/></Key>";
  }
  ASSERT_TRUE(Import(Document("<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\">"
                              "<Key Name=\"QmFileTarget\">" + twice + "</Key></Key></Key>")));
  for (int k = 0; k < 200; ++k)
    EXPECT_EQ(std::string("second\0", 7),
              GetValue(std::string(kTarget) + "\\Twice" + std::to_string(k), "x").second);
  EXPECT_TRUE(ui.boxes.empty());
}

// An import opens each key below the one already open; names that are no
// single level (empty, or with backslashes) are still taken as a path from
// the root, the way they always were.
TEST_F(RegistryFiles, KeyNamesThatAreNoSingleLevelStillNameTheirPath) {
  ASSERT_TRUE(Import(Document("<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\">"
                              "<Key Name=\"QmFileTarget\"><Key Name=\"\">"
                              "<Value Name=\"here\" Content=\"h\"/></Key>"
                              "<Key Name=\"A\\B\"><Key Name=\"C\">"
                              "<Value Name=\"deep\" Content=\"d\"/>"
                              "</Key></Key>"
                              "<Key Name=\"New\"><Value Name=\"n\" Content=\"1\"/></Key>"
                              "</Key></Key></Key>")));
  EXPECT_EQ(std::string("h\0", 2), GetValue(kTarget, "here").second);
  EXPECT_EQ(std::string("d\0", 2), GetValue(std::string(kTarget) + "\\A\\B\\C", "deep").second);
  EXPECT_EQ(std::string("1\0", 2), GetValue(std::string(kTarget) + "\\New", "n").second);
  EXPECT_TRUE(ui.boxes.empty());
}


// The registry as reg.exe exports it, as plain text, with one key renamed.
std::string RegExport(const std::string& key, const std::string& file) {
  Finished run = RunCommand("reg.exe export " + key + " \"" + file + "\" /y");
  EXPECT_EQ(0u, run.status) << run.output;
  std::string raw = ReadWholeFile(file), text;
  for (char c : raw) {
    if (c != '\0') text += c;  // the file is UTF-16; our names are ASCII
  }
  return text;
}

class ConsoleRegistryFiles : public RegistryFiles {
 protected:
  void SetUp() override {
    RegistryFiles::SetUp();
    ASSERT_TRUE(CreateRegistryKey(kInstallKey));
  }
};

TEST_F(ConsoleRegistryFiles, ExportThenImportElsewhereMatchesRegExe) {
  std::string key = kSource;
  SetValue(key, "", REG_SZ, std::string("default\0", 8));
  SetValue(key, "Text", REG_SZ, std::string("Hello World\0", 12));
  SetValue(key, "Expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\x\0", 15));
  SetValue(key, "Bytes", REG_BINARY, std::string("\0\x01\xfe\xff", 4));
  SetValue(key, "Number", REG_DWORD, "\x78\x56\x34\x12");
  SetValue(key, "Large", 11, "\x01\x02\x03\x04\x05\x06\x07\x08");
  SetValue(key, "Lines", REG_MULTI_SZ, std::string("one\0two\0three\0\0", 15));
  SetValue(key + "\\Sub One", "Inner", REG_DWORD, std::string("\x2a\0\0\0", 4));
  SetValue(key + "\\Sub One\\Deeper", "Empty", REG_SZ, std::string(1, '\0'));
  ASSERT_TRUE(CreateRegistryKey(key + "\\Sub Two"));

  Finished run = RunProgram("backupcmd.exe", "/e:" + Renamed(key, " ", "%20") + " " + file);
  EXPECT_EQ(0u, run.status);
  EXPECT_NE(std::string::npos, run.output.find("Done!\r\n")) << run.output;
  WriteWholeFile(file, Renamed(ReadWholeFile(file), "\"QmFileTests\"", "\"QmFileTarget\""));

  run = RunProgram("backupcmd.exe", "/i " + file + " /del");
  EXPECT_NE(std::string::npos, run.output.find("Done!\r\n")) << run.output;
  EXPECT_FALSE(FileExists(file));

  std::string source = RegExport("HKCU\\Software\\QmFileTests", temp.Path() + "source.reg");
  std::string target = RegExport("HKCU\\Software\\QmFileTarget", temp.Path() + "target.reg");
  EXPECT_NE(std::string::npos, source.find("\"Large\"")) << source;
  EXPECT_EQ(Renamed(source, "QmFileTests", "QmFileTarget"), target);
}

// What the text form alone would change: line breaks, empty data, missing
// terminators and the types it has no name for.
TEST_F(ConsoleRegistryFiles, AwkwardValuesComeBackByteForByte) {
  struct Stored {
    const char* name;
    DWORD type;
    std::string data;
  } values[] = {
      {"lf", REG_SZ, std::string("one\ntwo\0", 8)},
      {"cr", REG_SZ, std::string("one\rtwo\0", 8)},
      {"crlf", REG_SZ, std::string("one\r\ntwo\0", 9)},
      {"leading break", REG_SZ, std::string("\r\nx\0", 4)},
      {"blank line", REG_SZ, std::string("a\r\n\r\nb\0", 7)},
      {"unended", REG_SZ, "abc"},
      {"empty", REG_SZ, ""},
      {"two texts", REG_SZ, std::string("a\0b\0", 4)},
      {"expand", REG_EXPAND_SZ, std::string("%windir%\\x\0", 11)},
      {"bin0", REG_BINARY, ""},
      {"short", REG_DWORD, "\x01\x02"},
      {"multi one end", REG_MULTI_SZ, std::string("a\0b\0", 4)},
      {"multi0", REG_MULTI_SZ, ""},
      {"multi gap", REG_MULTI_SZ, std::string("a\0\0b\0\0", 6)},
      {"multi cr", REG_MULTI_SZ, std::string("a\rb\0\0", 5)},
      {"none", REG_NONE, std::string("n\0", 2)},
      {"none0", REG_NONE, ""},
      {"big", REG_DWORD_BIG_ENDIAN, std::string("\0\0\x01\0", 4)},
      {"link", REG_LINK, std::string("l\0k\0", 4)},
      {"full", REG_FULL_RESOURCE_DESCRIPTOR, "\x01\x02"},
      {"odd", 0x99, std::string("t\0", 2)},
  };
  std::string key = kSource;
  for (const Stored& value : values) SetValue(key, value.name, value.type, value.data);

  Finished run = RunProgram("backupcmd.exe", "/e:" + key + " " + file);
  EXPECT_NE(std::string::npos, run.output.find("Done!\r\n")) << run.output;
  WriteWholeFile(file, Renamed(ReadWholeFile(file), "\"QmFileTests\"", "\"QmFileTarget\""));
  run = RunProgram("backupcmd.exe", "/i " + file + " /del");
  EXPECT_NE(std::string::npos, run.output.find("Done!\r\n")) << run.output;
  EXPECT_FALSE(FileExists(file));

  for (const Stored& value : values)
    EXPECT_EQ(GetValue(kSource, value.name), GetValue(kTarget, value.name)) << value.name;
  std::string source = RegExport("HKCU\\Software\\QmFileTests", temp.Path() + "source.reg");
  std::string target = RegExport("HKCU\\Software\\QmFileTarget", temp.Path() + "target.reg");
  EXPECT_NE(std::string::npos, source.find("\"multi gap\"")) << source;
  EXPECT_EQ(Renamed(source, "QmFileTests", "QmFileTarget"), target);
}

// A parse error halfway is a failed import: the only copy of the file stays
// and the console says what went wrong, on the screen or in the log.
TEST_F(ConsoleRegistryFiles, DamagedFileIsReportedAndKept) {
  WriteWholeFile(file, Document("<Key Name=\"HKEY_CURRENT_USER\"><Key Name=\"Software\">"
                                "<Key Name=\"QmFileTarget\">\r\n"
                                "<Value Name=\"before\" Content=\"1\"/>\r\n"
                                "<Value <Name=\"broken\" Content=\"2\"/>\r\n"
                                "</Key></Key></Key>\r\n"));
  Finished run = RunProgram("backupcmd.exe", "/i " + file + " /del");
  EXPECT_NE(std::string::npos,
            run.output.find("Parse error in line 4 : (Bad '<' symbol)\r\n"
                            "Error: Couldn't import registry file!\r\n"))
      << run.output;
  EXPECT_EQ(std::string::npos, run.output.find("Done!"));
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ(std::string("1\0", 2), GetValue(kTarget, "before").second);

  // As a restore arranges it for the next start of Windows.
  run = RunProgram("backupcmd.exe", "/s /y /i " + file + " /del");
  EXPECT_EQ("", run.output);
  EXPECT_TRUE(FileExists(file));
  std::string log = ReadWholeFile(LogFilePath());
  EXPECT_NE(std::string::npos, log.find(": Parse error in line 4 : (Bad '<' symbol)\r\n")) << log;
  EXPECT_NE(std::string::npos, log.find(": Error: Couldn't import registry file!\r\n")) << log;
}

TEST_F(ConsoleRegistryFiles, FailedImportKeepsTheFile) {
  WriteWholeFile(file, Document("<Key Name=\"HKEY_NOWHERE\"><Key Name=\"x\"/></Key>\r\n"));
  Finished run = RunProgram("backupcmd.exe", "/i " + file + " /del");
  EXPECT_EQ(2u, run.status);
  EXPECT_NE(std::string::npos, run.output.find("Error: Couldn't import registry file!\r\n"));
  EXPECT_TRUE(FileExists(file));

  run = RunProgram("backupcmd.exe", "/e:HKEY_CURRENT_USER\\Software\\QmNoSuchKey " + file + "2");
  EXPECT_EQ(2u, run.status);
  EXPECT_NE(std::string::npos, run.output.find("Error: couldn't export registry file!\r\n"));
  EXPECT_FALSE(FileExists(file + "2"));
}

}  // namespace
