#include "wizard/RichTextMarkup.h"

#include <cstddef>
#include <utility>

#include "base/Text.h"

namespace {

struct CNamedColour {
  const char* name;
  unsigned char red, green, blue;
};

// The usual names of the web's sixteen colours and a few more that the
// texts' authors tend to write.
const CNamedColour kColours[] = {
    {"black", 0x00, 0x00, 0x00},    {"white", 0xFF, 0xFF, 0xFF},
    {"red", 0xFF, 0x00, 0x00},      {"darkred", 0x8B, 0x00, 0x00},
    {"maroon", 0x80, 0x00, 0x00},   {"green", 0x00, 0x80, 0x00},
    {"darkgreen", 0x00, 0x64, 0x00}, {"lime", 0x00, 0xFF, 0x00},
    {"blue", 0x00, 0x00, 0xFF},     {"darkblue", 0x00, 0x00, 0x8B},
    {"navy", 0x00, 0x00, 0x80},     {"yellow", 0xFF, 0xFF, 0x00},
    {"olive", 0x80, 0x80, 0x00},    {"orange", 0xFF, 0xA5, 0x00},
    {"purple", 0x80, 0x00, 0x80},   {"fuchsia", 0xFF, 0x00, 0xFF},
    {"magenta", 0xFF, 0x00, 0xFF},  {"teal", 0x00, 0x80, 0x80},
    {"aqua", 0x00, 0xFF, 0xFF},     {"cyan", 0x00, 0xFF, 0xFF},
    {"gray", 0x80, 0x80, 0x80},     {"grey", 0x80, 0x80, 0x80},
    {"darkgray", 0xA9, 0xA9, 0xA9}, {"darkgrey", 0xA9, 0xA9, 0xA9},
    {"silver", 0xC0, 0xC0, 0xC0},
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
  if (IsDigit(c)) return c - '0';
  c = LowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A run of decimal digits at the start of `text` as a number no greater
// than `limit`, and the digits' count in `used`; -1 without digits or when
// the number is greater.
long LeadingNumber(const std::string& text, long limit, size_t& used) {
  long value = 0;
  used = 0;
  while (used < text.size() && IsDigit(text[used])) {
    value = value * 10 + (text[used] - '0');
    if (value > limit) return -1;
    ++used;
  }
  return used == 0 ? -1 : value;
}

struct CAttribute {
  std::string name;  // lower case
  std::string value;
};

struct CTag {
  std::string name;  // lower case, "/" first for a closing tag
  std::vector<CAttribute> attributes;

  const std::string* Attribute(const char* wanted) const {
    for (const CAttribute& attribute : attributes) {
      if (attribute.name == wanted) return &attribute.value;
    }
    return nullptr;
  }
};

// The inside of a tag, between "<" and ">": a name, then name=value pairs
// with values bare, in double or in single quotes. Whatever else is there
// is skipped.
CTag ReadTag(const std::string& inside) {
  CTag tag;
  size_t i = 0;
  if (i < inside.size() && inside[i] == '/') tag.name += inside[i++];
  while (i < inside.size() && (IsLetter(inside[i]) || IsDigit(inside[i]))) {
    tag.name += LowerAscii(inside[i++]);
  }
  while (i < inside.size()) {
    while (i < inside.size() && !IsLetter(inside[i])) ++i;
    CAttribute attribute;
    while (i < inside.size() && !IsSpace(inside[i]) && inside[i] != '=') {
      attribute.name += LowerAscii(inside[i++]);
    }
    while (i < inside.size() && IsSpace(inside[i])) ++i;
    if (i < inside.size() && inside[i] == '=') {
      ++i;
      while (i < inside.size() && IsSpace(inside[i])) ++i;
      if (i < inside.size() && (inside[i] == '"' || inside[i] == '\'')) {
        char quote = inside[i++];
        size_t end = inside.find(quote, i);
        if (end == std::string::npos) end = inside.size();
        attribute.value = inside.substr(i, end - i);
        i = end < inside.size() ? end + 1 : end;
      } else {
        while (i < inside.size() && !IsSpace(inside[i])) attribute.value += inside[i++];
      }
    }
    if (!attribute.name.empty()) tag.attributes.push_back(std::move(attribute));
  }
  return tag;
}

// "14pt" or "14": a size in points, or -1.
int ReadPointSize(const std::string& value) {
  size_t used = 0;
  long size = LeadingNumber(value, RichTextFont::kMaxPointSize, used);
  if (size < 1) return -1;
  std::string unit = value.substr(used);
  return unit.empty() || EqualNoCase(unit, "pt") ? static_cast<int>(size) : -1;
}

// The character an entity at `text[at]` ("&amp;") stands for, and its length
// in `used`; 0 when it is none the markup knows.
char ReadEntity(const std::string& text, size_t at, size_t& used) {
  static const struct {
    const char* name;
    char character;
  } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'},
                   {"&nbsp;", '\xA0'}};
  std::string rest = text.substr(at, 8);
  for (const auto& entity : kEntities) {
    if (StartsWithNoCase(rest, entity.name)) {
      used = std::char_traits<char>::length(entity.name);
      return entity.character;
    }
  }
  if (rest.size() > 2 && rest[1] == '#') {
    size_t digits = 0;
    long code = LeadingNumber(rest.substr(2), 255, digits);
    if (code > 0 && 2 + digits < rest.size() && rest[2 + digits] == ';') {
      used = 3 + digits;
      return static_cast<char>(code);
    }
  }
  return 0;
}

// Text between tags with its entities decoded; line ends and tabs are
// spaces, since only BR breaks a line.
std::string DecodeText(const std::string& text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t used = 0;
    char entity = text[i] == '&' ? ReadEntity(text, i, used) : 0;
    if (entity != 0) {
      decoded += entity;
      i += used;
      continue;
    }
    char c = text[i++];
    decoded += IsSpace(c) ? ' ' : c;
  }
  return decoded;
}

// The state of the reading: what the next text looks like and the lines so
// far. Bold and centring are counted rather than stacked with the font, so
// that a B closed after the FONT it was opened in stays bold until its /B.
class CRichTextReader {
 public:
  void Text(const std::string& text) {
    if (text.empty()) return;
    RichTextFont font = CurrentFont();
    std::vector<RichTextRun>& runs = m_line.runs;
    if (!runs.empty() && !runs.back().IsBitmap() && runs.back().font == font) {
      runs.back().text += text;
      return;
    }
    StartContent();
    RichTextRun run;
    run.text = text;
    run.font = font;
    runs.push_back(std::move(run));
  }

  void Tag(const CTag& tag) {
    const std::string& name = tag.name;
    if (name == "b") {
      ++m_bold;
    } else if (name == "/b") {
      if (m_bold > 0) --m_bold;
    } else if (name == "br") {
      EndLine();
    } else if (name == "center") {
      ChangeCentring(m_centred + 1);
    } else if (name == "/center") {
      if (m_centred > 0) ChangeCentring(m_centred - 1);
    } else if (name == "font") {
      OpenFont(tag);
    } else if (name == "/font") {
      if (!m_fonts.empty()) {
        m_font = std::move(m_fonts.back());
        m_fonts.pop_back();
      }
    } else if (name == "bmp") {
      Bitmap(tag);
    }
  }

  std::vector<RichTextLine> Finish() {
    if (!m_line.runs.empty()) EndLine();
    return std::move(m_lines);
  }

 private:
  RichTextFont CurrentFont() const {
    RichTextFont font = m_font;
    font.bold = m_bold > 0;
    return font;
  }

  void StartContent() {
    if (m_line.runs.empty()) m_line.centred = m_centred > 0;
  }

  void EndLine() {
    if (m_line.runs.empty()) m_line.centred = m_centred > 0;
    m_line.font = CurrentFont();
    m_lines.push_back(std::move(m_line));
    m_line = RichTextLine();
  }

  void ChangeCentring(int depth) {
    bool centred = depth > 0;
    if (!m_line.runs.empty() && m_line.centred != centred) EndLine();
    m_centred = depth;
  }

  void OpenFont(const CTag& tag) {
    m_fonts.push_back(m_font);
    if (const std::string* size = tag.Attribute("size")) {
      int points = ReadPointSize(*size);
      if (points > 0) m_font.pointSize = points;
    }
    if (const std::string* colour = tag.Attribute("color")) {
      ParseRichTextColour(*colour, m_font.colour);
    }
    if (const std::string* face = tag.Attribute("face")) {
      if (!face->empty()) m_font.face = *face;
    }
  }

  void Bitmap(const CTag& tag) {
    const std::string* id = tag.Attribute("idres");
    if (id == nullptr) return;
    size_t used = 0;
    // Resource ids are 16-bit.
    long number = LeadingNumber(*id, 0xFFFF, used);
    if (number < 1 || used != id->size()) return;
    StartContent();
    RichTextRun run;
    run.bitmapId = static_cast<int>(number);
    run.font = CurrentFont();
    m_line.runs.push_back(std::move(run));
  }

  int m_bold = 0;
  int m_centred = 0;
  RichTextFont m_font;
  std::vector<RichTextFont> m_fonts;
  RichTextLine m_line;
  std::vector<RichTextLine> m_lines;
};

}  // namespace

bool ParseRichTextColour(const std::string& name, RichTextColour& colour) {
  if (name.size() == 7 && name[0] == '#') {
    int digits[6];
    for (int i = 0; i < 6; ++i) {
      digits[i] = HexDigit(name[i + 1]);
      if (digits[i] < 0) return false;
    }
    colour.red = static_cast<unsigned char>(digits[0] * 16 + digits[1]);
    colour.green = static_cast<unsigned char>(digits[2] * 16 + digits[3]);
    colour.blue = static_cast<unsigned char>(digits[4] * 16 + digits[5]);
    return true;
  }
  for (const CNamedColour& named : kColours) {
    if (EqualNoCase(name, named.name)) {
      colour.red = named.red;
      colour.green = named.green;
      colour.blue = named.blue;
      return true;
    }
  }
  return false;
}

std::vector<RichTextLine> ParseRichText(const std::string& markup) {
  CRichTextReader reader;
  size_t i = 0;
  while (i < markup.size()) {
    size_t open = markup.find('<', i);
    // A "<" that starts no tag name ("a < b") is text.
    while (open != std::string::npos && open + 1 < markup.size() &&
           !IsLetter(markup[open + 1]) && markup[open + 1] != '/') {
      open = markup.find('<', open + 1);
    }
    size_t close = open == std::string::npos ? std::string::npos : markup.find('>', open);
    if (close == std::string::npos) {
      // No tag can end any more: the rest is text.
      reader.Text(DecodeText(markup.substr(i)));
      break;
    }
    reader.Text(DecodeText(markup.substr(i, open - i)));
    reader.Tag(ReadTag(markup.substr(open + 1, close - open - 1)));
    i = close + 1;
  }
  return reader.Finish();
}

std::string PlainText(const RichTextLine& line) {
  std::string text;
  for (const RichTextRun& run : line.runs) text += run.text;
  return text;
}
