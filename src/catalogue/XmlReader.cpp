#include "catalogue/Xml.h"

#include <cstring>

namespace {

void IgnoreError(const std::string&) {}

XmlErrorSink g_errorSink = IgnoreError;

// Exactly these three: a tab is an ordinary character in this dialect.
bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r'; }

// Used only to trim attribute names, so that a name that follows a tab at
// the start of a continuation line still matches.
bool IsTrimSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

const char kBadOpen[] = "Bad '<' symbol";
const char kOpenAtLineEnd[] = "'<' symbol not allowed at the end of a line";
const char kEmptyName[] = "Empty element name";
const char kSyntaxError[] = "Syntax error";
const char kMissingAttributeName[] = "Missing attribute name before '='";

}  // namespace

XmlErrorSink SetXmlErrorSink(XmlErrorSink sink) {
  XmlErrorSink previous = g_errorSink;
  g_errorSink = sink ? sink : IgnoreError;
  return previous;
}

XmlReader::~XmlReader() { Close(); }

bool XmlReader::Open(const std::string& path) {
  path_ = path;
  if (file_) return true;
  pos_ = kNeedLine;
  lineNumber_ = 0;
  offset_ = 0;
  inTag_ = expectValue_ = textMode_ = inComment_ = inCData_ = false;
  tokenType_ = XmlTokenType::None;
  line_.clear();
  error_.clear();
  elementName_.clear();
  text_.clear();
  attributeName_.clear();
  attributeValue_.clear();
  markupName_.clear();
  // Binary, with the line ends handled in ReadLine: the runtime's text mode
  // reports wrong offsets for files with bare LF line ends, and positions
  // must be true byte offsets for Seek.
  blockPos_ = blockEnd_ = 0;
  file_ = std::fopen(path.c_str(), "rb");
  return file_ != nullptr;
}

void XmlReader::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  showErrors_ = false;
}

// Counted while reading rather than asked of the file: the catalogue asks
// at every tag, and each question would cost a system call.
long XmlReader::GetPosition() const { return file_ ? offset_ : -1; }

bool XmlReader::Seek(long offset) {
  if (!file_ || offset < 0 || std::fseek(file_, offset, SEEK_SET) != 0) return false;
  offset_ = offset;
  blockPos_ = blockEnd_ = 0;
  return true;
}

void XmlReader::GetAttribute(std::string& name, std::string& value) const {
  name = GetAttributeName();
  value = attributeValue_;
}

std::string_view XmlReader::GetAttributeName() const {
  size_t first = 0;
  size_t last = attributeName_.size();
  while (first < last && IsTrimSpace(attributeName_[first])) ++first;
  while (last > first && IsTrimSpace(attributeName_[last - 1])) --last;
  return std::string_view(attributeName_).substr(first, last - first);
}

bool XmlReader::ReadBlock() {
  const size_t kBlockSize = 64 * 1024;
  if (block_.size() < kBlockSize) block_.resize(kBlockSize);
  blockPos_ = 0;
  blockEnd_ = std::fread(block_.data(), 1, block_.size(), file_);
  return blockEnd_ > 0;
}

// A line without its end. CR LF counts as one line end, as text-mode
// reading on Windows would give it; a lone CR stays in the line.
bool XmlReader::ReadLine() {
  line_.clear();
  bool read = false;
  while (blockPos_ < blockEnd_ || ReadBlock()) {
    read = true;
    const char* start = block_.data() + blockPos_;
    size_t left = blockEnd_ - blockPos_;
    const void* found = std::memchr(start, '\n', left);
    if (found == nullptr) {
      line_.append(start, left);
      blockPos_ = blockEnd_;
      continue;
    }
    size_t length = static_cast<const char*>(found) - start;
    line_.append(start, length);
    blockPos_ += length + 1;
    offset_ += static_cast<long>(line_.size()) + 1;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    return true;
  }
  offset_ += static_cast<long>(line_.size());
  return read;
}

bool XmlReader::Next() {
  if (!file_) return false;
  if (pos_ == kNeedLine) {
    if (!ReadLine()) return false;
    pos_ = 0;
    ++lineNumber_;
  }
  const char* message = nullptr;
  if (Tokenize(message)) return true;
  error_ = "Parse error in line " + std::to_string(lineNumber_) + " : (" + message + ")";
  if (showErrors_) g_errorSink(error_);
  return false;
}

size_t XmlReader::SkipSpace(size_t index) const {
  while (index < line_.size() && IsSpace(line_[index])) ++index;
  return index;
}

bool XmlReader::Tokenize(const char*& message) {
  tokenType_ = XmlTokenType::None;
  if (pos_ >= line_.size()) {
    pos_ = kNeedLine;
    return true;
  }
  if (inTag_ && !expectValue_) {
    pos_ = SkipSpace(pos_);
    if (pos_ >= line_.size()) {
      pos_ = kNeedLine;
      return true;
    }
  }
  if (inComment_) {
    FinishSection("-->", XmlTokenType::Comment);
  } else if (inCData_) {
    FinishSection("]]>", XmlTokenType::CData);
  } else if (expectValue_) {
    if (attributeValue_.empty()) {
      BeginValue();
    } else {
      ContinueValue();
    }
  } else if (textMode_) {
    ReadText();
  } else {
    return ReadMarkup(message);
  }
  return true;
}

// The content of comments and CDATA sections is skipped, never delivered.
void XmlReader::FinishSection(const char* end, XmlTokenType type) {
  size_t found = line_.find(end, pos_);
  if (found == std::string::npos) {
    tokenType_ = type;
    pos_ = line_.size();
    return;
  }
  pos_ = found + std::strlen(end);
  inTag_ = expectValue_ = inComment_ = inCData_ = false;
  textMode_ = true;
  text_.clear();
}

// The first character is kept as the value so far (normally the opening
// quote); the value may also begin on a later line.
void XmlReader::BeginValue() {
  pos_ = SkipSpace(pos_);
  if (pos_ >= line_.size()) return;
  attributeValue_ = line_[pos_];
  ++pos_;
}

// A value ends at either kind of quote or at '>'; one that reaches the end
// of the line goes on in the next one, the line break kept as CR LF.
void XmlReader::ContinueValue() {
  size_t stop = line_.find_first_of("\"'\n\r>", pos_);
  if (stop == std::string::npos) {
    attributeValue_.append(line_, pos_, std::string::npos);
    attributeValue_ += "\r\n";
    pos_ = line_.size();
    return;
  }
  attributeValue_.append(line_, pos_, stop - pos_);
  attributeValue_.erase(0, attributeValue_.find_first_not_of("\"'"));
  expectValue_ = false;
  tokenType_ = XmlTokenType::Attribute;
  pos_ = line_[stop] == '>' ? stop : stop + 1;
}

void XmlReader::ReadText() {
  size_t stop = line_.find_first_of("\n\r<", pos_);
  size_t end = stop == std::string::npos ? line_.size() : stop;
  text_.assign(line_, pos_, end - pos_);
  pos_ = end;
  if (stop != std::string::npos) {
    if (line_[stop] == '<') {
      textMode_ = false;
    } else {
      // A lone CR inside a line: step over it, or the next call would stop
      // at the same place forever.
      ++pos_;
    }
  }
  tokenType_ = text_.empty() ? XmlTokenType::None : XmlTokenType::Text;
}

bool XmlReader::ReadMarkup(const char*& message) {
  char c = line_[pos_];
  switch (c) {
    case '<':
      return ReadTagName(message);
    case '?':  // also the '?' of "?>"
      ++pos_;
      return true;
    case '/': {
      // The element name stays, so "<a/>" gives StartElement a, EndElement a.
      while (pos_ < line_.size() && !IsSpace(line_[pos_]) && line_[pos_] != '>') ++pos_;
      tokenType_ = XmlTokenType::EndElement;
      return true;
    }
    case '>':
      inTag_ = expectValue_ = false;
      textMode_ = true;
      text_.clear();
      ++pos_;
      return true;
    default:
      break;
  }
  // Text mode covers everything after the first tag, so this is text before
  // it (a leading blank or byte-order mark, for example).
  if (!inTag_) {
    message = kSyntaxError;
    return false;
  }
  if (c == '=') {
    expectValue_ = true;
    ++pos_;
    return true;
  }
  size_t end = pos_;
  while (end < line_.size() && !IsSpace(line_[end]) && line_[end] != '=' && line_[end] != '>') {
    ++end;
  }
  if (end == pos_) {
    message = kMissingAttributeName;
    return false;
  }
  // The name is reported only together with its value.
  attributeName_.assign(line_, pos_, end - pos_);
  attributeValue_.clear();
  pos_ = end;
  return true;
}

bool XmlReader::ReadTagName(const char*& message) {
  if (inTag_) {
    message = kBadOpen;
    return false;
  }
  inTag_ = true;
  expectValue_ = textMode_ = inComment_ = inCData_ = false;
  size_t start = SkipSpace(pos_ + 1);
  if (start >= line_.size()) {
    message = kOpenAtLineEnd;
    return false;
  }
  if (line_.compare(start, 3, "!--") == 0) {
    tokenType_ = XmlTokenType::Comment;
    inComment_ = true;
    pos_ = start + 3;
    return true;
  }
  if (line_.compare(start, 8, "![CDATA[") == 0) {
    tokenType_ = XmlTokenType::CData;
    inCData_ = true;
    pos_ = start + 8;
    return true;
  }
  size_t end = start;
  while (end < line_.size()) {
    char c = line_[end];
    if (IsSpace(c) || c == '>' || (c == '/' && end != start)) break;
    ++end;
  }
  if (end == start) {
    message = kEmptyName;
    return false;
  }
  char first = line_[start];
  if (first == '?' || first == '!') {
    tokenType_ = XmlTokenType::Declaration;
    markupName_.assign(line_, start, end - start);
    elementName_.clear();
  } else if (first == '/') {
    tokenType_ = XmlTokenType::EndElement;
    elementName_.assign(line_, start + 1, end - start - 1);
  } else {
    tokenType_ = XmlTokenType::StartElement;
    elementName_.assign(line_, start, end - start);
  }
  pos_ = end;
  return true;
}
