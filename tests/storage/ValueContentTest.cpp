#include "storage/ValueContent.h"

#include <gtest/gtest.h>

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
