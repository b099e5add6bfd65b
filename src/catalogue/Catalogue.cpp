#include "catalogue/Catalogue.h"

#include <cctype>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "base/LocaleText.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "catalogue/CatalogueSystem.h"
#include "catalogue/PathVariables.h"

namespace {


bool IsEntryElement(const std::string& name) { return SameText(name, "backup") || SameText(name, "restore"); }

}  // namespace

// One reading of the document.
class Catalogue::CEvaluation {
 public:
  explicit CEvaluation(Catalogue& catalogue)
      : m_list(catalogue.m_entries), m_reader(catalogue.m_reader), m_system(CurrentCatalogueSystem()) {}

  // False when a variable couldn't be expanded.
  bool Run() {
    for (;;) {
      long nextLine = m_reader.GetPosition();
      if (!m_reader.Next()) break;
      if (m_reader.GetPosition() != nextLine) LineStarted(nextLine);
      std::string element;
      switch (m_reader.GetTokenType()) {
        case XmlTokenType::StartElement:
          m_reader.GetName(element);
          StartElement(element);
          break;
        case XmlTokenType::EndElement:
          m_reader.GetName(element);
          EndElement(element);
          break;
        case XmlTokenType::Attribute:
          if (m_current != nullptr && !Attribute()) return false;
          break;
        default:
          break;
      }
    }
    return true;
  }

 private:
  // The restore settings find each entry's element again by its number, so
  // the numbers must follow the document even where a foreach repetition
  // reads lines a second time: a line read again starts from the count it
  // started from the first time.
  void LineStarted(long offset) {
    auto line = m_elementsBefore.find(offset);
    if (line == m_elementsBefore.end()) return;
    if (line->second < 0) {
      line->second = m_nextElement;
    } else {
      m_nextElement = line->second;
    }
  }

  void StartElement(const std::string& element) {
    if (IsEntryElement(element)) {
      if (m_unlisted) List();
      auto entry = std::make_unique<CatalogueEntry>();
      entry->parent = m_current;
      entry->valid = m_current == nullptr || m_current->valid;
      entry->startPosition = m_reader.GetPosition();
      entry->element = m_nextElement++;
      // A repetition goes back to this line: remember its count.
      m_elementsBefore.emplace(entry->startPosition, -1);
      m_current = entry.get();
      m_unlisted = std::move(entry);
      m_subFolders.clear();
    } else if (m_current == nullptr) {
      return;
    } else if (SameText(element, "item")) {
      m_itemNumber = std::to_string(++m_current->itemCounter);
      m_itemPath.clear();
      m_itemHolds = true;
    } else if (SameText(element, "var")) {
      m_varHolds = true;
      m_varName.clear();
      m_varValue.clear();
    }
  }

  void EndElement(const std::string& element) {
    if (m_current == nullptr) return;
    if (SameText(element, "item")) {
      if (m_itemHolds) m_current->items.push_back(m_itemNumber + ";" + m_itemPath);
      m_itemNumber.clear();
      m_itemPath.clear();
      m_itemHolds = true;
    } else if (SameText(element, "var")) {
      if (m_varHolds) SetVariable();
      m_varName.clear();
      m_varValue.clear();
      m_varHolds = true;
    } else if (IsEntryElement(element)) {
      if (m_unlisted) List();
      CatalogueEntry& entry = *m_current;
      if (!entry.foreach.empty() && !entry.in.empty() &&
          m_system.Subkey(entry.in, entry.foreachIndex + 1)) {
        // Read the element's content again for the next subkey.
        auto repetition = std::make_unique<CatalogueEntry>(entry);
        repetition->items.clear();
        repetition->variableNames.clear();
        repetition->variableValues.clear();
        repetition->foreachIndex++;
        m_current = repetition.get();
        m_list.push_back(std::move(repetition));
        m_reader.Seek(entry.startPosition);
      } else {
        m_current = entry.parent;
      }
    }
  }

  // False when a value couldn't be expanded.
  bool Attribute() {
    std::string element, name, value;
    m_reader.GetName(element);
    m_reader.GetAttribute(name, value);
    // A value that holds a quote, '<', '>' or '&' is written with entities,
    // since the reader would end it at a quote; a bare '&' stays as it is.
    value = UnescapeXml(value);
    CatalogueEntry& entry = *m_current;
    if (IsEntryElement(element)) return EntryAttribute(entry, name, value);

    DefineForeachVariable(entry);
    if (entry.valid && !SameText(name, "path") && !ExpandPathVariables(value, &entry)) return false;
    if (SameText(element, "item")) {
      if (SameText(name, "path")) {
        m_itemPath = value;
      } else if (SameText(name, "name")) {
        m_itemNumber = value;
      } else {
        ApplyCondition(name, value, false, m_itemHolds);
      }
    } else if (SameText(element, "var")) {
      if (SameText(name, "name")) {
        m_varName = value;
      } else if (SameText(name, "value")) {
        m_varValue = value;
        if (!value.empty() && value[0] == '[') {
          std::string path = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string();
          m_varValue = Value(path).value_or(std::string());
        }
      } else {
        ApplyCondition(name, value, false, m_varHolds);
      }
    }
    return true;
  }

  bool EntryAttribute(CatalogueEntry& entry, const std::string& name, std::string value) {
    if (SameText(name, "detect")) {
      entry.detect = value;
    } else if (SameText(name, "name")) {
      entry.name = value;
    } else if (SameText(name, "display")) {
      entry.display = value;
    } else if (SameText(name, "expandSubDirs")) {
      m_subFolders = value;
    } else if (SameText(name, "reboot")) {
      entry.reboot = SameText(value, "yes");
    } else {
      if (entry.valid && !ExpandPathVariables(value, &entry)) return false;
      if (SameText(name, "foreach")) {
        entry.foreach = value;
      } else if (SameText(name, "in")) {
        entry.in = value;
      } else {
        ApplyCondition(name, value, true, entry.valid);
      }
    }
    return true;
  }

  void DefineForeachVariable(CatalogueEntry& entry) {
    if (!entry.valid || entry.foreach.empty() || FindVariable(&entry, entry.foreach)) return;
    std::optional<std::string> subkey = m_system.Subkey(entry.in, entry.foreachIndex);
    entry.variableNames.push_back(entry.foreach);
    if (subkey && !subkey->empty()) {
      (*subkey)[0] = static_cast<char>(std::toupper(static_cast<unsigned char>((*subkey)[0])));
      entry.variableValues.push_back(*subkey);
    } else {
      entry.variableValues.push_back("(error)");
      entry.valid = false;
    }
  }

  void SetVariable() {
    CatalogueEntry& entry = *m_current;
    std::string name = ToLowerAscii(m_varName);
    for (size_t i = 0; i < entry.variableNames.size(); ++i) {
      if (SameText(entry.variableNames[i], name.c_str())) {
        entry.variableValues[i] = m_varValue;
        return;
      }
    }
    entry.variableNames.push_back(name);
    entry.variableValues.push_back(m_varValue);
  }

  // Appends the current entry, then its generated sub-folder entries.
  void List() {
    CatalogueEntry* entry = m_unlisted.get();
    m_list.push_back(std::move(m_unlisted));
    if (!m_subFolders.empty()) ExpandSubFolders(*entry);
    m_subFolders.clear();
  }

  void ExpandSubFolders(CatalogueEntry& entry) {
    std::string folder = m_subFolders;
    if (!ExpandPathVariables(folder, &entry)) return;
    std::optional<std::vector<std::string>> names = m_system.SubFolders(folder);
    if (!names) {
      m_system.Log("Error: failed to expand " + folder);
      return;
    }
    for (const std::string& name : *names) {
      auto child = std::make_unique<CatalogueEntry>();
      child->parent = &entry;
      child->valid = entry.valid;
      child->name = name;
      child->generated = true;
      child->items.push_back(";" + m_subFolders + "\\" + name + "\\");
      m_list.push_back(std::move(child));
    }
  }

  // Applies a condition attribute to `holds`; false when the name isn't one.
  bool ApplyCondition(const std::string& name, const std::string& value, bool allowOr, bool& holds) {
    if (SameText(name, "winVer")) {
      holds = holds && m_system.IsWindowsVersion(value);
    } else if (allowOr && StartsWithText(name, "orKeyExists")) {
      holds = holds || KeyExists(value);
    } else if (StartsWithText(name, "keyExists")) {
      holds = holds && KeyExists(value);
    } else if (StartsWithText(name, "keyNotExists")) {
      holds = holds && !KeyExists(value);
    } else if (StartsWithText(name, "keyEquals")) {
      holds = holds && KeyEquals(value);
    } else {
      return false;
    }
    return true;
  }

  // "path=expected": the registry value at path equals the text, letter case
  // ignored. Without "=" there is no path to read: not equal.
  bool KeyEquals(const std::string& value) {
    size_t equals = value.find('=');
    if (equals == std::string::npos) return false;
    std::optional<std::string> data = Value(value.substr(0, equals));
    return data && SameText(*data, value.substr(equals + 1));
  }

  // Many entries test the same keys and values (each of a vendor's programs
  // its key, say): within one reading each is asked of the registry once.
  bool KeyExists(const std::string& path) {
    auto found = m_keysExist.find(path);
    if (found == m_keysExist.end()) found = m_keysExist.emplace(path, m_system.KeyExists(path)).first;
    return found->second;
  }
  const std::optional<std::string>& Value(const std::string& path) {
    auto found = m_values.find(path);
    if (found == m_values.end()) found = m_values.emplace(path, m_system.ReadValue(path)).first;
    return found->second;
  }

  std::vector<std::unique_ptr<CatalogueEntry>>& m_list;
  XmlReader& m_reader;
  CatalogueSystem& m_system;
  std::map<std::string, bool> m_keysExist;
  std::map<std::string, std::optional<std::string>> m_values;
  CatalogueEntry* m_current = nullptr;
  std::unique_ptr<CatalogueEntry> m_unlisted;  // the current entry until it is listed
  std::string m_subFolders;
  std::string m_itemNumber, m_itemPath;
  bool m_itemHolds = true;
  std::string m_varName, m_varValue;
  bool m_varHolds = true;
  int m_nextElement = 0;
  // Entry element count at the start of each line a repetition may read
  // again, by the line's offset; -1 until the line is first read.
  std::map<long, int> m_elementsBefore;
};

bool Catalogue::Evaluate() {
  m_reader.Close();
  if (!m_reader.Open(m_path)) return false;
  m_reader.SetShowErrors(false);
  DestroyEntries();
  bool expanded = CEvaluation(*this).Run();
  m_reader.Close();
  return expanded;
}

CatalogueEntry& Catalogue::AppendEntry(std::unique_ptr<CatalogueEntry> entry) {
  m_entries.push_back(std::move(entry));
  return *m_entries.back();
}

bool Catalogue::RemoveEntry(const CatalogueEntry& entry) {
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
    if (it->get() != &entry) continue;
    m_entries.erase(it);
    return true;
  }
  return false;
}

void AddCustomEntries(Catalogue& catalogue) {
  auto group = std::make_unique<CatalogueEntry>();
  group->name = kCustomGroupName;
  group->display =
      "Custom files and folders (double click or press Insert to add or change items, right "
      "click or Delete to remove items)";
  CatalogueEntry& parent = catalogue.AppendEntry(std::move(group));
  CatalogueSystem& system = CurrentCatalogueSystem();
  for (unsigned n = 0;; ++n) {
    std::string number = std::to_string(n);
    std::optional<std::string> name = system.ReadValue(kCustomKey + ("itemName" + number));
    std::optional<std::string> value = system.ReadValue(kCustomKey + ("itemValue" + number));
    if (!name || !value) break;
    auto item = std::make_unique<CatalogueEntry>();
    item->parent = &parent;
    item->name = *name;
    item->display = *value;
    item->items.push_back(*value);
    catalogue.AppendEntry(std::move(item));
  }
}

std::string PrepareEntries(Catalogue& catalogue) {
  std::string missing;
  for (const auto& entry : catalogue.Entries()) {
    ExpandPathVariables(entry->name, entry.get());
    if (entry->valid) {
      if (entry->generated && entry->parent != nullptr)
        entry->display = "Backup this folder from " + entry->parent->name;
    } else if (entry->parent == nullptr || entry->parent->valid) {
      missing += entry->name + "\r\n";
    }
  }
  return missing;
}

void SelectEntry(CatalogueEntry& entry) {
  for (CatalogueEntry* e = &entry; e != nullptr; e = e->parent) e->selected = true;
}
