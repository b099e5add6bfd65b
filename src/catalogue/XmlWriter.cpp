#include "catalogue/Xml.h"

namespace {

const char kLineEnd[] = "\r\n";

}  // namespace

XmlWriter::~XmlWriter() { Close(); }

void XmlWriter::SetFileName(const std::string& path) {
  if (!file_) path_ = path;
}

bool XmlWriter::Put(const std::string& bytes) {
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size()) return true;
  writeFailed_ = true;
  return false;
}

bool XmlWriter::Write(const std::string& text) {
  if (!file_) {
    // Binary, so that CR LF is written exactly as given.
    file_ = std::fopen(path_.c_str(), "wb");
    if (!file_) {
      // Nothing of the document reaches the file: Close must say so.
      writeFailed_ = true;
      return false;
    }
  }
  if (!declarationWritten_) {
    declarationWritten_ = true;
    XmlElement declaration("xml");
    declaration.SetAttribute("version", "1.0");
    declaration.SetAttribute("encoding", "ASCII");
    declaration.SetAttribute("standalone", "yes");
    // Always at column 0, whatever level the caller has reached.
    if (!Put(declaration.FormatTag(0, true, "<?", true, "?>", true))) return false;
  }
  return Put(text);
}

bool XmlWriter::Close() {
  bool ok = !writeFailed_;
  if (file_) {
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
  }
  writeFailed_ = false;
  indentLevel_ = 0;
  declarationWritten_ = false;
  return ok;
}

void XmlElement::SetAttribute(const std::string& name, const std::string& value) {
  for (auto& attribute : attributes_) {
    if (attribute.first == name) {
      attribute.second = value;
      return;
    }
  }
  attributes_.emplace_back(name, value);
}

void AppendTagOpening(std::string& out, int level, bool indent, const char* open,
                      std::string_view name) {
  if (indent && level > 0) out.append(static_cast<size_t>(level), ' ');
  out += open;
  out += name;
}

// Values go out unchanged: a quote inside one would end it on reading.
void AppendTagAttribute(std::string& out, std::string_view name, std::string_view value) {
  out += ' ';
  out += name;
  out += "=\"";
  out += value;
  out += '"';
}

void AppendEscapedTagAttribute(std::string& out, std::string_view name, std::string_view text) {
  out += ' ';
  out += name;
  out += "=\"";
  AppendEscapedXml(out, text);
  out += '"';
}

void AppendTagClosing(std::string& out, const char* close, bool endLine) {
  out += close;
  if (endLine) out += kLineEnd;
}

std::string XmlElement::FormatTag(int level, bool indent, const char* open, bool withAttributes,
                                  const char* close, bool endLine) const {
  std::string tag;
  AppendTagOpening(tag, level, indent, open, name_);
  if (withAttributes) {
    for (const auto& attribute : attributes_) AppendTagAttribute(tag, attribute.first, attribute.second);
  }
  AppendTagClosing(tag, close, endLine);
  return tag;
}

bool XmlElement::WriteStart(XmlWriter& writer, int delta, bool indent, bool endLine) const {
  writer.SetIndentLevel(writer.GetIndentLevel() + delta);
  return writer.Write(FormatTag(writer.GetIndentLevel(), indent, "<", true, ">", endLine));
}

bool XmlElement::WriteEmpty(XmlWriter& writer, int delta, bool indent, bool endLine) const {
  writer.SetIndentLevel(writer.GetIndentLevel() + delta);
  bool ok = writer.Write(FormatTag(writer.GetIndentLevel(), indent, "<", true, "/>", endLine));
  writer.SetIndentLevel(writer.GetIndentLevel() - delta);
  return ok;
}

bool XmlElement::WriteEnd(XmlWriter& writer, int delta, bool indent, bool endLine) const {
  bool ok = writer.Write(FormatTag(writer.GetIndentLevel(), indent, "</", false, ">", endLine));
  writer.SetIndentLevel(writer.GetIndentLevel() - delta);
  return ok;
}

bool XmlElement::WriteDeclaration(XmlWriter& writer, int delta) const {
  writer.SetIndentLevel(writer.GetIndentLevel() + delta);
  bool ok = writer.Write(FormatTag(writer.GetIndentLevel(), true, "<?", true, "?>", true));
  writer.SetIndentLevel(writer.GetIndentLevel() - delta);
  return ok;
}

// One character at a time, which gives what replacing the ampersands first
// and then the other four would: no entity holds another's character.
// The apostrophe is escaped too: the reader ends a value at either quote.
void AppendEscapedXml(std::string& out, std::string_view text) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* entity;
    switch (text[i]) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = "&quot;"; break;
      case '\'': entity = "&apos;"; break;
      default: continue;
    }
    out.append(text, start, i - start);
    out += entity;
    start = i + 1;
  }
  out.append(text, start, std::string_view::npos);
}

// Left to right, each entity once, so that "&amp;lt;" becomes "&lt;" and
// not "<": what replacing "&amp;" last would give.
void AppendUnescapedXml(std::string& out, std::string_view text) {
  static const struct {
    std::string_view entity;
    char character;
  } kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
  size_t start = 0;
  for (size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at)) {
    size_t next = at + 1;
    for (const auto& entry : kEntities) {
      if (text.compare(at, entry.entity.size(), entry.entity) != 0) continue;
      out.append(text, start, at - start);
      out += entry.character;
      start = next = at + entry.entity.size();
      break;
    }
    at = next;
  }
  out.append(text, start, std::string_view::npos);
}

std::string EscapeXml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  AppendEscapedXml(out, text);
  return out;
}

std::string UnescapeXml(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  AppendUnescapedXml(out, text);
  return out;
}
