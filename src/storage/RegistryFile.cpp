#include "storage/RegistryFile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string_view>
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

std::string LinkText(std::string_view data) {
  // Link targets are stored as UTF-16; the file holds ANSI text.
  std::wstring wide(data.size() / sizeof(wchar_t), L'\0');
  if (!wide.empty()) std::memcpy(&wide[0], data.data(), wide.size() * sizeof(wchar_t));
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

// What RegQueryInfoKeyA tells of a key: one question for all of it.
struct KeySizes {
  DWORD subkeys = 0, values = 0, longestName = 0, longestData = 0;
};

bool QueryKeySizes(HKEY key, KeySizes& sizes) {
  return RegQueryInfoKeyA(key, NULL, NULL, NULL, &sizes.subkeys, NULL, NULL, &sizes.values,
                          &sizes.longestName, &sizes.longestData, NULL, NULL) == ERROR_SUCCESS;
}

// A key's values as RegEnumValueA hands them over, the names and bytes of
// all of them in one block: a key of many values costs no allocation for
// each. The unnamed value is named "(Default)" here.
class CKeyValues {
 public:
  // A value that can't be read is left out.
  void Read(HKEY key, const KeySizes& sizes);
  // The values from index `begin` to before `end`.
  void ReadRange(HKEY key, const KeySizes& sizes, DWORD begin, DWORD end);
  size_t Count() const { return m_slots.size(); }
  std::string_view Name(size_t i) const { return View(m_slots[i].name, m_slots[i].nameLength); }
  std::string_view Data(size_t i) const { return View(m_slots[i].data, m_slots[i].dataLength); }
  DWORD Type(size_t i) const { return m_slots[i].type; }
  // The unnamed value without data, which the file doesn't hold.
  bool IsUnset(size_t i) const { return m_slots[i].unset; }

 private:
  struct Slot {
    size_t name, nameLength, data, dataLength;
    DWORD type;
    bool unset;
  };
  std::string_view View(size_t at, size_t length) const {
    return std::string_view(m_block.data() + at, length);
  }

  std::string m_block;
  std::vector<Slot> m_slots;
};

void CKeyValues::Read(HKEY key, const KeySizes& sizes) { ReadRange(key, sizes, 0, sizes.values); }

void CKeyValues::ReadRange(HKEY key, const KeySizes& sizes, DWORD begin, DWORD end) {
  std::vector<char> name(sizes.longestName + 1);
  std::vector<BYTE> data(sizes.longestData + 1);
  m_slots.reserve(end - begin);
  for (DWORD index = begin; index < end; ++index) {
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
    Slot slot;
    slot.name = m_block.size();
    if (nameLength > 0) {
      m_block.append(name.data(), nameLength);
    } else {
      m_block += kDefaultName;
    }
    slot.nameLength = m_block.size() - slot.name;
    slot.data = m_block.size();
    slot.dataLength = dataLength;
    m_block.append(reinterpret_cast<const char*>(data.data()), dataLength);
    slot.type = type;
    slot.unset = nameLength == 0 && dataLength == 0;
    m_slots.push_back(slot);
  }
}

bool IsDrivePath(const std::string& text) {
  return text.size() >= 3 && text[1] == ':' && text[2] == '\\';
}

// The text of a registry key file as the export formats it, handed to the
// writer in large pieces rather than a tag at a time. Its levels start at
// the writer's and leave the writer's as they were.
class CKeyFileText {
 public:
  explicit CKeyFileText(XmlWriter& writer) : m_writer(writer), m_level(writer.GetIndentLevel()) {}

  void StartKey(std::string_view name) {
    ++m_level;
    KeyTag(name, ">");
  }
  void EmptyKey(std::string_view name) {
    ++m_level;
    KeyTag(name, "/>");
    --m_level;
  }
  void EndKey() {
    AppendTagOpening(m_text, m_level, true, "</", "Key");
    AppendTagClosing(m_text, ">", true);
    --m_level;
    FlushIfLarge();
  }
  // Opens a Value element one level down; the caller adds the attributes
  // and calls EndValue.
  std::string& StartValue() {
    AppendTagOpening(m_text, m_level + 1, true, "<", "Value");
    return m_text;
  }
  void EndValue() {
    AppendTagClosing(m_text, "/>", true);
    FlushIfLarge();
  }
  void Flush() {
    if (!m_text.empty()) m_writer.Write(m_text);
    m_text.clear();
  }

 private:
  void KeyTag(std::string_view name, const char* close) {
    AppendTagOpening(m_text, m_level, true, "<", "Key");
    AppendEscapedTagAttribute(m_text, "Name", name);
    AppendTagClosing(m_text, close, true);
    FlushIfLarge();
  }
  void FlushIfLarge() {
    if (m_text.size() >= kFlushSize) Flush();
  }

  static const size_t kFlushSize = 256 * 1024;
  XmlWriter& m_writer;
  int m_level;
  std::string m_text;
};

// What the export needs for each value: the folders of the placeholders,
// and what the import will do to a Content on this computer.
struct ExportContext {
  ExportContext() = default;
  ExportContext(const ExportContext&) = delete;
  ExportContext& operator=(const ExportContext&) = delete;

  CPlaceholderFolders folders;
  UnfoldPlaceholders unfold = [this](const std::string& text) { return folders.Unfold(text); };
};

void WriteValue(CKeyFileText& text, const CKeyValues& values, size_t i,
                const ExportContext& context) {
  std::string_view data = values.Data(i);
  DWORD type = values.Type(i);
  std::string content;
  if (type == REG_LINK) {
    std::string link = LinkText(data);
    content = FormatValueContent(type, reinterpret_cast<const unsigned char*>(link.data()),
                                 link.size());
  } else {
    content = FormatValueContent(type, reinterpret_cast<const unsigned char*>(data.data()),
                                 data.size());
  }
  if (values.Name(i) == kDefaultName && content == kValueNotSet) return;
  if (IsDrivePath(content)) content = context.folders.Fold(content);
  std::string& out = text.StartValue();
  AppendEscapedTagAttribute(out, "Name", values.Name(i));
  AppendValueAttributes(out, type, data, content, context.unfold);
  text.EndValue();
}

void WriteValues(CKeyFileText& text, HKEY key, const KeySizes& sizes, const std::string& selector,
                 const ExportContext& context) {
  CKeyValues values;
  values.Read(key, sizes);
  std::vector<std::string_view> names;
  names.reserve(values.Count());
  for (size_t i = 0; i < values.Count(); ++i) names.push_back(values.Name(i));
  bool all = selector == "*" || selector == "\\";
  for (size_t i : ValueNameOrder(names)) {
    if (values.IsUnset(i)) continue;
    if (!all && CompareNoCase(values.Name(i), selector) != 0) continue;
    WriteValue(text, values, i, context);
  }
}

bool WriteKeyTree(CKeyFileText& text, const std::string& name, HKEY key,
                  const std::string& selector, const ExportContext& context) {
  KeySizes sizes;
  if (!QueryKeySizes(key, sizes)) return false;
  bool hasContent = sizes.subkeys > 0 || sizes.values > 0;
  if (!name.empty()) {
    if (!hasContent) {
      text.EmptyKey(name);
      return true;
    }
    text.StartKey(name);
  }

  WriteValues(text, key, sizes, selector, context);

  if (selector == "\\") {
    // Key names are at most 255 characters. The count saves a leaf key the
    // question that would only say there is nothing more.
    char subkeyName[256];
    for (DWORD index = 0; index < sizes.subkeys; ++index) {
      DWORD length = sizeof subkeyName;
      FILETIME written;
      if (RegEnumKeyExA(key, index, subkeyName, &length, NULL, NULL, NULL, &written) !=
          ERROR_SUCCESS)
        break;
      if (length == 0) continue;
      std::string child(subkeyName, length);
      CRegKey subkey;
      if (subkey.Open(key, child, KEY_READ) != ERROR_SUCCESS) continue;
      if (!WriteKeyTree(text, child, subkey.Get(), "\\", context)) return false;
    }
  }

  if (!name.empty()) text.EndKey();
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

// A name that is one level below its parent, whatever the registry makes
// of doubled, leading or trailing backslashes.
bool IsPlainKeyName(const std::string& name) {
  return !name.empty() && name.find('\\') == std::string::npos;
}

// Opens, else creates, the key the stack names, by the whole path from the
// root; no key on failure.
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

// The key of the stack's last level. Where every level below the root has
// a plain name and the whole path is short, one call below the open parent
// opens or creates it. Otherwise, and for what that call refuses, the whole
// path from the root is opened or created: the ANSI registry calls limit
// its length (to 260 characters under Wine), which is what has always set
// how deep an import can reach, and what is reported stays the same.
HKEY OpenOrCreateKeyLevel(const std::vector<ImportKeyEntry>& stack, CRegKey& key) {
  const size_t kShortPath = 255;
  bool plain = stack.size() > 1;
  size_t pathLength = 0;
  for (size_t i = 1; i < stack.size() && plain; ++i) {
    plain = IsPlainKeyName(stack[i].name);
    pathLength += (i > 1 ? 1 : 0) + stack[i].name.size();
  }
  if (plain && pathLength <= kShortPath) {
    HKEY parent = stack[stack.size() - 2].key.Get();
    if (parent != NULL &&
        key.Create(parent, stack.back().name, KEY_READ | KEY_WRITE) == ERROR_SUCCESS)
      return key.Get();
  }
  return OpenOrCreateKeyPath(stack, key);
}

// What one Value element collected from its attributes.
struct ImportValueEntry {
  std::string name, content, typeName;
  // The exact type and bytes, written for values that Content and Type
  // can't restore exactly; either present means both must be usable.
  std::optional<std::string> typeCode, data;

  // Keeps the room of the texts for the next value.
  void Clear() {
    name.clear();
    content.clear();
    typeName.clear();
    typeCode.reset();
    data.reset();
  }
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
  // Placeholders all start with '%': most texts need no unfolding.
  std::string unfolded;
  std::string_view content = value.content;
  if (content.find('%') != std::string_view::npos) {
    unfolded = folders.Unfold(value.content);
    content = unfolded;
  }
  std::optional<std::string> data = ParseValueContent(content, type);
  if (!data || data->empty()) return std::nullopt;
  return std::make_pair(type, std::move(*data));
}

void ImportValue(HKEY key, const ImportValueEntry& value, const CPlaceholderFolders& folders) {
  const char* valueName = EqualNoCase(value.name, kDefaultName) ? "" : value.name.c_str();
  std::optional<std::pair<DWORD, std::string>> data = ValueToSet(value, folders);
  if (data && RegSetValueExA(key, valueName, 0, data->first,
                             reinterpret_cast<const BYTE*>(data->second.data()),
                             static_cast<DWORD>(data->second.size())) == ERROR_SUCCESS)
    return;
  ShowImportProblem("Couldn't set value " + value.name);
}

bool SameName(std::string_view a, std::string_view b) { return EqualNoCase(a, b); }

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
  CKeyFileText text(writer);
  for (const std::string& component : components) text.StartKey(component);
  ExportContext context;
  bool written = WriteKeyTree(text, std::string(), key.Get(), selector, context);
  for (size_t i = 0; i < components.size(); ++i) text.EndKey();
  text.Flush();
  return written;
}

namespace {

// One reading of a registry key file into the registry: the open Key
// levels and the Value being collected.
class CRegistryImport {
 public:
  // False once a key can neither be opened nor made: the import stops.
  bool Token(XmlReader& reader) {
    const std::string& element = reader.GetElementName();
    switch (reader.GetTokenType()) {
      case XmlTokenType::StartElement:
        StartElement(element);
        break;
      case XmlTokenType::Attribute:
        Attribute(element, Unescaped(m_name, reader.GetAttributeName()),
                  Unescaped(m_text, reader.GetAttributeValue()));
        break;
      case XmlTokenType::EndElement:
        EndElement(Unescaped(m_name, element));
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
      if (OpenOrCreateKeyLevel(m_stack, key) == NULL) m_ok = false;
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

  // Unescapes into one of the texts kept for it, whose room serves every
  // token.
  static const std::string& Unescaped(std::string& into, std::string_view text) {
    into.clear();
    AppendUnescapedXml(into, text);
    return into;
  }

  CPlaceholderFolders m_folders;
  std::string m_name, m_text;
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
