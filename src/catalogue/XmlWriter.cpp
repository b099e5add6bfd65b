#include "catalogue/Xml.h"

#include "base/Text.h"

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

std::string XmlElement::FormatTag(int level, bool indent, const char* open, bool withAttributes,
                                  const char* close, bool endLine) const {
  std::string tag;
  if (indent && level > 0) tag.assign(static_cast<size_t>(level), ' ');
  tag += open;
  tag += name_;
  if (withAttributes) {
    // Values go out unchanged: a quote inside one would end it on reading.
    for (const auto& attribute : attributes_) {
      tag += ' ';
      tag += attribute.first;
      tag += "=\"";
      tag += attribute.second;
      tag += '"';
    }
  }
  tag += close;
  if (endLine) tag += kLineEnd;
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

// Ampersands first, so the entities added afterwards are not escaped again.
// The apostrophe is escaped too: the reader ends a value at either quote.
std::string EscapeXml(const std::string& text) {
  if (text.empty()) return text;
  std::string out = ReplaceAll(text, "&", "&amp;");
  out = ReplaceAll(out, "<", "&lt;");
  out = ReplaceAll(out, ">", "&gt;");
  out = ReplaceAll(out, "\"", "&quot;");
  return ReplaceAll(out, "'", "&apos;");
}

// Ampersands last, so that "&amp;lt;" becomes "&lt;" and not "<".
std::string UnescapeXml(const std::string& text) {
  if (text.empty()) return text;
  std::string out = ReplaceAll(text, "&lt;", "<");
  out = ReplaceAll(out, "&gt;", ">");
  out = ReplaceAll(out, "&quot;", "\"");
  out = ReplaceAll(out, "&apos;", "'");
  return ReplaceAll(out, "&amp;", "&");
}
