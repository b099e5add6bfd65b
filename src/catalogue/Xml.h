// The markup layer of every document the program reads or writes: a pull
// tokenizer that hands back one token per call and a writer that formats
// tags one at a time. Documents are never held as trees; callers keep the
// state they need. The dialect is small and its rules are part of the file
// formats: no namespaces, no entity expansion while reading, attribute
// values that end at either quote character. Portable: no Windows header.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class XmlTokenType : int {
  None = 0,          // nothing to report (whitespace, '=', '>', line ends...)
  StartElement = 1,  // '<' and a name
  EndElement = 2,    // '</' and a name, or the '/' of an empty-element tag
  Attribute = 3,     // a value has been closed; name and value are ready
  Text = 4,          // a non-empty run of characters between tags, one line
  Declaration = 5,   // '<?' or '<!' and a name
  Comment = 6,       // '<!--', or a comment line without its end
  CData = 7,         // '<![CDATA[', or a section line without its end
};

// Where a reader with show-errors on reports a parse error. The default
// says nothing; the Windows front end installs one that shows a message box.
using XmlErrorSink = void (*)(const std::string& text);
// Returns the sink that was installed before; nullptr restores the default.
XmlErrorSink SetXmlErrorSink(XmlErrorSink sink);

class XmlReader {
 public:
  XmlReader() = default;
  virtual ~XmlReader();
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;

  // Opens the file and starts reading from its first line. On a reader that
  // is already open it only replaces the stored path and returns true.
  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  // Parse errors also go to the error sink while this is on.
  void SetShowErrors(bool show) { showErrors_ = show; }
  // The next token (possibly None); false at the end of the file or on a
  // parse error, which leaves its text in GetError().
  virtual bool Next();
  XmlTokenType GetTokenType() const { return tokenType_; }
  // The element name; it stays valid during the element's Attribute tokens.
  void GetName(std::string& name) const { name = elementName_; }
  const std::string& GetElementName() const { return elementName_; }
  // The name without surrounding whitespace, the value exactly as collected.
  void GetAttribute(std::string& name, std::string& value) const;
  // The same without copies; valid until the next call of Next.
  std::string_view GetAttributeName() const;
  const std::string& GetAttributeValue() const { return attributeValue_; }
  const std::string& GetText() const { return text_; }
  // The name of the last Declaration token, with its '?' or '!'.
  const std::string& GetMarkupName() const { return markupName_; }
  const std::string& GetError() const { return error_; }
  // Byte offset of the next line that Next reads; -1 when closed.
  long GetPosition() const;
  // Next finishes the current line, then goes on reading lines from offset.
  bool Seek(long offset);
  // Also switches show-errors off.
  void Close();

 private:
  bool ReadLine();
  bool ReadBlock();
  // False with `message` set on a parse error.
  bool Tokenize(const char*& message);
  void FinishSection(const char* end, XmlTokenType type);
  void BeginValue();
  void ContinueValue();
  void ReadText();
  bool ReadMarkup(const char*& message);
  bool ReadTagName(const char*& message);
  size_t SkipSpace(size_t index) const;

  static const size_t kNeedLine = std::string::npos;

  std::string path_;
  std::FILE* file_ = nullptr;
  bool showErrors_ = false;
  // The file is read in large blocks and cut into lines here: reading it
  // a character at a time costs a lock of the runtime for each one.
  std::vector<char> block_;
  size_t blockPos_ = 0, blockEnd_ = 0;
  std::string line_;
  size_t pos_ = kNeedLine;
  int lineNumber_ = 0;
  long offset_ = 0;  // of the next line to read
  XmlTokenType tokenType_ = XmlTokenType::None;
  std::string elementName_;
  std::string text_;
  std::string attributeName_;
  std::string attributeValue_;
  std::string markupName_;
  std::string error_;
  bool inTag_ = false;
  bool expectValue_ = false;
  bool textMode_ = false;
  bool inComment_ = false;
  bool inCData_ = false;
};

class XmlWriter {
 public:
  XmlWriter() = default;
  virtual ~XmlWriter();
  XmlWriter(const XmlWriter&) = delete;
  XmlWriter& operator=(const XmlWriter&) = delete;

  // Ignored while the file is open.
  void SetFileName(const std::string& path);
  const std::string& GetFileName() const { return path_; }
  bool IsOpen() const { return file_ != nullptr; }
  // The first call after construction or Close creates the file (an
  // existing one is emptied) and writes the declaration line; false when
  // the file can't be created or the bytes can't be written.
  virtual bool Write(const std::string& text);
  // False when some earlier write or the close itself failed. Resets the
  // indentation; the next Write starts the file anew.
  bool Close();
  int GetIndentLevel() const { return indentLevel_; }
  void SetIndentLevel(int level) { indentLevel_ = level; }

 private:
  bool Put(const std::string& bytes);

  std::string path_;
  std::FILE* file_ = nullptr;
  bool declarationWritten_ = false;
  bool writeFailed_ = false;
  int indentLevel_ = 0;
};

// One tag's worth of an element: a name and its attributes in output order.
// The pieces XmlElement formats a tag from, for writers that put many tags
// into one text before handing it to XmlWriter::Write: the indentation and
// the opening ("<", "</", "<?") with the name, one attribute (the value
// goes out unchanged), and the closing with the line end.
void AppendTagOpening(std::string& out, int level, bool indent, const char* open,
                      std::string_view name);
void AppendTagAttribute(std::string& out, std::string_view name, std::string_view value);
// The same with EscapeXml applied to the value on the way.
void AppendEscapedTagAttribute(std::string& out, std::string_view name, std::string_view text);
void AppendTagClosing(std::string& out, const char* close, bool endLine);

class XmlElement {
 public:
  XmlElement() = default;
  explicit XmlElement(const std::string& name) : name_(name) {}

  const std::string& GetName() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // Replaces the value of the first attribute of exactly this name
  // (case-sensitive), else appends the pair.
  void SetAttribute(const std::string& name, const std::string& value);
  void ClearAttributes() { attributes_.clear(); }
  const std::vector<std::pair<std::string, std::string>>& GetAttributes() const {
    return attributes_;
  }

  // Each formats one tag and hands it to writer.Write as one string;
  // `delta` is added to the writer's indentation level (one space a level).
  // The start tag leaves the level raised; the end tag lowers it after
  // writing, so both stand at the same column.
  bool WriteStart(XmlWriter& writer, int delta, bool indent, bool endLine) const;
  bool WriteEmpty(XmlWriter& writer, int delta, bool indent, bool endLine) const;
  bool WriteEnd(XmlWriter& writer, int delta, bool indent, bool endLine) const;
  bool WriteDeclaration(XmlWriter& writer, int delta) const;

 private:
  friend class XmlWriter;
  std::string FormatTag(int level, bool indent, const char* open, bool withAttributes,
                        const char* close, bool endLine) const;

  std::string name_;
  std::vector<std::pair<std::string, std::string>> attributes_;
};

// Entities for arbitrary text kept in attribute values. Neither the reader
// nor the writer applies them; UnescapeXml(EscapeXml(t)) == t for every t.
std::string EscapeXml(const std::string& text);
std::string UnescapeXml(const std::string& text);
// The same, appended to `out`.
void AppendEscapedXml(std::string& out, std::string_view text);
void AppendUnescapedXml(std::string& out, std::string_view text);
