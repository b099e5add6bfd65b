#include "catalogue/RestoreSettings.h"

#include <unordered_map>
#include <utility>
#include <vector>

#include "base/LocaleText.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Xml.h"

namespace {

bool IsEntryElement(const std::string& name) { return SameText(name, "backup") || SameText(name, "restore"); }

// The reader ends a value at either quote, at '>' and at a carriage return
// that no line feed follows, so every value goes out escaped and with its
// line breaks as CR LF: a break that spans lines comes back as CR LF, the
// only form the reader gives.
std::string AttributeText(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines += "\r\n";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      lines += text[i];
    }
  }
  return EscapeXml(lines);
}

// A value copied from the catalogue means on the target what it meant when
// the catalogue was evaluated.
std::string CopiedText(const std::string& raw) { return AttributeText(UnescapeXml(raw)); }

// A var element of an entry element, or the place of a nested entry element
// among them: a variable is seen only by the entries nested after it.
struct ElementPart {
  int nested = -1;  // the nested entry element's number, or -1 for a var
  XmlElement var{"var"};
  // A repetition reads the element again from the line after its start
  // tag, so a var on that line belongs to the first repetition only.
  bool onStartLine = false;
};

// One entry element of the catalogue, as written there.
struct EntryElement {
  std::vector<std::pair<std::string, std::string>> attributes;  // as read
  std::vector<ElementPart> parts;
  long startPosition = 0;
  bool contentSeen = false;
  // A nested entry element begins before any element inside this one ends:
  // the entry's items and sub-folders then go first, as they always have.
  bool nestedFirst = false;
};

void SeeContent(EntryElement& element, bool nested) {
  if (element.contentSeen) return;
  element.contentSeen = true;
  element.nestedFirst = nested;
}

// Reads the catalogue once, straight through, numbering the entry elements
// as the evaluation numbers them. A parse error ends the reading; what was
// read stays.
std::vector<EntryElement> ReadEntryElements(XmlReader& reader) {
  std::vector<EntryElement> elements;
  std::vector<size_t> open;
  bool inVar = false;
  ElementPart var;
  while (reader.Next()) {
    std::string element, name, value;
    reader.GetName(element);
    switch (reader.GetTokenType()) {
      case XmlTokenType::StartElement:
        if (IsEntryElement(element)) {
          if (!open.empty()) {
            EntryElement& parent = elements[open.back()];
            SeeContent(parent, true);
            ElementPart place;
            place.nested = static_cast<int>(elements.size());
            parent.parts.push_back(std::move(place));
          }
          elements.emplace_back();
          elements.back().startPosition = reader.GetPosition();
          open.push_back(elements.size() - 1);
        } else if (!open.empty() && SameText(element, "var")) {
          inVar = true;
          var = ElementPart();
          var.onStartLine = reader.GetPosition() == elements[open.back()].startPosition;
        }
        break;
      case XmlTokenType::Attribute:
        reader.GetAttribute(name, value);
        if (IsEntryElement(element)) {
          if (!open.empty()) elements[open.back()].attributes.emplace_back(name, value);
        } else if (inVar && SameText(element, "var")) {
          var.var.SetAttribute(name, CopiedText(value));
        }
        break;
      case XmlTokenType::EndElement:
        if (open.empty()) break;
        SeeContent(elements[open.back()], false);
        if (IsEntryElement(element)) {
          open.pop_back();
        } else if (inVar && SameText(element, "var")) {
          elements[open.back()].parts.push_back(std::move(var));
          inVar = false;
        }
        break;
      default:
        break;
    }
  }
  return elements;
}

// Writes the chosen entries from the evaluated list, each inside the element
// of its parent, with what the catalogue says of its element around them.
class CSettingsWriter {
 public:
  CSettingsWriter(const Catalogue& catalogue, const std::vector<EntryElement>& elements,
                  XmlWriter& writer)
      : m_entries(catalogue.Entries()), m_elements(elements), m_writer(writer) {}

  void Run() {
    XmlElement("RestoreSettings").WriteStart(m_writer, 0, true, true);
    size_t group = FindCustomGroup();
    for (size_t i = 0; i < group; ++i) {
      const CatalogueEntry* entry = m_entries[i].get();
      if (entry->parent == nullptr) {
        m_top.push_back(entry);
      } else if (entry->generated) {
        m_generated[entry->parent].push_back(entry);
      } else {
        m_children[entry->parent].push_back(entry);
      }
    }
    for (const CatalogueEntry* entry : m_top) WriteChosen(*entry, 0);
    if (group < m_entries.size()) WriteCustomGroup(group);
    XmlElement("RestoreSettings").WriteEnd(m_writer, 0, true, true);
  }

 private:
  using Entries = std::vector<const CatalogueEntry*>;

  // The group the front end appends for a backup: it has no element.
  size_t FindCustomGroup() const {
    for (size_t i = 0; i < m_entries.size(); ++i) {
      const CatalogueEntry& entry = *m_entries[i];
      if (entry.parent == nullptr && entry.element < 0 && !entry.generated &&
          entry.name == kCustomGroupName)
        return i;
    }
    return m_entries.size();
  }

  const Entries& Of(const std::unordered_map<const CatalogueEntry*, Entries>& map,
                    const CatalogueEntry& entry) const {
    static const Entries none;
    auto found = map.find(&entry);
    return found == map.end() ? none : found->second;
  }

  // An entry that wasn't chosen leaves no element, but what was chosen
  // inside it is still kept, in its place.
  void WriteChosen(const CatalogueEntry& entry, int parentDepth) {
    if (entry.selected) {
      WriteEntry(entry, parentDepth + 1);
      return;
    }
    for (const CatalogueEntry* child : Of(m_children, entry)) WriteChosen(*child, parentDepth);
  }

  void WriteEntry(const CatalogueEntry& entry, int depth) {
    const EntryElement* element =
        entry.element >= 0 && static_cast<size_t>(entry.element) < m_elements.size()
            ? &m_elements[entry.element]
            : nullptr;
    int delta = 4 * depth;
    XmlElement start = StartTag(entry, element);
    start.WriteStart(m_writer, delta, true, true);
    WriteForeachVariable(entry, delta);

    bool itemsFirst = element != nullptr && element->nestedFirst;
    if (itemsFirst) WriteItems(entry, delta);
    bool generatedWritten = false;
    const Entries& children = Of(m_children, entry);
    std::vector<bool> written(children.size(), false);
    if (element != nullptr) {
      for (const ElementPart& part : element->parts) {
        if (part.nested < 0) {
          if (!part.onStartLine || entry.foreachIndex == 0)
            part.var.WriteEmpty(m_writer, delta, true, true);
          continue;
        }
        if (!generatedWritten) WriteGenerated(entry, depth);
        generatedWritten = true;
        for (size_t i = 0; i < children.size(); ++i) {
          if (written[i] || children[i]->element != part.nested) continue;
          written[i] = true;
          WriteChosen(*children[i], depth);
        }
      }
    }
    // Entries whose element the document no longer shows are kept too.
    for (size_t i = 0; i < children.size(); ++i)
      if (!written[i]) WriteChosen(*children[i], depth);
    if (!itemsFirst) WriteItems(entry, delta);
    if (!generatedWritten) WriteGenerated(entry, depth);
    start.WriteEnd(m_writer, delta, true, true);
  }

  // The catalogue's attributes in its order, with the name as prepared for
  // the choice; foreach and sub-folders were resolved on this computer.
  XmlElement StartTag(const CatalogueEntry& entry, const EntryElement* element) const {
    XmlElement start("restore");
    if (element == nullptr) {
      start.SetAttribute("name", AttributeText(entry.name));
      return start;
    }
    for (const auto& attribute : element->attributes) {
      const std::string& name = attribute.first;
      if (SameText(name, "name")) {
        start.SetAttribute(name, AttributeText(entry.name));
      } else if (!SameText(name, "expandSubDirs") && !SameText(name, "foreach") && !SameText(name, "in")) {
        start.SetAttribute(name, CopiedText(attribute.second));
      }
    }
    return start;
  }

  void WriteForeachVariable(const CatalogueEntry& entry, int delta) {
    if (entry.foreach.empty()) return;
    std::string value;
    for (size_t i = 0; i < entry.variableNames.size(); ++i) {
      if (SameText(entry.variableNames[i], entry.foreach.c_str())) {
        value = entry.variableValues[i];
        break;
      }
    }
    XmlElement var("var");
    var.SetAttribute("name", AttributeText(entry.foreach));
    var.SetAttribute("value", AttributeText(value));
    var.WriteEmpty(m_writer, delta, true, true);
  }

  void WriteItems(const CatalogueEntry& entry, int delta) {
    for (const std::string& text : entry.items) {
      if (text.empty()) continue;
      size_t semicolon = text.find(';');
      XmlElement item("item");
      item.SetAttribute("path", AttributeText(semicolon == std::string::npos
                                                  ? text
                                                  : text.substr(semicolon + 1)));
      item.SetAttribute("name", AttributeText(semicolon == std::string::npos
                                                  ? std::string()
                                                  : text.substr(0, semicolon)));
      item.WriteEmpty(m_writer, delta, true, true);
    }
  }

  // Sub-folders found on this computer become plain entries of the set.
  void WriteGenerated(const CatalogueEntry& owner, int depth) {
    int delta = 4 * (depth + 1);
    for (const CatalogueEntry* generated : Of(m_generated, owner)) {
      if (!generated->selected || generated->items.empty() || generated->items[0].empty())
        continue;
      XmlElement folder("restore");
      folder.SetAttribute("name", AttributeText(generated->name));
      folder.SetAttribute("display", AttributeText("Restore this folder from " + owner.name));
      folder.WriteStart(m_writer, delta, true, true);
      WriteItems(*generated, delta);
      folder.WriteEnd(m_writer, delta, true, true);
    }
  }

  void WriteCustomGroup(size_t group) {
    const CatalogueEntry& entry = *m_entries[group];
    XmlElement element("restore");
    element.SetAttribute("name", AttributeText(entry.name));
    element.SetAttribute("display",
                         "Custom files and folders (double click or press Insert on children to "
                         "change items)");
    element.SetAttribute("detect", AttributeText(entry.detect));
    element.WriteStart(m_writer, 4, true, true);
    for (size_t i = group + 1; i < m_entries.size(); ++i) {
      const CatalogueEntry& custom = *m_entries[i];
      if (!custom.selected) continue;
      XmlElement item("restore");
      item.SetAttribute("name", AttributeText(custom.name));
      item.SetAttribute("display", AttributeText(custom.display));
      item.SetAttribute("detect", AttributeText(custom.detect));
      item.WriteStart(m_writer, 8, true, true);
      WriteItems(custom, 8);
      item.WriteEnd(m_writer, 8, true, true);
    }
    element.WriteEnd(m_writer, 4, true, true);
  }

  const std::vector<std::unique_ptr<CatalogueEntry>>& m_entries;
  const std::vector<EntryElement>& m_elements;
  XmlWriter& m_writer;
  Entries m_top;
  std::unordered_map<const CatalogueEntry*, Entries> m_children;
  std::unordered_map<const CatalogueEntry*, Entries> m_generated;
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
  std::vector<EntryElement> elements = ReadEntryElements(reader);
  reader.Close();
  CSettingsWriter(catalogue, elements, writer).Run();
  // A document that didn't reach the disk whole would describe another set.
  return writer.Close();
}
