#include "storage/RegistryFile.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/Interaction.h"
#include "base/ParallelCalls.h"
#include "base/Settings.h"
#include "catalogue/PathVariables.h"
#include "catalogue/RegistryKey.h"
#include "catalogue/Xml.h"
#include "storage/RegistryFileReader.h"
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
  // The values from index `begin` to before `end`; a value that can't be
  // read is left out.
  void ReadRange(HKEY key, const KeySizes& sizes, DWORD begin, DWORD end);
  // Adds the values of another reading after these.
  void Append(const CKeyValues& part);
  // Room for this many bytes of names and data and this many values.
  void Reserve(size_t bytes, size_t count) {
    m_block.reserve(bytes);
    m_slots.reserve(count);
  }
  size_t Bytes() const { return m_block.size(); }
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

void CKeyValues::Append(const CKeyValues& part) {
  size_t offset = m_block.size();
  m_block += part.m_block;
  m_slots.reserve(m_slots.size() + part.m_slots.size());
  for (Slot slot : part.m_slots) {
    slot.name += offset;
    slot.data += offset;
    m_slots.push_back(slot);
  }
}

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
  explicit ExportContext(const CPlaceholderFolders* given)
      : folders(given != nullptr ? *given : own.emplace()) {}
  ExportContext(const ExportContext&) = delete;
  ExportContext& operator=(const ExportContext&) = delete;

  std::optional<CPlaceholderFolders> own;
  const CPlaceholderFolders& folders;
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

void WriteValues(CKeyFileText& text, const CKeyValues& values, const std::string& selector,
                 const ExportContext& context) {
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

// The export of a key tree. The walk goes through the keys in the order the
// file lists them and collects them in batches; the values of a batch's
// keys are read with several calls in flight, then the batch is written in
// order. The keys of a batch stay open until it is written, and a key the
// walk still enumerates stays open with it.
class CTreeExport {
 public:
  CTreeExport(CKeyFileText& text, const ExportContext& context)
      : m_text(text), m_context(context) {}

  // The key and, for the selector "\\", everything below it; the top key
  // (no name) has no tag of its own. False when a key's sizes can't be told.
  bool Walk(const std::string& name, const std::shared_ptr<CRegKey>& key,
            const std::string& selector);
  // Writes what was collected.
  void Flush();

 private:
  bool Walk(const std::string& name, const std::shared_ptr<CRegKey>& key, const KeySizes& sizes,
            const std::string& selector);
  bool WalkSubkeys(HKEY key, DWORD count);

  struct Item {
    enum Kind { kStart, kEmpty, kEnd } kind;
    std::string name;
    std::shared_ptr<CRegKey> key;
    KeySizes sizes;
    const std::string* selector = nullptr;
    CKeyValues values;
  };
  // One stretch of a key's values, read by one call after the other.
  struct Stretch {
    size_t item;
    DWORD begin, end;
    CKeyValues values;
  };

  void Add(Item item);
  void ReadValues();

  // A batch holds about this many values, or this many keys.
  static const DWORD kBatchValues = 4096;
  static const size_t kBatchItems = 256;
  // A key of more values is read in stretches of this many at once.
  static const DWORD kStretchValues = 128;

  CKeyFileText& m_text;
  const ExportContext& m_context;
  std::vector<Item> m_items;
  DWORD m_pendingValues = 0;
};

bool CTreeExport::Walk(const std::string& name, const std::shared_ptr<CRegKey>& key,
                       const std::string& selector) {
  KeySizes sizes;
  if (!QueryKeySizes(key->Get(), sizes)) return false;
  return Walk(name, key, sizes, selector);
}

bool CTreeExport::Walk(const std::string& name, const std::shared_ptr<CRegKey>& key,
                       const KeySizes& sizes, const std::string& selector) {
  Item item;
  item.sizes = sizes;
  item.name = name;
  if (!name.empty() && sizes.subkeys == 0 && sizes.values == 0) {
    item.kind = Item::kEmpty;
    Add(std::move(item));
    return true;
  }
  item.kind = Item::kStart;
  item.key = key;
  item.selector = &selector;
  Add(std::move(item));

  if (selector == "\\" && !WalkSubkeys(key->Get(), sizes.subkeys)) return false;

  if (!name.empty()) {
    Item end;
    end.kind = Item::kEnd;
    Add(std::move(end));
  }
  return true;
}

// The names come one call after the other; the subkeys are opened and asked
// for their sizes a stretch at a time, several at once.
bool CTreeExport::WalkSubkeys(HKEY key, DWORD count) {
  static const std::string kAll = "\\";
  const size_t kStretch = 64;
  struct Subkey {
    std::string name;
    std::shared_ptr<CRegKey> key;
    KeySizes sizes;
    bool opened = false, sized = false;
  };
  // Key names are at most 255 characters. The count saves a leaf key the
  // question that would only say there is nothing more.
  char subkeyName[256];
  DWORD index = 0;
  bool more = true;
  while (more && index < count) {
    std::vector<Subkey> stretch;
    while (stretch.size() < kStretch && index < count) {
      DWORD length = sizeof subkeyName;
      FILETIME written;
      if (RegEnumKeyExA(key, index++, subkeyName, &length, NULL, NULL, NULL, &written) !=
          ERROR_SUCCESS) {
        more = false;
        break;
      }
      if (length == 0) continue;
      stretch.emplace_back();
      stretch.back().name.assign(subkeyName, length);
    }
    RegistryCalls().Run(stretch.size(), [&](size_t i) {
      Subkey& subkey = stretch[i];
      auto opened = std::make_shared<CRegKey>();
      subkey.opened = opened->Open(key, subkey.name, KEY_READ) == ERROR_SUCCESS;
      if (!subkey.opened) return;
      subkey.sized = QueryKeySizes(opened->Get(), subkey.sizes);
      subkey.key = std::move(opened);
    });
    for (Subkey& subkey : stretch) {
      if (!subkey.opened) continue;
      if (!subkey.sized) return false;
      if (!Walk(subkey.name, subkey.key, subkey.sizes, kAll)) return false;
      subkey.key.reset();
    }
  }
  return true;
}

void CTreeExport::Add(Item item) {
  if (item.kind == Item::kStart) m_pendingValues += item.sizes.values;
  m_items.push_back(std::move(item));
  if (m_pendingValues >= kBatchValues || m_items.size() >= kBatchItems) Flush();
}

void CTreeExport::ReadValues() {
  std::vector<Stretch> stretches;
  for (size_t i = 0; i < m_items.size(); ++i) {
    const Item& item = m_items[i];
    if (item.kind != Item::kStart) continue;
    DWORD count = item.sizes.values;
    for (DWORD begin = 0; begin < count; begin += kStretchValues)
      stretches.push_back({i, begin, std::min(count, begin + kStretchValues), CKeyValues()});
  }
  RegistryCalls().Run(stretches.size(), [&](size_t i) {
    Stretch& stretch = stretches[i];
    const Item& item = m_items[stretch.item];
    stretch.values.ReadRange(item.key->Get(), item.sizes, stretch.begin, stretch.end);
  });
  // The stretches of a key are joined in order, in room taken once, and
  // each is let go as soon as it is in: a key of many values is then held
  // about twice at most, not once more for every time its room grew.
  for (size_t first = 0; first < stretches.size();) {
    size_t end = first, bytes = 0, count = 0;
    for (; end < stretches.size() && stretches[end].item == stretches[first].item; ++end) {
      bytes += stretches[end].values.Bytes();
      count += stretches[end].values.Count();
    }
    CKeyValues& values = m_items[stretches[first].item].values;
    values = std::move(stretches[first].values);
    values.Reserve(bytes, count);
    for (size_t k = first + 1; k < end; ++k) {
      values.Append(stretches[k].values);
      stretches[k].values = CKeyValues();
    }
    first = end;
  }
}

void CTreeExport::Flush() {
  ReadValues();
  for (Item& item : m_items) {
    switch (item.kind) {
      case Item::kEmpty:
        m_text.EmptyKey(item.name);
        break;
      case Item::kStart:
        if (!item.name.empty()) m_text.StartKey(item.name);
        WriteValues(m_text, item.values, *item.selector, m_context);
        break;
      case Item::kEnd:
        m_text.EndKey();
        break;
    }
  }
  m_items.clear();
  m_pendingValues = 0;
}

// The console's import may run unattended (a restore arranges one for the
// next start of Windows), where a message box would wait for ever: there
// the problem is printed, or logged when silent.
void ShowImportProblem(const std::string& text) { ShowNotice(text, kCaption); }

struct ImportKeyEntry {
  std::string name;
  // Shared with the values waiting to be written into it.
  std::shared_ptr<CRegKey> key;
  // The path from the root, told apart from other keys' paths.
  std::string identity;
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
    HKEY parent = stack[stack.size() - 2].key ? stack[stack.size() - 2].key->Get() : NULL;
    if (parent != NULL &&
        key.Create(parent, stack.back().name, KEY_READ | KEY_WRITE) == ERROR_SUCCESS)
      return key.Get();
  }
  return OpenOrCreateKeyPath(stack, key);
}

// The name the registry knows a value by.
const char* RegistryValueName(const std::string& name) {
  return EqualNoCase(name, kDefaultName) ? "" : name.c_str();
}

// A key path as the registry tells paths apart: letter case ignored, also
// outside ASCII, and doubled, leading or trailing backslashes naming no
// level of their own.
std::string KeyIdentity(const std::string& name) {
  std::string path;
  for (char c : name)
    if (c != '\\' || (!path.empty() && path.back() != '\\')) path += c;
  if (!path.empty() && path.back() == '\\') path.pop_back();
  std::string identity = ToLowerAscii(path);
  bool ascii = std::all_of(identity.begin(), identity.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (!ascii && !identity.empty()) {
    LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_LOWERCASE, path.data(),
                 static_cast<int>(path.size()), &identity[0], static_cast<int>(identity.size()));
  }
  return identity;
}

// The values read from the file and not yet in the registry. The values of
// one key are written one after the other in the order of the file: on
// Windows a key lists its values in the order they were made, and a name
// given twice keeps the later data. Different keys are written at the same
// time. A value whose text says nothing the registry can hold is reported
// at once, in its place among the file's other problems; a value the
// registry refuses is reported once its batch is written.
class CPendingValues {
 public:

  void Add(const std::shared_ptr<CRegKey>& key, const std::string& identity,
           const std::string& name, const std::optional<KeyFileData>& data);
  bool Full() const { return m_values.size() >= kBatchValues || m_bytes >= kBatchBytes; }
  void Write();

 private:
  struct Pending {
    std::shared_ptr<CRegKey> key;
    std::string name;
    KeyFileData data;
    bool failed = false;
  };

  static const size_t kBatchValues = 4096;
  static const size_t kBatchBytes = 8 * 1024 * 1024;

  std::vector<Pending> m_values;
  // The indexes of the values of each key, in the order of the file.
  std::vector<std::vector<size_t>> m_keys;
  std::unordered_map<std::string, size_t> m_keyByIdentity;
  size_t m_bytes = 0;
};

void CPendingValues::Add(const std::shared_ptr<CRegKey>& key, const std::string& identity,
                         const std::string& name, const std::optional<KeyFileData>& data) {
  if (!data) {
    ShowImportProblem("Couldn't set value " + name);
    return;
  }
  Pending pending{key, name, *data};
  m_bytes += name.size() + pending.data.second.size();
  auto found = m_keyByIdentity.emplace(identity, m_keys.size());
  if (found.second) m_keys.emplace_back();
  m_keys[found.first->second].push_back(m_values.size());
  m_values.push_back(std::move(pending));
}

void CPendingValues::Write() {
  RegistryCalls().Run(m_keys.size(), [this](size_t k) {
    for (size_t i : m_keys[k]) {
      Pending& value = m_values[i];
      value.failed = value.key == nullptr || value.key->Get() == NULL ||
                     RegSetValueExA(value.key->Get(), RegistryValueName(value.name), 0,
                                    value.data.first,
                                    reinterpret_cast<const BYTE*>(value.data.second.data()),
                                    static_cast<DWORD>(value.data.second.size())) != ERROR_SUCCESS;
    }
  });
  for (const Pending& value : m_values)
    if (value.failed) ShowImportProblem("Couldn't set value " + value.name);
  m_values.clear();
  m_keys.clear();
  m_keyByIdentity.clear();
  m_bytes = 0;
}

}  // namespace

bool ExportRegistryKey(XmlWriter& writer, const std::string& keyPath, const std::string& selector,
                       const CPlaceholderFolders* folders) {
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
  ExportContext context(folders);
  CTreeExport tree(text, context);
  bool written = tree.Walk(std::string(), std::make_shared<CRegKey>(std::move(key)), selector);
  tree.Flush();
  for (size_t i = 0; i < components.size(); ++i) text.EndKey();
  text.Flush();
  return written;
}

namespace {

const char kKeptFolderPlaces[] = "Kept this computer's own special folders, not those of the set: ";

// The keys whose values say where this computer keeps its documents,
// application data, start menu and the other special folders, for the user
// or for all users. Another computer's places would move every later item.
bool PlacesSpecialFolders(const std::string& identity) {
  static const char* const kKeys[] = {
      "hkey_current_user\\software\\microsoft\\windows\\currentversion\\explorer\\user shell folders",
      "hkey_current_user\\software\\microsoft\\windows\\currentversion\\explorer\\shell folders",
      "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\explorer\\user shell folders",
      "hkey_local_machine\\software\\microsoft\\windows\\currentversion\\explorer\\shell folders"};
  for (const char* key : kKeys)
    if (identity == key) return true;
  return false;
}

// One reading of a registry key file into the registry: the keys of the
// open levels, and the values waiting to be written.
class CRegistryImport : public CRegistryFileSink {
 public:
  explicit CRegistryImport(bool keepFolderPlaces)
      : m_keepFolderPlaces(keepFolderPlaces),
        m_reader(*this, [this](const std::string& text) { return m_folders.Unfold(text); }) {}

  // False once a key can neither be opened nor made: the import stops.
  bool Token(const XmlReader& reader) { return m_reader.Token(reader); }

  // Writes the values still waiting.
  void Finish() { m_pending.Write(); }

 private:
  bool LevelOpened(const std::string& name) override {
    std::string identity = m_stack.empty() ? std::string() : m_stack.back().identity + '\\';
    identity += KeyIdentity(name);
    m_stack.push_back({name, nullptr, std::move(identity)});
    auto key = std::make_shared<CRegKey>();
    bool opened = OpenOrCreateKeyLevel(m_stack, *key) != NULL;
    m_stack.back().key = std::move(key);
    return opened;
  }

  void LevelClosed() override {
    if (!m_stack.empty()) m_stack.pop_back();
  }

  void Value(const std::string& name, const std::optional<KeyFileData>& data) override {
    if (m_stack.empty()) return;
    const ImportKeyEntry& level = m_stack.back();
    if (m_keepFolderPlaces && PlacesSpecialFolders(level.identity)) {
      if (m_keptKeys.insert(level.identity).second) WriteLog(kKeptFolderPlaces + KeyPath());
      return;
    }
    m_pending.Add(level.key, level.identity, name, data);
    if (m_pending.Full()) m_pending.Write();
  }

  std::string KeyPath() const {
    std::string path;
    for (const ImportKeyEntry& level : m_stack) path += (path.empty() ? "" : "\\") + level.name;
    return path;
  }

  bool m_keepFolderPlaces;
  CPlaceholderFolders m_folders;
  CRegistryFileReader m_reader;
  std::vector<ImportKeyEntry> m_stack;
  CPendingValues m_pending;
  std::set<std::string> m_keptKeys;
};

bool ImportFile(const std::string& xmlFile, bool keepFolderPlaces) {
  XmlReader reader;
  reader.SetShowErrors(true);
  if (!reader.Open(xmlFile)) return false;
  XmlErrorSink previousSink = SetXmlErrorSink(ShowImportProblem);
  CRegistryImport import(keepFolderPlaces);
  bool result = true;
  while (result && reader.Next()) result = import.Token(reader);
  import.Finish();
  // A damaged file was imported only in part: that is no success, or the
  // console would go on to delete the only copy.
  if (!reader.GetError().empty()) result = false;
  reader.Close();
  SetXmlErrorSink(previousSink);
  return result;
}

}  // namespace

bool ImportRegistryFile(const std::string& xmlFile) { return ImportFile(xmlFile, false); }

bool ImportRestoredRegistryFile(const std::string& xmlFile) { return ImportFile(xmlFile, true); }

bool ExportRegistryKeyToFile(const std::string& xmlFile, const std::string& key) {
  XmlWriter writer;
  writer.SetFileName(xmlFile);
  bool exported = ExportRegistryKey(writer, key, "\\");
  return writer.Close() && exported;
}
