#include "wizard/RichTextMarkup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kWelcome[] =
    "<B><CENTER><bmp idres=1010><BR><font size=18pt color=darkblue face=Arial>Tervane "
    "Quillmark</font><BR><font size=16pt color=darkblue face=Arial>Backup, Restore, "
    "Schedule</font><BR><BR><font size=12pt color=darkblue face=Arial>Use this software to "
    "backup your computer settings and data or<BR>as a data migration tool when upgrading to "
    "a new computer</font><BR><BR><font size=14pt color=red face=Arial>Please close all "
    "programs before you continue.</font><BR><BR><font size=11pt color=darkblue "
    "face=Arial>Supports Windows 95, 98, ME, 2000 and XP</font><BR><font size=12pt "
    "color=darkblue face=Arial>Click Next to continue, Cancel to "
    "exit.</font></CENTER></B><BR>";

// What the wizard shows after a backup: the outcome, then the finish text.
const char kOutcome[] =
    "<CENTER><FONT size=14pt color=darkblue face=Arial><b>Backup operation "
    "successfull!<BR><BR>Settings saved in <BR><BR></FONT><FONT size=12pt "
    "color=black>C:\\users\\me\\Documents\\Quillmark\\Backup-20261208-101010</b></FONT></"
    "CENTER>";
const char kFinish[] =
    "<BR><BR><BR><BR><BR><CENTER><font size=14pt color=darkblue face=Arial><b>Thank you "
    "for choosing this tool.<BR>To complete, click Finish.</b></font></CENTER>";

const RichTextColour kDarkBlue{0x00, 0x00, 0x8B};
const RichTextColour kRed{0xFF, 0x00, 0x00};
const RichTextColour kBlack{0x00, 0x00, 0x00};

std::vector<std::string> Texts(const std::vector<RichTextLine>& lines) {
  std::vector<std::string> texts;
  for (const RichTextLine& line : lines) texts.push_back(PlainText(line));
  return texts;
}

// The single run of a line of one style.
const RichTextRun& OnlyRun(const std::vector<RichTextLine>& lines, size_t index) {
  static const RichTextRun kNone;
  EXPECT_LT(index, lines.size());
  if (index >= lines.size()) return kNone;
  EXPECT_EQ(1u, lines[index].runs.size()) << "line " << index;
  return lines[index].runs.empty() ? kNone : lines[index].runs[0];
}

void ExpectFont(const RichTextRun& run, bool bold, int points, RichTextColour colour,
                const std::string& face) {
  SCOPED_TRACE("run \"" + run.text + "\"");
  EXPECT_EQ(bold, run.font.bold);
  EXPECT_EQ(points, run.font.pointSize);
  EXPECT_TRUE(colour == run.font.colour);
  EXPECT_EQ(face, run.font.face);
}

TEST(RichTextWizardTexts, WelcomeHasTheLogoThenCentredBoldLines) {
  std::vector<RichTextLine> lines = ParseRichText(kWelcome);
  std::vector<std::string> expected = {"",
                                       "Tervane Quillmark",
                                       "Backup, Restore, Schedule",
                                       "",
                                       "Use this software to backup your computer settings and data or",
                                       "as a data migration tool when upgrading to a new computer",
                                       "",
                                       "Please close all programs before you continue.",
                                       "",
                                       "Supports Windows 95, 98, ME, 2000 and XP",
                                       "Click Next to continue, Cancel to exit.",
                                       ""};
  ASSERT_EQ(expected, Texts(lines));

  EXPECT_EQ(1010, OnlyRun(lines, 0).bitmapId);
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_TRUE(lines[i].centred) << "line " << i;
  EXPECT_FALSE(lines.back().centred);
  ExpectFont(OnlyRun(lines, 1), true, 18, kDarkBlue, "Arial");
  ExpectFont(OnlyRun(lines, 2), true, 16, kDarkBlue, "Arial");
  ExpectFont(OnlyRun(lines, 5), true, 12, kDarkBlue, "Arial");
  ExpectFont(OnlyRun(lines, 7), true, 14, kRed, "Arial");
  ExpectFont(OnlyRun(lines, 9), true, 11, kDarkBlue, "Arial");
  // The empty lines between paragraphs are as tall as the text around them.
  EXPECT_EQ(RichTextFont::kDefaultPointSize, lines[3].font.pointSize);
  EXPECT_EQ(12, lines[4].font.pointSize);
}

TEST(RichTextWizardTexts, OutcomeKeepsBoldAcrossItsMisnestedFonts) {
  std::vector<RichTextLine> lines = ParseRichText(std::string(kOutcome) + kFinish);
  std::vector<std::string> expected = {
      "Backup operation successfull!", "", "Settings saved in ", "",
      "C:\\users\\me\\Documents\\Quillmark\\Backup-20261208-101010", "", "", "", "", "",
      "Thank you for choosing this tool.", "To complete, click Finish."};
  ASSERT_EQ(expected, Texts(lines));

  ExpectFont(OnlyRun(lines, 0), true, 14, kDarkBlue, "Arial");
  ExpectFont(OnlyRun(lines, 2), true, 14, kDarkBlue, "Arial");
  // The second FONT names no face: the first one's ended with its /FONT.
  ExpectFont(OnlyRun(lines, 4), true, 12, kBlack, "");
  ExpectFont(OnlyRun(lines, 10), true, 14, kDarkBlue, "Arial");
  ExpectFont(OnlyRun(lines, 11), true, 14, kDarkBlue, "Arial");
  for (size_t i : {0, 2, 4, 10, 11}) EXPECT_TRUE(lines[i].centred) << "line " << i;
  for (size_t i = 5; i < 10; ++i) EXPECT_FALSE(lines[i].centred) << "line " << i;
}

TEST(RichTextTags, AreReadInAnyLetterCase) {
  std::vector<RichTextLine> lines =
      ParseRichText("<b>a</B><Center>b</cEnTeR><FoNt SIZE=20PT COLOR=RED FACE=Arial>c</fOnT>");
  ASSERT_EQ(3u, lines.size());
  EXPECT_TRUE(lines[0].runs[0].font.bold);
  EXPECT_TRUE(lines[1].centred);
  ExpectFont(OnlyRun(lines, 2), false, 20, kRed, "Arial");
}

TEST(RichTextTags, UnknownTagsGoTheirTextStays) {
  std::vector<RichTextLine> lines = ParseRichText("<p>one <i>two</i> <a href=x>three</a></p>");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("one two three", PlainText(lines[0]));
  EXPECT_EQ(1u, lines[0].runs.size()) << "text of one style is one run";
}

TEST(RichTextTags, CloseFontReturnsToTheFontBefore) {
  std::vector<RichTextLine> lines =
      ParseRichText("<font size=10pt color=red face=Arial>a<font size=20pt>b<font "
                    "color=#102030>c</font>d</font>e</font>f</font>g");
  ASSERT_EQ(1u, lines.size());
  const std::vector<RichTextRun>& runs = lines[0].runs;
  ASSERT_EQ(6u, runs.size());
  ExpectFont(runs[0], false, 10, kRed, "Arial");
  ExpectFont(runs[1], false, 20, kRed, "Arial");
  ExpectFont(runs[2], false, 20, RichTextColour{0x10, 0x20, 0x30}, "Arial");
  ExpectFont(runs[3], false, 20, kRed, "Arial");
  ExpectFont(runs[4], false, 10, kRed, "Arial");
  // More closings than openings leave the dialogs' font in place.
  EXPECT_EQ("fg", runs[5].text);
  ExpectFont(runs[5], false, RichTextFont::kDefaultPointSize, kBlack, "");
}

TEST(RichTextTags, BoldAndCentringCountTheirOpenings) {
  std::vector<RichTextLine> lines =
      ParseRichText("<b><b>a</b>b</b>c</b>d<center><center>e</center>f</center>g");
  ASSERT_EQ(3u, lines.size());
  const std::vector<RichTextRun>& first = lines[0].runs;
  ASSERT_EQ(2u, first.size());
  EXPECT_EQ("ab", first[0].text);
  EXPECT_TRUE(first[0].font.bold);
  EXPECT_EQ("cd", first[1].text);
  EXPECT_FALSE(first[1].font.bold);
  EXPECT_EQ("ef", PlainText(lines[1]));
  EXPECT_TRUE(lines[1].centred);
  EXPECT_EQ("g", PlainText(lines[2]));
  EXPECT_FALSE(lines[2].centred);
}

TEST(RichTextTags, BreakForms) {
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d"}),
            Texts(ParseRichText("a<br>b<BR/>c<br />d")));
  EXPECT_EQ((std::vector<std::string>{"", "", "a"}), Texts(ParseRichText("<br><br>a")));
  EXPECT_TRUE(ParseRichText("").empty());
  EXPECT_TRUE(ParseRichText("<b></b><font size=9pt></font>").empty());
}

TEST(RichTextTags, QuotedValuesMayHoldSpaces) {
  std::vector<RichTextLine> lines =
      ParseRichText("<font face=\"Times New Roman\" size='9pt'>a</font>");
  ExpectFont(OnlyRun(lines, 0), false, 9, kBlack, "Times New Roman");
}

TEST(RichTextFontAttributes, SizesOutsideTheRangeOrInOtherUnitsAreIgnored) {
  const struct {
    const char* size;
    int points;
  } cases[] = {{"14pt", 14}, {"14", 14},  {"14PT", 14}, {"0pt", 8},     {"97pt", 8},
               {"12px", 8},  {"-3pt", 8}, {"pt", 8},    {"99999999999999999999pt", 8}};
  for (const auto& c : cases) {
    std::vector<RichTextLine> lines =
        ParseRichText(std::string("<font size=") + c.size + ">x</font>");
    EXPECT_EQ(c.points, OnlyRun(lines, 0).font.pointSize) << c.size;
  }
}

TEST(RichTextFontAttributes, Colours) {
  RichTextColour colour;
  ASSERT_TRUE(ParseRichTextColour("DarkBlue", colour));
  EXPECT_TRUE(colour == kDarkBlue);
  ASSERT_TRUE(ParseRichTextColour("#A0b1C2", colour));
  EXPECT_TRUE((colour == RichTextColour{0xA0, 0xB1, 0xC2}));
  for (const char* bad : {"#12345", "#1234567", "#12345g", "bluish", ""}) {
    RichTextColour kept = kRed;
    EXPECT_FALSE(ParseRichTextColour(bad, kept)) << bad;
    EXPECT_TRUE(kept == kRed) << bad;
  }
  std::vector<RichTextLine> lines = ParseRichText("<font color=red><font color=bluish>x");
  EXPECT_TRUE(OnlyRun(lines, 0).font.colour == kRed) << "an unknown colour keeps the one before";
}

TEST(RichTextEntities, AreDecodedOnceInText) {
  EXPECT_EQ("a & b <c> \"d\" e\xA0" "f A", PlainText(ParseRichText(
      "a &amp; b &lt;c&gt; &quot;d&quot; e&nbsp;f &#65;")[0]));
  EXPECT_EQ("&amp; &lt;", PlainText(ParseRichText("&amp;amp; &amp;lt;")[0]));
  EXPECT_EQ("&copy; & &#; &#999; &#65", PlainText(ParseRichText("&copy; & &#; &#999; &#65")[0]));
}

TEST(RichTextEntities, LineEndsAndTabsInTextAreSpaces) {
  std::vector<RichTextLine> lines = ParseRichText("a\r\nb\tc");
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("a  b c", PlainText(lines[0]));
}

TEST(RichTextUnfinishedMarkup, LessThanThatStartsNoTagIsText) {
  EXPECT_EQ("1 < 2 <= 3 <", PlainText(ParseRichText("1 < 2 <= 3 <")[0]));
  EXPECT_EQ("a <b c &", PlainText(ParseRichText("a <b c &amp;")[0]));
  std::vector<RichTextLine> lines = ParseRichText("<b>bold <font size=12pt");
  ASSERT_EQ(1u, lines.size());
  ExpectFont(OnlyRun(lines, 0), true, 8, kBlack, "");
  EXPECT_EQ("bold <font size=12pt", PlainText(lines[0]));
}

TEST(RichTextBitmaps, NeedAResourceNumber) {
  std::vector<RichTextLine> lines =
      ParseRichText("<bmp idres=7><BMP IDRES=65535><bmp idres=0><bmp idres=65536><bmp "
                    "idres=12x><bmp idres=><bmp>");
  ASSERT_EQ(1u, lines.size());
  ASSERT_EQ(2u, lines[0].runs.size());
  EXPECT_EQ(7, lines[0].runs[0].bitmapId);
  EXPECT_EQ(65535, lines[0].runs[1].bitmapId);
  EXPECT_TRUE(lines[0].runs[1].text.empty());
}

TEST(RichTextUnfinishedMarkup, DeepNestingNeitherOverflowsNorLeaksStyle) {
  const int depth = 200000;
  std::string markup;
  for (int i = 0; i < depth; ++i) markup += "<font size=9pt><b><center>";
  markup += "deep";
  for (int i = 0; i < depth; ++i) markup += "</center></b></font>";
  markup += "out";
  std::vector<RichTextLine> lines = ParseRichText(markup);
  ASSERT_EQ(2u, lines.size());
  ExpectFont(OnlyRun(lines, 0), true, 9, kBlack, "");
  EXPECT_TRUE(lines[0].centred);
  ExpectFont(OnlyRun(lines, 1), false, RichTextFont::kDefaultPointSize, kBlack, "");
  EXPECT_FALSE(lines[1].centred);
}

}  // namespace
