#include "system/SpecialItemFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What the cookie reader returns, one word per entry: "R address high low",
// "L address" (left out), "C cookie", "+ cookie" (too long), "D address"
// (damaged), separated by "|".
std::string Cookies(const std::string& text) {
  StringSource source(text);
  CookieFileReader reader(source);
  std::string out;
  for (;;) {
    CookieFileEntry entry = reader.Next();
    if (!out.empty()) out += "|";
    switch (entry.kind) {
      case CookieFileEntry::Kind::End:
        return out + "E";
      case CookieFileEntry::Kind::Record:
        out += entry.tooLong ? "L " + entry.text.substr(0, 12)
                             : "R " + entry.text + " " + std::to_string(entry.expiryHigh) + " " +
                                   std::to_string(entry.expiryLow);
        break;
      case CookieFileEntry::Kind::Cookie:
        out += (entry.tooLong ? "+ " : "C ") + entry.text.substr(0, 12);
        break;
      case CookieFileEntry::Kind::Damaged:
        out += "D " + entry.text;
        break;
    }
  }
}

std::vector<std::string> History(const std::string& text) {
  StringSource source(text);
  std::vector<std::string> words;
  std::string word;
  for (TokenRead read; (read = ReadHistoryAddress(source, word)) != TokenRead::End;)
    words.push_back((read == TokenRead::TooLong ? "+" : "") + std::to_string(word.size()) + ":" +
                    word.substr(0, 12));
  return words;
}

// "file id path" per line read, then "E" or "X" (refused).
std::string Stores(const std::string& text) {
  StringSource source(text);
  std::string out;
  StoreLine line;
  for (;;) {
    StoreLineRead read = ReadStoreLine(source, line);
    if (read != StoreLineRead::Ok) return out + (read == StoreLineRead::End ? "E" : "X");
    out += line.fileName + " " + line.id.substr(0, 4) + " " + line.storedPath + "|";
  }
}

const std::string kId = "000102030405060708090a0b0c0d0e0f";

// ---------------------------------------------------------------- cookies.txt

TEST(CookieFileReading, RecordsReadTheSameWhateverTheLineEnds) {
  const std::string expected = "R http://a.test/ 31608444 3042552576|C qc=3;|C qd=4;|"
                               "R http://b.test/p/ 1 0|E";
  for (const char* end : {"\r\r\n", "\r\n", "\n"}) {
    std::string text = std::string("http://a.test/ 31608444 -1252414720 qc=3; qd=4;") + end +
                       "http://b.test/p/ 1 0 ;" + end;
    EXPECT_EQ(expected, Cookies(text)) << "line end of " << std::string(end).size();
  }
  // The backup's own record for the first of them.
  EXPECT_EQ("http://a.test/ 31608444 -1252414720 qc=3; qd=4;\r\n",
            FormatCookieRecord("http://a.test/", 31608444, 3042552576u, "qc=3; qd=4"));
}

TEST(CookieFileReading, EmptyFilesHaveNoRecords) {
  for (const char* text : {"", "\r\r\n", " \t\f\v"}) EXPECT_EQ("E", Cookies(text)) << text;
}

TEST(CookieFileReading, AnExpiryThatCantBeReadEndsTheFile) {
  EXPECT_EQ("D http://a.test/|E", Cookies("http://a.test/"));
  EXPECT_EQ("D http://a.test/|E", Cookies("http://a.test/ 1"));
  EXPECT_EQ("D http://a.test/|E", Cookies("http://a.test/ one two q=1;"));
  EXPECT_EQ("D http://a.test/|E", Cookies("http://a.test/ 1 4294967296 q=1;"));
  EXPECT_EQ("D http://a.test/|E", Cookies("http://a.test/ 1 -2147483649 q=1;"));
  EXPECT_EQ("D http://a.test/|E", Cookies("http://a.test/ 1 2x q=1;"));
  // At most 32 characters, leading zeros or not.
  EXPECT_EQ("R http://a.test/ 1 7|E", Cookies("http://a.test/ 1 " + std::string(31, '0') + "7"));
  EXPECT_EQ("D http://a.test/|E", Cookies("http://a.test/ 1 " + std::string(32, '0') + "7"));
  // Records before the damage are still read.
  EXPECT_EQ("R http://a.test/ 1 2|C q=1;|D http://b.test/|E",
            Cookies("http://a.test/ 1 2 q=1;\nhttp://b.test/ 3"));
}

TEST(CookieFileReading, OverlongWordsAreCutOrLeftOut) {
  // A 256-byte address is left out with its cookies, the next record isn't.
  std::string longAddress = "http://" + std::string(249, 'x');
  EXPECT_EQ("L http://xxxxx|R http://b.test/ 1 2|C q=2;|E",
            Cookies(longAddress + " 1 2 q=1; ;\r\nhttp://b.test/ 1 2 q=2;"));
  EXPECT_EQ("R " + longAddress.substr(0, 255) + " 1 2|E",
            Cookies(longAddress.substr(0, 255) + " 1 2"));
  // A cookie over 4095 bytes comes with its beginning only, and a word over
  // 4095 bytes that begins like an address still starts a record.
  std::string text = "http://a.test/ 1 2 q=" + std::string(5000, 'i') + "; r=1; http://" +
                     std::string(5000, 'y') + " 3 4 s=1;";
  EXPECT_EQ("R http://a.test/ 1 2|+ q=iiiiiiiiii|C r=1;|L http://yyyyy|E", Cookies(text));
  StringSource source(text);
  CookieFileReader reader(source);
  reader.Next();
  EXPECT_EQ(kMaxSpecialToken, reader.Next().text.size());
}

TEST(CookieFileReading, TheFirstWordIsAnAddressWhateverItSays) {
  EXPECT_EQ("R a.test 1 2|C q=1;|R http://b/ 3 4|E", Cookies("a.test 1 2 q=1; http://b/ 3 4"));
  // NUL bytes are bytes like any other.
  EXPECT_EQ("R http://a/ 1 2|C q=" + std::string(1, '\0') + ";|E",
            Cookies(std::string("http://a/ 1 2 q=\0;", 18)));
}

// ---------------------------------------------------------------- history.txt

TEST(HistoryFileReading, EveryWordIsAnAddress) {
  EXPECT_EQ((std::vector<std::string>{"10:http://a/p", "1:b", "3:c;d"}),
            History("http://a/p\r\r\nb\r\n\r\nc;d"));
  EXPECT_TRUE(History("").empty());
  EXPECT_EQ((std::vector<std::string>{"+4095:http://yyyyy", "8:http://b"}),
            History("http://" + std::string(5000, 'y') + "\r\r\nhttp://b\r\r\n"));
  EXPECT_EQ("http://a/\r\n", FormatHistoryLine("http://a/"));
}

// ---------------------------------------------------------------- outlook.txt

TEST(StoreFileReading, LinesReadTheSameWhateverTheLineEnds) {
  StoreLine line{StoreFileName(0), kId, "%userprofile%\\qm%20mail\\a.pst"};
  std::string written = FormatStoreLine(line);
  EXPECT_EQ("Outook0.pst " + kId + " %userprofile%\\qm%20mail\\a.pst\n", written);
  for (const char* end : {"\n", "\r\n", "\r\r\n"}) {
    std::string text = written.substr(0, written.size() - 1) + end + StoreFileName(12) + " " +
                       kId + " c:\\b.pst extra words" + end;
    EXPECT_EQ("Outook0.pst 0001 %userprofile%\\qm%20mail\\a.pst|Outook12.pst 0001 c:\\b.pst|E",
              Stores(text));
  }
  EXPECT_EQ("E", Stores(""));
}

TEST(StoreFileReading, ALineWithoutThreeWordsEndsTheMap) {
  EXPECT_EQ("E", Stores("\r\nOutook0.pst " + kId + " c:\\a.pst\n"));
  EXPECT_EQ("E", Stores("Outook0.pst " + kId + "\nOutook1.pst " + kId + " c:\\b.pst\n"));
  EXPECT_EQ("a 0001 b|E", Stores("a " + kId + " b\nc " + kId));
}

TEST(StoreFileReading, OnlyBareNamesAndStoreIdsAreTaken) {
  for (const std::string& name : std::vector<std::string>
       {"..\\..\\a.pst", "a/b.pst", "c:a.pst", ".", "..", std::string("a\0\\b", 4),
        std::string(kMaxStorePath + 1, 'n')}) {
    EXPECT_EQ("X", Stores(name + " " + kId + " c:\\a.pst\n")) << name;
  }
  EXPECT_EQ(std::string(kMaxStorePath, 'n') + " 0001 p|E",
            Stores(std::string(kMaxStorePath, 'n') + " " + kId + " p"));
  EXPECT_EQ(".a 0001 p|E", Stores(".a " + kId + " p"));
  for (const std::string& id : {kId.substr(1), kId + "0", "g" + kId.substr(1)})
    EXPECT_EQ("X", Stores("a.pst " + id + " c:\\a.pst\n")) << id;
  EXPECT_EQ("a.pst F0F1 p|E", Stores("a.pst F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF p"));
  // Names that were taken once: one cut short by a NUL (from the fuzzer,
  // "O\021...\0\0`..0.pst"), and one of dots only.
  for (const std::string& name : {std::string("..\0a", 4), std::string("O\021\0\0`0.pst", 10),
                                  std::string("...")})
    EXPECT_EQ("X", Stores(name + " " + kId + " c:\\a.pst\n")) << name;
  // A refused line stops the map even with good lines after it.
  EXPECT_EQ("a 0001 p|X", Stores("a " + kId + " p\n.. " + kId + " p\nb " + kId + " p\n"));
}

}  // namespace
