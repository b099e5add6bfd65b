#include "system/ItemSelection.h"

#include <string>
#include <vector>

#include "base/Flags.h"
#include "base/Settings.h"
#include "catalogue/CatalogueEntry.h"
#include "catalogue/Registry.h"

namespace {

// Settings root, "Schedule\" in schedule mode, then the names from the top
// entry down: the entry's own name is the value name.
std::string SelectionPath(const CatalogueEntry& entry) {
  std::vector<const CatalogueEntry*> chain;
  for (const CatalogueEntry* e = &entry; e != nullptr; e = e->parent) chain.push_back(e);
  std::string path = std::string(kInstallKey) + "\\";
  if (ScheduleMode()) path += "Schedule\\";
  for (auto e = chain.rbegin(); e != chain.rend(); ++e) {
    path += (*e)->name;
    if (*e != &entry) path += '\\';
  }
  return path;
}

}  // namespace

bool LoadItemSelection(const CatalogueEntry& entry) {
  CRegistryValueReader saved;
  return LoadItemSelection(entry, saved);
}

bool LoadItemSelection(const CatalogueEntry& entry, CRegistryValueReader& saved) {
  std::optional<std::string> value = saved.Read(SelectionPath(entry));
  return !value || (!value->empty() && (*value)[0] == '1');
}

void SaveItemSelection(const CatalogueEntry& entry, bool selected) {
  if (!entry.valid) return;
  std::string path = SelectionPath(entry);
  const char* text = selected ? "1" : "0";
  if (WriteRegistryValue(path, text, 0)) return;
  CreateRegistryKey(path.substr(0, path.rfind('\\')));
  WriteRegistryValue(path, text, 0);
}
