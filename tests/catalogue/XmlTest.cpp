#include "catalogue/Xml.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/Text.h"

namespace fs = std::filesystem;

namespace {

using Tokens = std::vector<std::string>;

class TempFolder {
 public:
  TempFolder() {
    static int counter = 0;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() /
            ("qm-xml-test-" + std::to_string(stamp) + "-" + std::to_string(++counter));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  std::string File(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }

 private:
  fs::path path_;
};

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Describe(const XmlReader& reader) {
  std::string element, name, value;
  reader.GetName(element);
  switch (reader.GetTokenType()) {
    case XmlTokenType::None: return "None";
    case XmlTokenType::StartElement: return "Start " + element;
    case XmlTokenType::EndElement: return "End " + element;
    case XmlTokenType::Attribute:
      reader.GetAttribute(name, value);
      return "Attr " + element + "." + name + "=" + value;
    case XmlTokenType::Text: return "Text " + reader.GetText();
    case XmlTokenType::Declaration: return "Decl " + reader.GetMarkupName();
    case XmlTokenType::Comment: return "Comment";
    case XmlTokenType::CData: return "CData";
  }
  return "?";
}

// Reads the rest of the document; a reader that stops advancing fails the
// test instead of hanging it.
Tokens ReadRest(XmlReader& reader, bool keepNone = false) {
  Tokens tokens;
  for (int calls = 0; reader.Next(); ++calls) {
    if (calls > 1000000) {
      ADD_FAILURE() << "the reader does not advance";
      break;
    }
    std::string token = Describe(reader);
    if (keepNone || token != "None") tokens.push_back(token);
  }
  return tokens;
}

Tokens ReadAll(const std::string& path, bool keepNone = false, std::string* error = nullptr) {
  XmlReader reader;
  EXPECT_TRUE(reader.Open(path));
  Tokens tokens = ReadRest(reader, keepNone);
  if (error) *error = reader.GetError();
  return tokens;
}

std::vector<std::string> g_shown;
void RecordShown(const std::string& text) { g_shown.push_back(text); }

const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\r\n";

}  // namespace

TEST(XmlReaderOpen, MissingFileFailsAndEmptyFileEndsAtOnce) {
  TempFolder folder;
  XmlReader reader;
  EXPECT_FALSE(reader.Open(folder.Path("missing.xml")));
  EXPECT_FALSE(reader.Next());
  ASSERT_TRUE(reader.Open(folder.File("empty.xml", "")));
  EXPECT_FALSE(reader.Next());
  EXPECT_EQ("", reader.GetError());
}

TEST(XmlReaderOpen, OpeningAgainWhileOpenKeepsReadingTheSameFile) {
  TempFolder folder;
  XmlReader reader;
  ASSERT_TRUE(reader.Open(folder.File("a.xml", "<a>\n<b/>\n")));
  ASSERT_TRUE(reader.Next());
  EXPECT_TRUE(reader.Open(folder.File("c.xml", "<c/>")));
  EXPECT_EQ((Tokens{"Start b", "End b"}), ReadRest(reader));
  reader.Close();
  ASSERT_TRUE(reader.Open(folder.Path("c.xml")));
  EXPECT_EQ((Tokens{"Start c", "End c"}), ReadRest(reader));
}

TEST(XmlReaderTokens, EmptyElementTagGivesStartAttributeEndThenNone) {
  TempFolder folder;
  // The attribute name, '=' and the opening quote are None tokens of their own.
  EXPECT_EQ((Tokens{"Start a", "None", "None", "None", "Attr a.b=1", "End a", "None", "None"}),
            ReadAll(folder.File("a.xml", "<a b=\"1\"/>"), true));
}

TEST(XmlReaderTokens, TextIsNeitherTrimmedNorUnescapedAndComesOncePerLine) {
  TempFolder folder;
  std::string path = folder.File("a.xml", "<r>\r\n  <a>x &amp;\r\ny </a>\r\n</r>\r\n");
  EXPECT_EQ((Tokens{"Start r", "Text   ", "Start a", "Text x &amp;", "Text y ", "End a", "End r"}),
            ReadAll(path));
}

TEST(XmlReaderTokens, AnEmptyLineAddsExactlyOneNone) {
  TempFolder folder;
  Tokens without = ReadAll(folder.File("a.xml", "<r>\n</r>\n"), true);
  Tokens with = ReadAll(folder.File("b.xml", "<r>\n\n</r>\n"), true);
  without.insert(without.begin() + 3, "None");
  EXPECT_EQ(without, with);
}

TEST(XmlReaderTokens, DeclarationAttributesComeWithAnEmptyElementName) {
  TempFolder folder;
  std::string path = folder.File("a.xml", "<r/>\n<?xml version=\"1.0\" encoding='ASCII'?>\n<b>");
  EXPECT_EQ((Tokens{"Start r", "End r", "Decl ?xml", "Attr .version=1.0", "Attr .encoding=ASCII",
                    "Start b"}),
            ReadAll(path));
}

TEST(XmlReaderTokens, CommentOverTwoLinesThenTextMode) {
  TempFolder folder;
  std::string path = folder.File("a.xml", "<!-- one <x>\ntwo -->tail<a/>");
  EXPECT_EQ((Tokens{"Comment", "Comment", "None", "None", "Text tail", "Start a", "End a", "None",
                    "None"}),
            ReadAll(path, true));
}

TEST(XmlReaderTokens, CDataContentIsSkipped) {
  TempFolder folder;
  std::string path = folder.File("a.xml", "<r><![CDATA[ <b> x\n y ]]>z</r>");
  EXPECT_EQ((Tokens{"Start r", "CData", "CData", "Text z", "End r"}), ReadAll(path));
}

TEST(XmlReaderAttributes, ValueEndsAtEitherQuote) {
  TempFolder folder;
  EXPECT_EQ((Tokens{"Start a", "Attr a.b=x", "End a"}),
            ReadAll(folder.File("a.xml", "<a b='x\"/>")));
  EXPECT_EQ((Tokens{"Start a", "Attr a.b=it", "Attr a.c=1"}),
            ReadAll(folder.File("b.xml", "<a b=\"it's\" c=\"1\">")));
}

TEST(XmlReaderAttributes, EmptyAndUnquotedValues) {
  TempFolder folder;
  EXPECT_EQ((Tokens{"Start a", "Attr a.b=", "End a"}),
            ReadAll(folder.File("a.xml", "<a b=\"\"/>")));
  // An unquoted value runs to the next quote, '>' or line end.
  EXPECT_EQ((Tokens{"Start a", "Attr a.b=x y/", "Text t"}),
            ReadAll(folder.File("b.xml", "<a b=x y/>t")));
}

TEST(XmlReaderAttributes, ValueOverLinesKeepsTheBreakAsCrLf) {
  TempFolder folder;
  for (const char* end : {"\n", "\r\n"}) {
    std::string path = folder.File("a.xml", std::string("<a b=\"one") + end + "two\"/>" + end);
    EXPECT_EQ((Tokens{"Start a", "Attr a.b=one\r\ntwo", "End a"}), ReadAll(path));
  }
}

TEST(XmlReaderAttributes, NamesAreTrimmedAndNamesWithoutValueAreDropped) {
  TempFolder folder;
  std::string path = folder.File("a.xml", "<a flag\n\tb=\"1\">");
  EXPECT_EQ((Tokens{"Start a", "Attr a.b=1"}), ReadAll(path));
}

TEST(XmlReaderErrors, EachMessageWithItsLineNumber) {
  struct Case {
    const char* document;
    const char* error;
  } cases[] = {
      {"<r>\n<\n</r>", "Parse error in line 2 : ('<' symbol not allowed at the end of a line)"},
      {"<r>\n  <  \n", "Parse error in line 2 : ('<' symbol not allowed at the end of a line)"},
      {"<>", "Parse error in line 1 : (Empty element name)"},
      {"<a <b>", "Parse error in line 1 : (Bad '<' symbol)"},
      {" <a/>", "Parse error in line 1 : (Syntax error)"},
      {"\xEF\xBB\xBF<a/>", "Parse error in line 1 : (Syntax error)"},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    XmlReader reader;
    ASSERT_TRUE(reader.Open(folder.File("a.xml", c.document)));
    ReadRest(reader);
    EXPECT_EQ(c.error, reader.GetError()) << c.document;
    EXPECT_TRUE(reader.IsOpen());
  }
}

TEST(XmlReaderErrors, ShownOnlyWhileShowErrorsIsOn) {
  TempFolder folder;
  std::string path = folder.File("a.xml", "<>");
  XmlErrorSink previous = SetXmlErrorSink(RecordShown);
  g_shown.clear();
  XmlReader reader;
  ASSERT_TRUE(reader.Open(path));
  ReadRest(reader);
  EXPECT_TRUE(g_shown.empty());

  reader.Close();
  ASSERT_TRUE(reader.Open(path));
  reader.SetShowErrors(true);
  ReadRest(reader);
  EXPECT_EQ((std::vector<std::string>{"Parse error in line 1 : (Empty element name)"}), g_shown);

  // Close switches it off again.
  reader.Close();
  ASSERT_TRUE(reader.Open(path));
  ReadRest(reader);
  EXPECT_EQ(1u, g_shown.size());
  SetXmlErrorSink(previous);
}

TEST(XmlReaderLines, LoneCarriageReturnInTextDoesNotStallTheReader) {
  TempFolder folder;
  EXPECT_EQ((Tokens{"Start r", "Text a", "Text b", "End r"}),
            ReadAll(folder.File("a.xml", "<r>a\rb</r>")));
}

TEST(XmlReaderLines, VeryLongNamesValuesAndTextAreWhole) {
  TempFolder folder;
  std::string name(100000, 'n'), value(100000, 'v'), text(100000, 't');
  std::string path = folder.File("a.xml", "<" + name + " a=\"" + value + "\">" + text + "</" +
                                              name + ">");
  EXPECT_EQ((Tokens{"Start " + name, "Attr " + name + ".a=" + value, "Text " + text,
                    "End " + name}),
            ReadAll(path));
}

TEST(XmlReaderSeek, PositionsAreByteOffsetsWithEitherLineEnd) {
  TempFolder folder;
  for (std::string end : {"\n", "\r\n"}) {
    XmlReader reader;
    ASSERT_TRUE(reader.Open(folder.File("a.xml", "<r>" + end + "<a/>" + end)));
    EXPECT_EQ(0, reader.GetPosition());
    ASSERT_TRUE(reader.Next());
    EXPECT_EQ(static_cast<long>(3 + end.size()), reader.GetPosition());
  }
}

TEST(XmlReaderSeek, SeekingBackFinishesTheLineThenReadsTheElementAgain) {
  TempFolder folder;
  XmlReader reader;
  ASSERT_TRUE(reader.Open(folder.File("a.xml", "<r>\r\n<a x=\"1\">\r\n<b/>\r\n</a> <c/>\r\n</r>\r\n")));
  std::string name;
  long start = -1;
  while (reader.Next()) {
    reader.GetName(name);
    if (reader.GetTokenType() == XmlTokenType::StartElement && name == "a") {
      start = reader.GetPosition();
    }
    if (reader.GetTokenType() == XmlTokenType::EndElement && name == "a") break;
  }
  ASSERT_EQ(16, start);
  ASSERT_TRUE(reader.Seek(start));
  EXPECT_EQ((Tokens{"Text  ", "Start c", "End c", "Start b", "End b", "End a", "Text  ", "Start c",
                    "End c", "End r"}),
            ReadRest(reader));
}

TEST(XmlWriter, NestedElementsGiveTheIndentedLayoutWithCrLf) {
  TempFolder folder;
  XmlWriter writer;
  writer.SetFileName(folder.Path("out.xml"));
  XmlElement root("Key"), sub("Key"), value("Value");
  root.SetAttribute("Name", "HKEY_CURRENT_USER");
  sub.SetAttribute("Name", "Software");
  value.SetAttribute("Name", "x");
  value.SetAttribute("Content", "0x00000001 (1)");
  EXPECT_TRUE(root.WriteStart(writer, 1, true, true));
  EXPECT_TRUE(sub.WriteStart(writer, 1, true, true));
  EXPECT_TRUE(value.WriteEmpty(writer, 1, true, true));
  EXPECT_TRUE(sub.WriteEnd(writer, 1, true, true));
  EXPECT_TRUE(root.WriteEnd(writer, 1, true, true));
  EXPECT_EQ(0, writer.GetIndentLevel());
  EXPECT_TRUE(writer.Close());
  EXPECT_EQ(std::string(kDeclaration) +
                " <Key Name=\"HKEY_CURRENT_USER\">\r\n"
                "  <Key Name=\"Software\">\r\n"
                "   <Value Name=\"x\" Content=\"0x00000001 (1)\"/>\r\n"
                "  </Key>\r\n"
                " </Key>\r\n",
            Contents(folder.Path("out.xml")));
}

TEST(XmlWriter, DeclarationStandsAtColumnZeroOncePerFile) {
  TempFolder folder;
  XmlWriter writer;
  writer.SetFileName(folder.Path("out.xml"));
  writer.SetIndentLevel(2);
  XmlElement a("a");
  EXPECT_TRUE(a.WriteStart(writer, 1, true, false));
  EXPECT_TRUE(a.WriteDeclaration(writer, 0));
  EXPECT_TRUE(a.WriteEnd(writer, 0, false, true));
  writer.SetFileName(folder.Path("ignored.xml"));
  writer.Close();
  EXPECT_EQ(std::string(kDeclaration) + "   <a>   <?a?>\r\n</a>\r\n", Contents(folder.Path("out.xml")));
  EXPECT_FALSE(fs::exists(folder.Path("ignored.xml")));
  EXPECT_EQ(0, writer.GetIndentLevel());

  // Writing after Close starts the file anew, declaration first.
  EXPECT_TRUE(writer.Write("x"));
  writer.Close();
  EXPECT_EQ(std::string(kDeclaration) + "x", Contents(folder.Path("out.xml")));
}

TEST(XmlWriter, FileThatCannotBeCreatedFailsEachWriteUntilItCan) {
  TempFolder folder;
  XmlWriter writer;
  writer.SetFileName(folder.Path("sub") + "/out.xml");
  EXPECT_FALSE(writer.Write("a"));
  EXPECT_FALSE(writer.IsOpen());
  fs::create_directory(folder.Path("sub"));
  EXPECT_TRUE(writer.Write("b"));
  writer.Close();
  EXPECT_EQ(std::string(kDeclaration) + "b", Contents(folder.Path("sub") + "/out.xml"));
}

TEST(XmlWriter, WrittenDocumentReadsBackToTheSameTokens) {
  TempFolder folder;
  XmlWriter writer;
  writer.SetFileName(folder.Path("out.xml"));
  XmlElement root("backup"), entry("entry");
  entry.SetAttribute("name", "Demo");
  entry.SetAttribute("path", "C:\\Data\\");
  root.WriteStart(writer, 1, true, true);
  entry.WriteEmpty(writer, 1, true, true);
  root.WriteEnd(writer, 1, true, true);
  writer.Close();
  EXPECT_EQ((Tokens{"Decl ?xml", "Attr .version=1.0", "Attr .encoding=ASCII",
                    "Attr .standalone=yes", "Text  ", "Start backup", "Text   ", "Start entry",
                    "Attr entry.name=Demo", "Attr entry.path=C:\\Data\\", "End entry", "Text  ",
                    "End backup"}),
            ReadAll(folder.Path("out.xml")));
}

TEST(XmlElement, SetAttributeReplacesExactNameAndKeepsOrder) {
  XmlElement element("e");
  element.SetAttribute("a", "1");
  element.SetAttribute("b", "x");
  element.SetAttribute("a", "2");
  element.SetAttribute("A", "3");
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ((Pairs{{"a", "2"}, {"b", "x"}, {"A", "3"}}), element.GetAttributes());
  element.ClearAttributes();
  EXPECT_TRUE(element.GetAttributes().empty());
}

TEST(XmlEscape, EntitiesAndRoundTrip) {
  EXPECT_EQ("a&amp;lt;&lt;&gt;&quot;&apos;", EscapeXml("a&lt;<>\"'"));
  EXPECT_EQ("&#65;&nbsp;&amp", UnescapeXml("&#65;&nbsp;&amp"));
  for (const char* text : {"", "&lt;", "&amp;quot;", "&&;;", "<<>>", "x\"'&apos;y", "&"}) {
    EXPECT_EQ(text, UnescapeXml(EscapeXml(text))) << text;
  }
}

TEST(XmlEscape, EscapedValueSurvivesWriterAndReader) {
  TempFolder folder;
  const std::string text = "it's <a> & \"b\" > 'c'";
  XmlWriter writer;
  writer.SetFileName(folder.Path("out.xml"));
  XmlElement value("Value");
  value.SetAttribute("Content", EscapeXml(text));
  value.WriteEmpty(writer, 1, true, true);
  writer.Close();

  XmlReader reader;
  ASSERT_TRUE(reader.Open(folder.Path("out.xml")));
  std::string name, read;
  while (reader.Next()) {
    reader.GetName(name);
    if (reader.GetTokenType() == XmlTokenType::Attribute && name == "Value") {
      reader.GetAttribute(name, read);
    }
  }
  EXPECT_EQ(text, UnescapeXml(read));
}

// The shared text rules: only A-Z fold, replacements are not searched
// again, and an empty pattern replaces nothing (rather than looping).
TEST(TextHelpers, CaseFoldingReplacementAndSlashes) {
  EXPECT_TRUE(EqualNoCase("C:\\Windows\\Desktop.INI", "c:\\windows\\desktop.ini"));
  EXPECT_FALSE(EqualNoCase("\xC4", "\xE4"));  // not a letter of the rule
  EXPECT_LT(CompareNoCase("(Default)", "a"), 0);
  EXPECT_TRUE(StartsWithNoCase("COM1.txt", "com"));
  EXPECT_TRUE(EndsWithNoCase("x\\DESKTOP.ini", "desktop.ini"));
  EXPECT_FALSE(EndsWithNoCase("ini", "desktop.ini"));
  EXPECT_EQ("&amp;lt;", ReplaceAll("&lt;", "&", "&amp;"));
  EXPECT_EQ("abc", ReplaceAll("abc", "", "x"));
  EXPECT_EQ("C:\\a\\b", WithBackslashes("C:/a/b"));
}

namespace {

// The entities as the files were first escaped and unescaped: one
// replacement over the whole text after the other.
std::string EscapedInTurn(const std::string& text) {
  std::string out = ReplaceAll(text, "&", "&amp;");
  out = ReplaceAll(out, "<", "&lt;");
  out = ReplaceAll(out, ">", "&gt;");
  out = ReplaceAll(out, "\"", "&quot;");
  return ReplaceAll(out, "'", "&apos;");
}

std::string UnescapedInTurn(const std::string& text) {
  std::string out = ReplaceAll(text, "&lt;", "<");
  out = ReplaceAll(out, "&gt;", ">");
  out = ReplaceAll(out, "&quot;", "\"");
  out = ReplaceAll(out, "&apos;", "'");
  return ReplaceAll(out, "&amp;", "&");
}

}  // namespace

// Texts made of entity pieces, so that entities overlap, nest, break off
// and follow each other in every way.
TEST(XmlEscape, OnePassGivesWhatReplacingInTurnGave) {
  const char* pieces[] = {"&", "amp;", "lt;", "gt", ";", "quot;", "apos;", "<", ">", "\"", "'",
                          "a", "&amp", "&l", "t;"};
  unsigned seed = 2024;
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    for (int i = round % 12; i > 0; --i) {
      seed = seed * 1103515245u + 12345u;
      text += pieces[(seed >> 16) % (sizeof pieces / sizeof pieces[0])];
    }
    ASSERT_EQ(UnescapedInTurn(text), UnescapeXml(text)) << text;
    ASSERT_EQ(EscapedInTurn(text), EscapeXml(text)) << text;
    std::string appended = "kept";
    AppendUnescapedXml(appended, text);
    ASSERT_EQ("kept" + UnescapedInTurn(text), appended) << text;
  }
}

// The reader takes the file in large blocks: a line end split between two
// of them, and a line longer than one, must come out as from a small file.
TEST(XmlReaderLines, LinesAcrossReadBlocksKeepTheirEndsAndPositions) {
  TempFolder folder;
  const size_t kBlock = 64 * 1024;
  for (size_t first : {kBlock - 1, kBlock - 2, kBlock, 3 * kBlock + 5}) {
    // "<r>" and a text that puts the first line's CR (or LF) at `first`.
    std::string text(first - 3, 't');
    std::string document = "<r>" + text + "\r\n<a x=\"1\"/>\r\n</r>";
    XmlReader reader;
    ASSERT_TRUE(reader.Open(folder.File("a.xml", document)));
    Tokens tokens;
    std::vector<long> positions;
    while (reader.Next()) {
      if (reader.GetTokenType() == XmlTokenType::None) continue;
      tokens.push_back(Describe(reader));
      positions.push_back(reader.GetPosition());
    }
    EXPECT_EQ((Tokens{"Start r", "Text " + text, "Start a", "Attr a.x=1", "End a", "End r"}), tokens)
        << first;
    long second = static_cast<long>(first + 2);
    EXPECT_EQ((std::vector<long>{second, second, second + 12, second + 12, second + 12,
                                 static_cast<long>(document.size())}),
              positions)
        << first;
    // Back to the second line, across the blocks already read.
    ASSERT_TRUE(reader.Seek(second));
    EXPECT_EQ((Tokens{"Start a", "Attr a.x=1", "End a", "End r"}), ReadRest(reader)) << first;
  }
}
