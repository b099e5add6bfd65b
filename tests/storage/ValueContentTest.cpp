#include "storage/ValueContent.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "catalogue/Xml.h"

namespace {

std::string Format(std::uint32_t type, const std::string& bytes) {
  return FormatValueContent(type, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string Parse(const std::string& content, std::uint32_t type) {
  return ParseValueContent(content, type).value_or("<none>");
}

const std::string kNul(1, '\0');

TEST(ValueContentNumbers, DwordShowsHexAndSignedDecimal) {
  EXPECT_EQ("0x0000002a (42)", Format(kRegDword, std::string("\x2a\0\0\0", 4)));
  EXPECT_EQ("0xffffffff (-1)", Format(kRegDword, "\xff\xff\xff\xff"));
  EXPECT_EQ("0x00000100 (256)", Format(kRegDwordBigEndian, std::string("\0\0\x01\0", 4)));
  EXPECT_EQ("0x0102030405060708", Format(kRegQword, "\x08\x07\x06\x05\x04\x03\x02\x01"));
  // A value shorter than its type: the missing bytes count as zero.
  EXPECT_EQ("0x00000005 (5)", Format(kRegDword, "\x05"));
  EXPECT_EQ("0x0000000000000000", Format(kRegQword, ""));
}

TEST(ValueContentNumbers, ParsedLeastSignificantFirst) {
  EXPECT_EQ(std::string("\xff\xff\xff\xff"), Parse("0xffffffff (-1)", kRegDword));
  EXPECT_EQ(std::string("\x00\x01\x00\x00", 4), Parse("0x00000100", kRegDword));
  EXPECT_EQ(std::string("\x2a\0\0\0", 4), Parse("0x0000002A (anything)", kRegDword));
  EXPECT_EQ(std::string(4, '\0'), Parse("", kRegDword));
  EXPECT_EQ("\x08\x07\x06\x05\x04\x03\x02\x01", Parse("0x0102030405060708", kRegQword));
  EXPECT_EQ(std::string(8, '\0'), Parse("", kRegQword));
}

TEST(ValueContentNumbers, ShortOrOddContentIsNotData) {
  EXPECT_EQ("<none>", Parse("0x1", kRegDword));
  EXPECT_EQ("<none>", Parse("0x0000002", kRegDword));
  EXPECT_EQ("<none>", Parse("0x000000zz", kRegDword));
  EXPECT_EQ("<none>", Parse("0x01020304", kRegQword));
  EXPECT_EQ("<none>", Parse("0x010203040506070g", kRegQword));
}

TEST(ValueContentBinary, BytesAsHexPairs) {
  EXPECT_EQ("00 7f ff", Format(kRegBinary, std::string("\0\x7f\xff", 3)));
  EXPECT_EQ("", Format(kRegBinary, ""));
  EXPECT_EQ("0a", Format(kRegResourceList, "\x0a"));
  EXPECT_EQ(std::string("\0\x7f\xff", 3), Parse("00 7F ff", kRegBinary));
  EXPECT_EQ(kNul, Parse("", kRegBinary));  // empty data comes back as one zero byte
  EXPECT_EQ("\x12", Parse("12-", kRegResourceRequirementsList));  // the separator isn't looked at
  EXPECT_EQ("\x12", Parse("12 3", kRegBinary));  // an unpaired digit is dropped
  EXPECT_EQ("", Parse("1", kRegBinary));          // no whole byte: no data
  EXPECT_EQ("<none>", Parse("12 xy", kRegBinary));
}

TEST(ValueContentText, TextsStopAtTheirFirstNul) {
  EXPECT_EQ("abc", Format(kRegSz, std::string("abc\0def", 7)));
  EXPECT_EQ("abc", Format(kRegSz, "abc"));  // no terminator stored
  EXPECT_EQ("%PATH%;x", Format(kRegExpandSz, std::string("%PATH%;x\0", 9)));
  EXPECT_EQ("link", Format(kRegLink, std::string("link\0", 5)));
  EXPECT_EQ("none", Format(kRegNone, std::string("none\0x", 6)));
  EXPECT_EQ("odd", Format(42, std::string("odd\0", 4)));
  EXPECT_EQ("", Format(kRegFullResourceDescriptor, "\x01\x02"));
  EXPECT_EQ(std::string("abc\0", 4), Parse("abc", kRegSz));
  EXPECT_EQ(kNul, Parse("", kRegExpandSz));
}

TEST(ValueContentText, MultiStringsAreLinesOfOneContent) {
  EXPECT_EQ("a\r\nb", Format(kRegMultiSz, std::string("a\0b\0\0", 5)));
  EXPECT_EQ("", Format(kRegMultiSz, std::string("\0\0", 2)));
  EXPECT_EQ("", Format(kRegMultiSz, "x"));
  EXPECT_EQ(std::string("a\0b\0\0", 5), Parse("a\r\nb", kRegMultiSz));
  EXPECT_EQ(kNul, Parse("", kRegMultiSz));
  std::string stored("one\0two\0\0", 9);
  EXPECT_EQ(stored, Parse(Format(kRegMultiSz, stored), kRegMultiSz));
}

TEST(ValueContentTypes, NamesBothWays) {
  EXPECT_EQ("REG_DWORD", RegistryTypeName(kRegDwordBigEndian));
  EXPECT_EQ("REG_SZ", RegistryTypeName(kRegLink));
  EXPECT_EQ("", RegistryTypeName(kRegFullResourceDescriptor));
  EXPECT_EQ("", RegistryTypeName(12));
  for (std::uint32_t type : {kRegExpandSz, kRegBinary, kRegDword, kRegMultiSz, kRegResourceList,
                             kRegResourceRequirementsList, kRegQword}) {
    EXPECT_EQ(type, RegistryTypeFromName(RegistryTypeName(type)));
  }
  EXPECT_EQ(static_cast<std::uint32_t>(kRegQword), RegistryTypeFromName("reg_qword"));
  EXPECT_EQ(static_cast<std::uint32_t>(kRegSz), RegistryTypeFromName(""));
  EXPECT_EQ(static_cast<std::uint32_t>(kRegSz), RegistryTypeFromName("REG_LINK"));
  EXPECT_EQ(static_cast<std::uint32_t>(kRegSz), RegistryTypeFromName("REG_DWORDX"));
}

using Attributes = std::vector<std::pair<std::string, std::string>>;

std::string Same(const std::string& text) { return text; }

// The placeholder a test computer's Windows folder folds into.
std::string UnfoldWindows(const std::string& text) {
  std::string unfolded = text;
  for (size_t at; (at = unfolded.find("%windir%")) != std::string::npos;)
    unfolded.replace(at, 8, "C:\\WINDOWS");
  return unfolded;
}

Attributes For(std::uint32_t type, const std::string& data,
               const UnfoldPlaceholders& unfold = Same) {
  std::string content =
      FormatValueContent(type, reinterpret_cast<const unsigned char*>(data.data()), data.size());
  return ValueAttributes(type, data, content, unfold);
}

// Writes each element into one file and reads every attribute back with the
// real reader, one list per element.
std::vector<Attributes> WrittenAndRead(const std::vector<Attributes>& elements) {
  std::string path = (std::filesystem::temp_directory_path() / "qm-value-content-test.xml").string();
  {
    XmlWriter writer;
    writer.SetFileName(path);
    for (const Attributes& attributes : elements) {
      XmlElement element("Value");
      for (const auto& attribute : attributes)
        element.SetAttribute(attribute.first, EscapeXml(attribute.second));
      element.WriteEmpty(writer, 1, true, true);
    }
    EXPECT_TRUE(writer.Close());
  }
  std::vector<Attributes> read;
  XmlReader reader;
  EXPECT_TRUE(reader.Open(path));
  while (reader.Next()) {
    if (reader.GetTokenType() == XmlTokenType::StartElement) read.emplace_back();
    if (reader.GetTokenType() != XmlTokenType::Attribute || read.empty()) continue;
    std::string name, value;
    reader.GetAttribute(name, value);
    read.back().emplace_back(name, UnescapeXml(value));
  }
  EXPECT_EQ("", reader.GetError());
  reader.Close();
  std::filesystem::remove(path);
  return read;
}

TEST(ValueContentReadBack, LineEndsAsTheReaderDeliversThem) {
  EXPECT_EQ("a\r\nb", AttributeValueAsRead("a\r\nb").value_or("<ends>"));
  EXPECT_EQ("a\r\nb", AttributeValueAsRead("a\nb").value_or("<ends>"));
  // A break with nothing before it on its line is lost.
  EXPECT_EQ("x", AttributeValueAsRead("\r\nx").value_or("<ends>"));
  EXPECT_EQ("a\r\nb", AttributeValueAsRead("a\n\r\nb").value_or("<ends>"));
  // A lone CR, a quote or '>' ends the value early.
  EXPECT_EQ("<ends>", AttributeValueAsRead("a\rb").value_or("<ends>"));
  EXPECT_EQ("<ends>", AttributeValueAsRead("it's").value_or("<ends>"));
  EXPECT_EQ("<ends>", AttributeValueAsRead("a>b").value_or("<ends>"));
}

// The export decides on the model, so it must say what the reader does for
// every short text of letters, blanks and line-end characters.
TEST(ValueContentReadBack, ModelAgreesWithTheReader) {
  const char alphabet[] = {'a', ' ', '\r', '\n'};
  std::vector<std::string> texts{""};
  for (size_t begin = 0, length = 0; length < 6; ++length) {
    size_t end = texts.size();
    for (size_t i = begin; i < end; ++i)
      for (char c : alphabet) texts.push_back(texts[i] + c);
    begin = end;
  }
  std::vector<Attributes> elements;
  std::vector<std::string> expected;
  for (const std::string& text : texts) {
    std::optional<std::string> read = AttributeValueAsRead(text);
    if (!read) continue;  // would end early and upset what follows
    elements.push_back({{"C", text}, {"D", "end"}});
    expected.push_back(*read);
  }
  ASSERT_GT(elements.size(), 1000u);
  std::vector<Attributes> read = WrittenAndRead(elements);
  ASSERT_EQ(elements.size(), read.size());
  for (size_t i = 0; i < read.size(); ++i) {
    ASSERT_EQ((Attributes{{"C", expected[i]}, {"D", "end"}}), read[i])
        << "written: " << ::testing::PrintToString(elements[i][0].second);
  }
}

TEST(ValueContentExactForm, ValuesTheTextRestoresAreWrittenAsBefore) {
  EXPECT_EQ((Attributes{{"Content", "a\r\nb"}}), For(kRegSz, std::string("a\r\nb\0", 5)));
  EXPECT_EQ((Attributes{{"Content", "a\r\nb"}, {"Type", "REG_MULTI_SZ"}}),
            For(kRegMultiSz, std::string("a\0b\0\0", 5)));
  EXPECT_EQ((Attributes{{"Content", "%windir%\\x"}, {"Type", "REG_EXPAND_SZ"}}),
            For(kRegExpandSz, std::string("%windir%\\x\0", 11)));
  // Folded on export, unfolded on import: the same bytes again.
  std::string path("C:\\WINDOWS\\app.exe\0", 19);
  EXPECT_EQ((Attributes{{"Content", "%windir%\\app.exe"}}),
            ValueAttributes(kRegSz, path, "%windir%\\app.exe", UnfoldWindows));
}

TEST(ValueContentExactForm, OtherValuesAlsoCarryTypeCodeAndBytes) {
  EXPECT_EQ((Attributes{{"Content", "a\r\nb"}, {"TypeCode", "1"}, {"Data", "61 0a 62 00"}}),
            For(kRegSz, std::string("a\nb\0", 4)));
  EXPECT_EQ((Attributes{{"Content", "a\r\nb"}, {"TypeCode", "1"}, {"Data", "61 0d 62 00"}}),
            For(kRegSz, std::string("a\rb\0", 4)));
  EXPECT_EQ((Attributes{{"Content", "abc"}, {"TypeCode", "1"}, {"Data", "61 62 63"}}),
            For(kRegSz, "abc"));
  EXPECT_EQ((Attributes{{"Content", "a\r\n"}, {"Type", "REG_MULTI_SZ"}, {"TypeCode", "7"},
                        {"Data", "61 00 62 00"}}),
            For(kRegMultiSz, std::string("a\0b\0", 4)));
  EXPECT_EQ((Attributes{{"Content", "0x00000201 (513)"}, {"Type", "REG_DWORD"}, {"TypeCode", "4"},
                        {"Data", "01 02"}}),
            For(kRegDword, "\x01\x02"));
  // A placeholder the import would unfold is no placeholder of this value.
  EXPECT_EQ((Attributes{{"Content", "%windir%\\x"}, {"Type", "REG_EXPAND_SZ"}, {"TypeCode", "2"},
                        {"Data", "25 77 69 6e 64 69 72 25 5c 78 00"}}),
            For(kRegExpandSz, std::string("%windir%\\x\0", 11), UnfoldWindows));
}

TEST(ValueContentExactForm, EveryValueComesBackThroughTheReader) {
  const std::uint32_t types[] = {kRegNone, kRegSz, kRegExpandSz, kRegBinary, kRegDword,
                                 kRegDwordBigEndian, kRegLink, kRegMultiSz, kRegResourceList,
                                 kRegFullResourceDescriptor, kRegResourceRequirementsList,
                                 kRegQword, 0x99};
  const std::string pieces[] = {"a", std::string(1, '\0'), "\r", "\n", "\r\n", "\"", "'", "&",
                                "%", "\xff", "<"};
  std::vector<std::pair<std::uint32_t, std::string>> values;
  std::vector<Attributes> elements;
  unsigned seed = 2024;
  for (int round = 0; round < 3000; ++round) {
    seed = seed * 1103515245u + 12345u;
    std::uint32_t type = types[(seed >> 16) % 13];
    bool whole = (seed >> 12) & 1;  // ended or sized as its type wants
    std::string data;
    for (size_t length = (seed >> 8) % 10; data.size() < length;) {
      seed = seed * 1103515245u + 12345u;
      const std::string& piece = pieces[(seed >> 16) % 11];
      if (!whole || piece[0] != '\0') data += piece;
    }
    if (whole && (type == kRegSz || type == kRegExpandSz)) data += '\0';
    if (whole && type == kRegMultiSz) data += std::string(2, '\0');
    if (whole && type == kRegDword) data.resize(4, 'x');
    if (whole && type == kRegQword) data.resize(8, 'x');
    values.emplace_back(type, data);
    elements.push_back(For(type, data));
  }
  std::vector<Attributes> read = WrittenAndRead(elements);
  ASSERT_EQ(elements.size(), read.size());
  for (size_t i = 0; i < read.size(); ++i) {
    SCOPED_TRACE(::testing::PrintToString(values[i]));
    // Every attribute arrives: a Content never derails the reader.
    ASSERT_EQ(elements[i].size(), read[i].size());
    for (size_t a = 0; a < read[i].size(); ++a) ASSERT_EQ(elements[i][a].first, read[i][a].first);
    std::map<std::string, std::string> attributes(read[i].begin(), read[i].end());
    std::pair<std::uint32_t, std::string> back;
    if (attributes.count("TypeCode")) {
      back = ParseExactValue(attributes["TypeCode"], attributes["Data"]).value_or(back);
    } else {
      back.first = RegistryTypeFromName(attributes["Type"]);
      back.second = ParseValueContent(attributes["Content"], back.first).value_or("<none>");
    }
    ASSERT_EQ(values[i], back);
  }
}

TEST(ValueContentExactForm, TypeCodeAndDataOnlyInTheWrittenForm) {
  using Exact = std::pair<std::uint32_t, std::string>;
  EXPECT_EQ(Exact(3, ""), ParseExactValue("3", "").value_or(Exact(99, "?")));
  EXPECT_EQ(Exact(4294967295u, std::string("\xab\xcd\0", 3)),
            ParseExactValue("4294967295", "AB cd 00").value_or(Exact(99, "?")));
  for (const char* code : {"", "4294967296", "1x", "-1", " 3", "99999999999"})
    EXPECT_FALSE(ParseExactValue(code, "00")) << code;
  for (const char* data : {"0", "00 0", "00  01", "00-01", "0g", " 00", "00 "})
    EXPECT_FALSE(ParseExactValue("3", data)) << data;
}

}  // namespace

namespace {

// The exchange sort the files were first ordered by.
void ExchangeSort(std::vector<RegistryValueEntry>& entries) {
  for (bool exchanged = true; exchanged;) {
    exchanged = false;
    for (size_t i = 0; i + 1 < entries.size(); ++i) {
      if (CompareNoCase(entries[i].name, "(Default)") != 0 &&
          CompareNoCase(entries[i].name, entries[i + 1].name) > 0) {
        std::swap(entries[i], entries[i + 1]);
        exchanged = true;
      }
    }
  }
}

TEST(ValueOrder, SameAsTheExchangeSortForAnyNames) {
  const char* names[] = {"(Default)", "(default)", "b", "B", "a", "#x", "&y", "z", "(d", ""};
  unsigned seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::vector<RegistryValueEntry> entries;
    size_t count = round % 9;
    for (size_t i = 0; i < count; ++i) {
      seed = seed * 1103515245u + 12345u;
      entries.push_back({names[(seed >> 16) % 10], std::to_string(i), 1});
    }
    std::vector<RegistryValueEntry> expected = entries;
    ExchangeSort(expected);
    OrderValueEntries(entries);
    ASSERT_EQ(expected.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      ASSERT_EQ(expected[i].name, entries[i].name) << "round " << round << " at " << i;
      ASSERT_EQ(expected[i].content, entries[i].content) << "round " << round << " at " << i;
    }
  }
}

}  // namespace
