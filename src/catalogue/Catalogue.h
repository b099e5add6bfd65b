// The catalogue of what can be backed up (backup.xml), and the restore
// settings of a backup set (restore.xml), evaluated against this computer
// into a flat list of entries in document order with parent links.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalogue/CatalogueEntry.h"
#include "catalogue/Xml.h"

class Catalogue {
 public:
  explicit Catalogue(const std::string& path = std::string()) : m_path(path) {}
  Catalogue(const Catalogue&) = delete;
  Catalogue& operator=(const Catalogue&) = delete;

  void SetPath(const std::string& path) { m_path = path; }
  const std::string& GetPath() const { return m_path; }

  // Reads the document and rebuilds the entry list. False when the
  // document can't be opened (the list is then left as it was) or a
  // variable can't be expanded; a parse error just ends the reading early.
  bool Evaluate();
  void DestroyEntries() { m_entries.clear(); }

  const std::vector<std::unique_ptr<CatalogueEntry>>& Entries() const { return m_entries; }
  // Appends an entry the front end makes (the custom items).
  CatalogueEntry& AppendEntry(std::unique_ptr<CatalogueEntry> entry);
  // Removes an entry the user took out (a custom item), which no other
  // entry may have as its parent. False when it isn't in the list.
  bool RemoveEntry(const CatalogueEntry& entry);

 private:
  class CEvaluation;
  std::string m_path;
  XmlReader m_reader;
  std::vector<std::unique_ptr<CatalogueEntry>> m_entries;
};

const char kCustomGroupName[] = "Custom files and folders";

// Appends the "Custom files and folders" group and the custom items saved
// in the registry, for a backup.
void AddCustomEntries(Catalogue& catalogue);
// Selects the entry and every entry around it.
void SelectEntry(CatalogueEntry& entry);
// Expands every entry's name, gives generated entries their display text
// and returns the names of the programs this computer lacks, one a line.
std::string PrepareEntries(Catalogue& catalogue);
