#include "storage/RegistryFile.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "base/Interaction.h"
#include "base/Settings.h"
#include "catalogue/PathVariables.h"
#include "catalogue/RegistryKey.h"
#include "catalogue/Xml.h"
#include "storage/ValueContent.h"

namespace {

const char kDefaultName[] = "(Default)";
const char kValueNotSet[] = "(value not set)";

// Opens an existing key; ERROR_SUCCESS when opened.
LONG OpenKeyPath(const std::string& rootName, std::string subkey, REGSAM access, CRegKey& key) {
  HKEY root = RootKeyByName(rootName);
  if (root == NULL) return ERROR_INVALID_PARAMETER;
  while (!subkey.empty() && subkey.back() == '\\') subkey.pop_back();
  return key.Open(root, subkey, access);
}

std::string LinkText(const std::vector<BYTE>& data, DWORD length) {
  // Link targets are stored as UTF-16; the file holds ANSI text.
  std::wstring wide(reinterpret_cast<const wchar_t*>(data.data()), length / sizeof(wchar_t));
  size_t nul = wide.find(L'\0');
  if (nul != std::wstring::npos) wide.resize(nul);
  if (wide.empty()) return std::string();
  int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), NULL, 0,
                                 NULL, NULL);
  std::string text(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], size, NULL,
                      NULL);
  return text;
}

std::vector<RegistryValueEntry> CollectValues(HKEY key) {
  std::vector<RegistryValueEntry> entries;
  DWORD count = 0, longestName = 0, longestData = 0;
  if (RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, &count, &longestName,
                       &longestData, NULL, NULL) != ERROR_SUCCESS)
    return entries;
  std::vector<char> name(longestName + 1);
  std::vector<BYTE> data(longestData + 1);
  for (DWORD index = 0; index < count; ++index) {
    DWORD nameLength, dataLength, type;
    LONG status;
    for (;;) {
      nameLength = static_cast<DWORD>(name.size());
      dataLength = static_cast<DWORD>(data.size());
      status = RegEnumValueA(key, index, name.data(), &nameLength, NULL, &type, data.data(),
                             &dataLength);
      if (status != ERROR_MORE_DATA) break;
      // A value grew since the key was queried: make room rather than lose it.
      name.resize(name.size() * 2 + 256);
      data.resize(std::max<size_t>(data.size() * 2, dataLength + 1));
    }
    if (status != ERROR_SUCCESS) continue;
    std::string content;
    std::string bytes(reinterpret_cast<const char*>(data.data()), dataLength);
    if (type == REG_LINK) {
      std::string link = LinkText(data, dataLength);
      content = FormatValueContent(type, reinterpret_cast<const unsigned char*>(link.data()),
                                   link.size());
    } else {
      content = FormatValueContent(type, data.data(), dataLength);
    }
    if (nameLength > 0) {
      entries.push_back({std::string(name.data(), nameLength), content, type, bytes});
    } else if (dataLength > 0) {
      entries.push_back({kDefaultName, content, type, bytes});
    } else {
      entries.push_back({kDefaultName, kValueNotSet, type, bytes});
    }
  }
  OrderValueEntries(entries);
  bool hasDefault = false;
  for (const RegistryValueEntry& entry : entries) hasDefault = hasDefault || entry.name == kDefaultName;
  if (!hasDefault) entries.insert(entries.begin(), {kDefaultName, kValueNotSet, REG_SZ});
  return entries;
}

bool IsDrivePath(const std::string& text) {
  return text.size() >= 3 && text[1] == ':' && text[2] == '\\';
}

bool WriteKeyTree(XmlWriter& writer, const std::string& name, HKEY key, const std::string& selector,
                  const CPlaceholderFolders& folders) {
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL,
                       NULL) != ERROR_SUCCESS)
    return false;
  bool hasContent = subkeys > 0 || values > 0;
  // What the import will do to a Content on this computer.
  UnfoldPlaceholders unfold = [&folders](const std::string& text) { return folders.Unfold(text); };
  XmlElement keyElement("Key");
  if (!name.empty()) {
    keyElement.SetAttribute("Name", EscapeXml(name));
    if (!hasContent) {
      keyElement.WriteEmpty(writer, 1, true, true);
      return true;
    }
    keyElement.WriteStart(writer, 1, true, true);
  }

  for (const RegistryValueEntry& entry : CollectValues(key)) {
    if (entry.name == kDefaultName && entry.content == kValueNotSet) continue;
    if (selector != "*" && selector != "\\" && CompareNoCase(entry.name, selector) != 0) continue;
    XmlElement value("Value");
    value.SetAttribute("Name", EscapeXml(entry.name));
    std::string content = IsDrivePath(entry.content) ? folders.Fold(entry.content) : entry.content;
    for (const auto& attribute : ValueAttributes(entry.type, entry.data, content, unfold))
      value.SetAttribute(attribute.first, EscapeXml(attribute.second));
    value.WriteEmpty(writer, 1, true, true);
  }

  if (selector == "\\") {
    // Key names are at most 255 characters.
    char subkeyName[256];
    for (DWORD index = 0;; ++index) {
      DWORD length = sizeof subkeyName;
      FILETIME written;
      if (RegEnumKeyExA(key, index, subkeyName, &length, NULL, NULL, NULL, &written) !=
          ERROR_SUCCESS)
        break;
      if (length == 0) continue;
      CRegKey subkey;
      if (subkey.Open(key, std::string(subkeyName, length), KEY_READ) != ERROR_SUCCESS) continue;
      if (!WriteKeyTree(writer, std::string(subkeyName, length), subkey.Get(), "\\", folders))
        return false;
    }
  }

  if (!name.empty()) keyElement.WriteEnd(writer, 1, true, true);
  return true;
}

// The console's import may run unattended (a restore arranges one for the
// next start of Windows), where a message box would wait for ever: there
// the problem is printed, or logged when silent.
void ShowImportProblem(const std::string& text) { ShowNotice(text, kCaption); }

struct ImportKeyEntry {
  std::string name;
  CRegKey key;
};

// Opens, else creates, the key the stack names; no key on failure.
HKEY OpenOrCreateKeyPath(const std::vector<ImportKeyEntry>& stack, CRegKey& key) {
  if (stack.empty()) return NULL;
  const std::string& rootName = stack.front().name;
  std::string path;
  for (size_t i = 1; i < stack.size(); ++i) {
    if (i > 1) path += '\\';
    path += stack[i].name;
  }
  if (OpenKeyPath(rootName, path, KEY_READ | KEY_WRITE, key) == ERROR_SUCCESS) return key.Get();
  HKEY root = RootKeyByName(rootName);
  if (root == NULL) return NULL;
  if (key.Create(root, path, KEY_READ | KEY_WRITE) == ERROR_SUCCESS) return key.Get();
  ShowImportProblem("couldn't create key " + rootName + "\\" + path);
  return NULL;
}

// What one Value element collected from its attributes.
struct ImportValueEntry {
  std::string name, content, typeName;
  // The exact type and bytes, written for values that Content and Type
  // can't restore exactly; either present means both must be usable.
  std::optional<std::string> typeCode, data;

  void Clear() { *this = ImportValueEntry(); }
};

// The type and bytes a Value element stands for; nothing when they can't
// be told. The exact form holds the bytes as the registry held them:
// nothing in them is unfolded.
std::optional<std::pair<DWORD, std::string>> ValueToSet(const ImportValueEntry& value,
                                                       const CPlaceholderFolders& folders) {
  if (value.typeCode || value.data) {
    if (!value.typeCode || !value.data) return std::nullopt;
    return ParseExactValue(*value.typeCode, *value.data);
  }
  DWORD type = RegistryTypeFromName(value.typeName);
  std::optional<std::string> data = ParseValueContent(folders.Unfold(value.content), type);
  if (!data || data->empty()) return std::nullopt;
  return std::make_pair(type, *data);
}

void ImportValue(HKEY key, const ImportValueEntry& value, const CPlaceholderFolders& folders) {
  std::string valueName = CompareNoCase(value.name, kDefaultName) == 0 ? std::string() : value.name;
  std::optional<std::pair<DWORD, std::string>> data = ValueToSet(value, folders);
  if (data && RegSetValueExA(key, valueName.c_str(), 0, data->first,
                             reinterpret_cast<const BYTE*>(data->second.data()),
                             static_cast<DWORD>(data->second.size())) == ERROR_SUCCESS)
    return;
  ShowImportProblem("Couldn't set value " + value.name);
}

bool SameName(const std::string& a, const char* b) { return CompareNoCase(a, b) == 0; }

// A Name starts the value afresh and a Content drops an earlier Type: only
// the written order Name, Content, Type counts.
void CollectValueAttribute(ImportValueEntry& value, const std::string& name,
                           const std::string& text) {
  if (SameName(name, "Name")) {
    value.Clear();
    value.name = text;
  } else if (SameName(name, "Content")) {
    value.content = text;
    value.typeName.clear();
  } else if (SameName(name, "Type")) {
    value.typeName = text;
  } else if (SameName(name, kTypeCodeAttribute)) {
    value.typeCode = text;
  } else if (SameName(name, kDataAttribute)) {
    value.data = text;
  }
}

}  // namespace

bool ExportRegistryKey(XmlWriter& writer, const std::string& keyPath, const std::string& selector) {
  if (keyPath.empty()) return false;
  size_t slash = keyPath.find('\\');
  std::string rootName = keyPath.substr(0, slash);
  std::string rest = slash == std::string::npos ? std::string() : keyPath.substr(slash + 1);
  CRegKey key;
  if (OpenKeyPath(rootName, rest, KEY_READ, key) != ERROR_SUCCESS) return false;

  // Doubled or trailing backslashes name no key level of their own.
  std::vector<std::string> components;
  for (size_t start = 0; start <= keyPath.size();) {
    size_t end = keyPath.find('\\', start);
    if (end == std::string::npos) end = keyPath.size();
    if (end > start) components.push_back(keyPath.substr(start, end - start));
    start = end + 1;
  }
  std::vector<XmlElement> chain;
  for (const std::string& component : components) {
    chain.emplace_back("Key");
    chain.back().SetAttribute("Name", EscapeXml(component));
    chain.back().WriteStart(writer, 1, true, true);
  }
  CPlaceholderFolders folders;
  bool written = WriteKeyTree(writer, std::string(), key.Get(), selector, folders);
  for (auto element = chain.rbegin(); element != chain.rend(); ++element)
    element->WriteEnd(writer, 1, true, true);
  return written;
}

namespace {

// One reading of a registry key file into the registry: the open Key
// levels and the Value being collected.
class CRegistryImport {
 public:
  // False once a key can neither be opened nor made: the import stops.
  bool Token(XmlReader& reader) {
    std::string element;
    reader.GetName(element);
    switch (reader.GetTokenType()) {
      case XmlTokenType::StartElement:
        StartElement(element);
        break;
      case XmlTokenType::Attribute: {
        std::string name, text;
        reader.GetAttribute(name, text);
        Attribute(element, UnescapeXml(name), UnescapeXml(text));
        break;
      }
      case XmlTokenType::EndElement:
        EndElement(UnescapeXml(element));
        break;
      default:
        break;
    }
    return m_ok;
  }

 private:
  void StartElement(const std::string& element) {
    if (SameName(element, "Key")) m_openKeys.push_back(false);
    if (SameName(element, "Value")) m_value.Clear();
  }

  void Attribute(const std::string& element, const std::string& name, const std::string& text) {
    if (SameName(element, "Key") && SameName(name, "Name")) {
      if (m_openKeys.empty() || m_openKeys.back()) return;
      m_openKeys.back() = true;
      m_stack.push_back({text, CRegKey()});
      CRegKey key;
      if (OpenOrCreateKeyPath(m_stack, key) == NULL) m_ok = false;
      m_stack.back().key = std::move(key);
    } else if (SameName(element, "Value")) {
      CollectValueAttribute(m_value, name, text);
    }
  }

  void EndElement(const std::string& element) {
    if (SameName(element, "Key") && !m_openKeys.empty()) {
      if (m_openKeys.back() && !m_stack.empty()) m_stack.pop_back();
      m_openKeys.pop_back();
    } else if (SameName(element, "Value") && !m_stack.empty()) {
      ImportValue(m_stack.back().key.Get(), m_value, m_folders);
      m_value.Clear();
    }
  }

  CPlaceholderFolders m_folders;
  std::vector<ImportKeyEntry> m_stack;
  // One flag per open Key element: whether its Name pushed a level. A Key
  // without a Name, or with a second Name, must not shift the levels.
  std::vector<bool> m_openKeys;
  ImportValueEntry m_value;
  bool m_ok = true;
};

}  // namespace

bool ImportRegistryFile(const std::string& xmlFile) {
  XmlReader reader;
  reader.SetShowErrors(true);
  if (!reader.Open(xmlFile)) return false;
  XmlErrorSink previousSink = SetXmlErrorSink(ShowImportProblem);
  CRegistryImport import;
  bool result = true;
  while (result && reader.Next()) result = import.Token(reader);
  // A damaged file was imported only in part: that is no success, or the
  // console would go on to delete the only copy.
  if (!reader.GetError().empty()) result = false;
  reader.Close();
  SetXmlErrorSink(previousSink);
  return result;
}

bool ExportRegistryKeyToFile(const std::string& xmlFile, const std::string& key) {
  XmlWriter writer;
  writer.SetFileName(xmlFile);
  bool exported = ExportRegistryKey(writer, key, "\\");
  return writer.Close() && exported;
}
