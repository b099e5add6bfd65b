#include "wizard/SelectionTree.h"
#include "catalogue/Catalogue.h"
#include "system/ItemSelection.h"
CSelectionTree::CSelectionTree(CDialog& owner) : m_owner(owner) {}
void CSelectionTree::SetOperation(WizardOperation) {}
bool CSelectionTree::Load(Catalogue& catalogue, const std::string& path) {
  catalogue.SetPath(path);
  if (!catalogue.Evaluate()) return false;
  PrepareEntries(catalogue);
  m_catalogue = &catalogue;
  return true;
}
void CSelectionTree::Clear() {}
bool CSelectionTree::IsChecked(const CatalogueEntry& entry) const { return entry.valid; }
HTREEITEM CSelectionTree::ItemOf(const CatalogueEntry&) const { return NULL; }
int CSelectionTree::MarkSelected() {
  int count = 0;
  for (const auto& entry : m_catalogue->Entries())
    if (entry->valid) { entry->selected = true; ++count; }
  return count;
}
void CSelectionTree::SaveChoices() {}
bool CSelectionTree::OnNotify(NMHDR&, LRESULT&) { return false; }
bool CSelectionTree::OnCommand(int) { return false; }
std::uint64_t SelectionSize(const Catalogue&, CDiskObject&) { return 0; }
