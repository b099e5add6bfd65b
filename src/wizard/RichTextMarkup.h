// The small HTML-like markup of the wizard's welcome and finish texts, read
// into lines of styled runs that the window side lays out and paints.
// Portable: no Windows header, so the reader is tested on the build machine.
//
// Understood, in any letter case: B and /B (bold), CENTER and /CENTER, BR,
// FONT with size=NNpt, color=name or #rrggbb and face=name, /FONT (back to
// the font before the matching FONT), and BMP idres=N (a bitmap resource).
// Other tags are dropped; &amp; &lt; &gt; &quot; &nbsp; and &#N; are decoded.
// The texts come from the string table but may be edited by translators, so
// nothing in them can make the reader fail: badly nested or unclosed tags
// only change the look.
#pragma once

#include <string>
#include <vector>

struct RichTextColour {
  unsigned char red = 0;
  unsigned char green = 0;
  unsigned char blue = 0;

  bool operator==(const RichTextColour& other) const {
    return red == other.red && green == other.green && blue == other.blue;
  }
  bool operator!=(const RichTextColour& other) const { return !(*this == other); }
};

struct RichTextFont {
  // The size of the dialogs' own font.
  static constexpr int kDefaultPointSize = 8;
  // Sizes outside this range are taken for typing errors and ignored.
  static constexpr int kMaxPointSize = 96;

  bool bold = false;
  int pointSize = kDefaultPointSize;
  RichTextColour colour;
  // Empty: the dialogs' own face.
  std::string face;

  bool operator==(const RichTextFont& other) const {
    return bold == other.bold && pointSize == other.pointSize && colour == other.colour &&
           face == other.face;
  }
  bool operator!=(const RichTextFont& other) const { return !(*this == other); }
};

struct RichTextRun {
  // Text in `font`, or, when bitmapId is not 0, that bitmap and no text.
  std::string text;
  RichTextFont font;
  int bitmapId = 0;

  bool IsBitmap() const { return bitmapId != 0; }
};

struct RichTextLine {
  bool centred = false;
  std::vector<RichTextRun> runs;
  // The font where the line ended: it gives a line without text its height.
  RichTextFont font;
};

// A colour name of the markup ("darkblue") or "#rrggbb"; false when unknown.
bool ParseRichTextColour(const std::string& name, RichTextColour& colour);

// Every BR ends a line. So does a change of alignment in the middle of a
// line, since a line is either centred or not. Text left after the last BR
// is a line of its own; a BR at the very end adds no empty line after it.
std::vector<RichTextLine> ParseRichText(const std::string& markup);

// The text of a line's runs, without styles: what a reader would see.
std::string PlainText(const RichTextLine& line);
