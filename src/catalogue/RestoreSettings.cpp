#include "catalogue/RestoreSettings.h"

#include <windows.h>

#include <map>

#include "catalogue/Catalogue.h"
#include "catalogue/Xml.h"

namespace {

bool Same(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

// What is known of one open entry while its element is being written.
struct EntryState {
  XmlElement element{"restore"};
  bool selected = false;
  bool startPending = false;
  bool itemsWritten = true;
  bool hasSubFolders = false;
  bool generatedConsumed = true;
};

// A second reading of the catalogue in step with the evaluated entry list:
// every backup start tag takes the next entry of the list.
class CSettingsWriter {
 public:
  CSettingsWriter(const Catalogue& catalogue, XmlReader& reader, XmlWriter& writer)
      : m_entries(catalogue.Entries()), m_reader(reader), m_writer(writer) {}

  void Run() {
    XmlElement("RestoreSettings").WriteStart(m_writer, 0, true, true);
    while (m_reader.Next()) {
      std::string element;
      switch (m_reader.GetTokenType()) {
        case XmlTokenType::StartElement:
          m_reader.GetName(element);
          if (Same(element, "backup")) StartEntry();
          if (Same(element, "var")) m_var = XmlElement("var");
          break;
        case XmlTokenType::Attribute:
          Attribute();
          break;
        case XmlTokenType::EndElement:
          m_reader.GetName(element);
          WritePendingStart();
          if (Same(element, "var") && State().selected) m_var.WriteEmpty(m_writer, Delta(), true, true);
          if (Same(element, "backup")) EndEntry();
          break;
        default:
          break;
      }
    }
    // A damaged document may leave elements open: close them first.
    while (m_depth > 0) CloseElement();
    WriteCustomGroup();
    XmlElement("RestoreSettings").WriteEnd(m_writer, 0, true, true);
  }

 private:
  EntryState& State() { return m_states[m_current]; }
  int Delta() const { return 4 * m_depth; }

  void CloseElement() {
    XmlElement("restore").WriteEnd(m_writer, Delta(), true, true);
    --m_depth;
  }

  // The start tag waits until the entry's attributes are all read.
  bool WritePendingStart() {
    EntryState& state = State();
    if (m_current == nullptr || !state.startPending) return false;
    state.startPending = false;
    if (!state.selected) return false;
    ++m_depth;
    state.element.WriteStart(m_writer, Delta(), true, true);
    if (!m_current->foreach.empty()) {
      XmlElement var("var");
      var.SetAttribute("name", m_current->foreach);
      std::string value;
      for (size_t i = 0; i < m_current->variableNames.size(); ++i) {
        if (Same(m_current->variableNames[i], m_current->foreach.c_str())) {
          value = m_current->variableValues[i];
          break;
        }
      }
      var.SetAttribute("value", value);
      var.WriteEmpty(m_writer, Delta(), true, true);
    }
    return true;
  }

  void WriteItems(const CatalogueEntry& entry, int delta) {
    for (const std::string& text : entry.items) {
      if (text.empty()) continue;
      size_t semicolon = text.find(';');
      XmlElement item("item");
      item.SetAttribute("path", semicolon == std::string::npos ? text : text.substr(semicolon + 1));
      item.SetAttribute("name", semicolon == std::string::npos ? std::string() : text.substr(0, semicolon));
      item.WriteEmpty(m_writer, delta, true, true);
    }
  }

  void WriteOwnItems() {
    EntryState& state = State();
    if (state.selected && !state.itemsWritten) WriteItems(*m_current, Delta());
    state.itemsWritten = true;
  }

  // The generated sub-folder entries stand at the cursor right after their owner.
  void ConsumeGenerated() {
    EntryState& state = State();
    if (!state.hasSubFolders || state.generatedConsumed) return;
    state.generatedConsumed = true;
    int delta = Delta() + 4;
    while (m_cursor < m_entries.size() && m_entries[m_cursor]->generated) {
      const CatalogueEntry& generated = *m_entries[m_cursor++];
      if (!state.selected || !generated.selected || generated.items.empty() ||
          generated.items[0].empty())
        continue;
      XmlElement folder("restore");
      folder.SetAttribute("name", generated.name);
      folder.SetAttribute("display", "Restore this folder from " + m_current->name);
      folder.WriteStart(m_writer, delta, true, true);
      WriteItems(generated, delta);
      folder.WriteEnd(m_writer, delta, true, true);
    }
  }

  void StartEntry() {
    if (WritePendingStart()) WriteOwnItems();
    if (m_current != nullptr) ConsumeGenerated();
    if (m_cursor >= m_entries.size()) {
      // The document no longer matches the list: nothing more to write.
      m_current = &m_orphan;
      m_states[m_current] = EntryState();
      return;
    }
    m_current = m_entries[m_cursor++].get();
    EntryState& state = m_states[m_current];
    state = EntryState();
    state.selected = m_current->selected;
    state.startPending = true;
    state.itemsWritten = false;
    state.generatedConsumed = false;
  }

  void Attribute() {
    std::string element, name, value;
    m_reader.GetName(element);
    m_reader.GetAttribute(name, value);
    if (Same(element, "var")) {
      m_var.SetAttribute(name, value);
    } else if (Same(element, "backup") && m_current != nullptr) {
      EntryState& state = State();
      if (Same(name, "name")) {
        state.element.SetAttribute(name, m_current->name);
      } else if (Same(name, "expandSubDirs")) {
        state.hasSubFolders = true;
      } else if (!Same(name, "foreach") && !Same(name, "in")) {
        state.element.SetAttribute(name, value);
      }
    }
  }

  void EndEntry() {
    if (m_current == nullptr) return;
    EntryState& state = State();
    WriteOwnItems();
    ConsumeGenerated();
    if (state.selected) CloseElement();

    const CatalogueEntry* ending = m_current;
    const CatalogueEntry* next = m_cursor < m_entries.size() ? m_entries[m_cursor].get() : nullptr;
    bool repetition = ending != &m_orphan && next != nullptr && next->foreachIndex > 0;
    const CatalogueEntry* parent = ending == &m_orphan ? nullptr : ending->parent;
    if (repetition && next->foreach != ending->foreach && parent != nullptr &&
        m_states[parent].selected && m_depth > 0) {
      // The repeated element encloses this one: close it before it is read again.
      CloseElement();
    }
    m_current = const_cast<CatalogueEntry*>(parent);
    if (repetition) {
      long position = parent != nullptr && !parent->foreach.empty() ? parent->previousPosition
                                                                    : ending->previousPosition;
      m_reader.Seek(position);
    }
  }

  void WriteCustomGroup() {
    size_t group = m_cursor;
    while (group < m_entries.size() &&
           !(m_entries[group]->parent == nullptr && m_entries[group]->name == kCustomGroupName))
      ++group;
    if (group >= m_entries.size()) return;
    const CatalogueEntry& entry = *m_entries[group];
    XmlElement element("restore");
    element.SetAttribute("name", entry.name);
    element.SetAttribute("display",
                         "Custom files and folders (double click or press Insert on children to "
                         "change items)");
    element.SetAttribute("detect", entry.detect);
    element.WriteStart(m_writer, 4, true, true);
    for (size_t i = group + 1; i < m_entries.size(); ++i) {
      const CatalogueEntry& custom = *m_entries[i];
      if (!custom.selected) continue;
      XmlElement item("restore");
      item.SetAttribute("name", custom.name);
      item.SetAttribute("display", custom.display);
      item.SetAttribute("detect", custom.detect);
      item.WriteStart(m_writer, 8, true, true);
      WriteItems(custom, 8);
      item.WriteEnd(m_writer, 8, true, true);
    }
    element.WriteEnd(m_writer, 4, true, true);
  }

  const std::vector<std::unique_ptr<CatalogueEntry>>& m_entries;
  XmlReader& m_reader;
  XmlWriter& m_writer;
  size_t m_cursor = 0;
  CatalogueEntry* m_current = nullptr;
  CatalogueEntry m_orphan;
  std::map<const CatalogueEntry*, EntryState> m_states;
  XmlElement m_var{"var"};
  int m_depth = 0;
};

}  // namespace

bool BuildRestoreSettings(Catalogue& catalogue, const std::string& path) {
  XmlWriter writer;
  writer.SetFileName(path);
  XmlReader reader;
  if (!reader.Open(catalogue.GetPath())) {
    writer.Close();
    return false;
  }
  reader.SetShowErrors(false);
  CSettingsWriter(catalogue, reader, writer).Run();
  reader.Close();
  // A document that didn't reach the disk whole would describe another set.
  return writer.Close();
}
