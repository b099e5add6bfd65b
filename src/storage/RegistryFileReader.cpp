#include "storage/RegistryFileReader.h"

#include <string_view>

#include "base/Text.h"
#include "catalogue/Xml.h"

namespace {

bool SameName(std::string_view a, std::string_view b) { return EqualNoCase(a, b); }

const std::string& Unescaped(std::string& into, std::string_view text) {
  into.clear();
  AppendUnescapedXml(into, text);
  return into;
}

}  // namespace

void CRegistryFileReader::CValue::Clear() {
  name.clear();
  content.clear();
  typeName.clear();
  typeCode.reset();
  data.reset();
}

bool CRegistryFileReader::Token(const XmlReader& reader) {
  switch (reader.GetTokenType()) {
    case XmlTokenType::StartElement:
      StartElement(reader.GetElementName());
      break;
    case XmlTokenType::Attribute:
      Attribute(reader.GetElementName(), Unescaped(m_name, reader.GetAttributeName()),
                Unescaped(m_text, reader.GetAttributeValue()));
      break;
    case XmlTokenType::EndElement:
      EndElement(Unescaped(m_element, reader.GetElementName()));
      break;
    default:
      break;
  }
  return m_ok;
}

void CRegistryFileReader::StartElement(const std::string& element) {
  if (SameName(element, "Key")) m_openKeys.push_back(false);
  if (SameName(element, "Value")) m_value.Clear();
}

void CRegistryFileReader::Attribute(const std::string& element, const std::string& name,
                                    const std::string& text) {
  if (SameName(element, "Key") && SameName(name, "Name")) {
    if (m_openKeys.empty() || m_openKeys.back()) return;
    m_openKeys.back() = true;
    ++m_levels;
    if (!m_sink.LevelOpened(text)) m_ok = false;
  } else if (SameName(element, "Value")) {
    // A Name starts the value afresh and a Content drops an earlier Type:
    // only the written order Name, Content, Type counts.
    if (SameName(name, "Name")) {
      m_value.Clear();
      m_value.name = text;
    } else if (SameName(name, "Content")) {
      m_value.content = text;
      m_value.typeName.clear();
    } else if (SameName(name, "Type")) {
      m_value.typeName = text;
    } else if (SameName(name, kTypeCodeAttribute)) {
      m_value.typeCode = text;
    } else if (SameName(name, kDataAttribute)) {
      m_value.data = text;
    }
  }
}

void CRegistryFileReader::EndElement(const std::string& element) {
  if (SameName(element, "Key") && !m_openKeys.empty()) {
    if (m_openKeys.back() && m_levels > 0) {
      --m_levels;
      m_sink.LevelClosed();
    }
    m_openKeys.pop_back();
  } else if (SameName(element, "Value") && m_levels > 0) {
    m_sink.Value(m_value.name, ValueData());
    m_value.Clear();
  }
}

// The exact form holds the bytes as the registry held them: nothing in
// them is unfolded.
std::optional<KeyFileData> CRegistryFileReader::ValueData() const {
  if (m_value.typeCode || m_value.data) {
    if (!m_value.typeCode || !m_value.data) return std::nullopt;
    return ParseExactValue(*m_value.typeCode, *m_value.data);
  }
  std::uint32_t type = RegistryTypeFromName(m_value.typeName);
  // Placeholders all start with '%': most texts need no unfolding.
  std::string unfolded;
  std::string_view content = m_value.content;
  if (content.find('%') != std::string_view::npos) {
    unfolded = m_unfold(m_value.content);
    content = unfolded;
  }
  std::optional<std::string> data = ParseValueContent(content, type);
  if (!data || data->empty()) return std::nullopt;
  return std::make_pair(type, std::move(*data));
}
