#include "wizard/SelectionTree.h"

#include <memory>
#include <vector>

#include "base/Interaction.h"
#include "base/RunCallback.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "base/Win32Handle.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueEntry.h"
#include "catalogue/PathVariables.h"
#include "catalogue/Registry.h"
#include "engine/EngineRun.h"
#include "storage/DiskObject.h"
#include "system/ItemSelection.h"
#include "system/SpecialItems.h"
#include "wizard/CustomItem.h"
#include "wizard/Dialog.h"
#include "wizard/Resource.h"

namespace {

// The catalogue's entry for the program's own backup sets: taking them
// into a backup is seldom meant, so it is asked.
const char kOwnBackups[] = "Quillmark";

UINT CheckStateImage(bool checked) { return INDEXTOSTATEIMAGEMASK(checked ? 2 : 1); }

// An estimate has no one to tell of a path it couldn't resolve.
class CQuietRun : public IRunCallback {
 public:
  void StartEntry(const std::string&, int, int) override {}
  void SetCurrentPath(const std::string&) override {}
  bool ShouldStop() override { return false; }
  bool AskOverwrite(const std::string&, OverwriteAnswer&) override { return false; }
  int AskFileError(const std::string&, const std::string&, UINT) override { return IDIGNORE; }
  bool GetArchivePassword(const std::string&, std::string&) override { return false; }
  void ShowFatalError(const std::string&) override {}
  void LogItemError(const std::string&) override {}
};

// What the backup would copy for one item, found the way the backup finds it.
std::uint64_t ItemSize(const CatalogueEntry& entry, const std::string& item, CDiskObject& disk,
                       IRunCallback& run) {
  size_t semicolon = item.find(';');
  std::string path = WithBackslashes(semicolon == std::string::npos ? item : item.substr(semicolon + 1));
  if (path.empty() || !ExpandPathVariables(path, &entry) || !ExpandItemEnvironment(path, run))
    return 0;
  switch (KindOf(path)) {
    case ItemKind::Registry:
      return 0;
    case ItemKind::Special:
      return SpecialItemSize(path, disk);
    case ItemKind::RegistryNamed: {
      std::optional<std::string> resolved = ResolveNamedPath(path, run);
      if (!resolved || resolved->empty()) return 0;
      return disk.FileExists(*resolved) ? disk.FileSize(*resolved) : disk.FolderSize(*resolved, true);
    }
    case ItemKind::Folder:
      return disk.FolderSize(path, true);
    case ItemKind::FolderFiles:
      return disk.FolderSize(path.substr(0, path.size() - 1), false);
    case ItemKind::File:
      return disk.FileSize(path);
  }
  return 0;
}

}  // namespace

std::uint64_t SelectionSize(const Catalogue& catalogue, CDiskObject& disk) {
  CQuietRun run;
  std::uint64_t total = 0;
  for (const auto& entry : catalogue.Entries()) {
    if (!entry->valid || !entry->selected) continue;
    for (const std::string& item : entry->items) total += ItemSize(*entry, item, disk, run);
  }
  return total;
}

CSelectionTree::CSelectionTree(CDialog& owner) : m_owner(owner) { ShowCheckBoxes(); }

HWND CSelectionTree::Tree() const { return m_owner.Item(IDC_TREE); }

bool CSelectionTree::EditsCustomItems() const {
  return m_operation == WizardOperation::Backup || m_operation == WizardOperation::Schedule;
}

// The owner may build the tree object before its window exists, and may
// open its window more than once: each new control gets the style once.
void CSelectionTree::ShowCheckBoxes() {
  HWND tree = Tree();
  if (tree == NULL || tree == m_checkBoxesOn) return;
  LONG style = GetWindowLongA(tree, GWL_STYLE);
  // Older controls show the boxes only once the style has been switched
  // off and on again after creation.
  SetWindowLongA(tree, GWL_STYLE, style & ~TVS_CHECKBOXES);
  SetWindowLongA(tree, GWL_STYLE, style | TVS_CHECKBOXES);
  m_checkBoxesOn = tree;
}

bool CSelectionTree::Load(Catalogue& catalogue, const std::string& path) {
  ShowCheckBoxes();
  Clear();
  catalogue.SetPath(path);
  if (!catalogue.Evaluate()) {
    catalogue.DestroyEntries();
    return false;
  }
  size_t appended = catalogue.Entries().size();
  if (EditsCustomItems()) AddCustomEntries(catalogue);
  std::string missing = PrepareEntries(catalogue);
  m_catalogue = &catalogue;
  const auto& entries = catalogue.Entries();
  if (EditsCustomItems() && appended < entries.size()) m_group = entries[appended].get();

  CRegistryValueReader saved;
  for (const auto& entry : entries) {
    // A set keeps its custom items under the group it was made with.
    if (m_operation == WizardOperation::Restore && entry->parent == nullptr &&
        entry->name == kCustomGroupName)
      m_group = entry.get();
    if (!entry->valid) continue;
    HTREEITEM parent = entry->parent != nullptr ? ItemOf(*entry->parent) : NULL;
    HTREEITEM item = Insert(*entry, parent != NULL ? parent : TVI_ROOT);
    if (item == NULL || !LoadItemSelection(*entry, saved)) continue;
    for (HTREEITEM checked = item; checked != NULL; checked = Related(checked, TVGN_PARENT))
      SetItemChecked(checked, true);
  }

  if (m_operation == WizardOperation::Restore && !missing.empty())
    Ask(m_owner.Handle(), LoadResourceString(IDS_PROGRAMS_MISSING) + missing, kCaption,
        MB_OK | MB_ICONWARNING);
  return true;
}

HTREEITEM CSelectionTree::Insert(CatalogueEntry& entry, HTREEITEM parent) {
  TVINSERTSTRUCTA insert = {};
  insert.hParent = parent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_STATE;
  insert.item.pszText = const_cast<char*>(entry.name.c_str());
  insert.item.lParam = reinterpret_cast<LPARAM>(&entry);
  insert.item.stateMask = TVIS_STATEIMAGEMASK;
  insert.item.state = CheckStateImage(false);
  HTREEITEM item = reinterpret_cast<HTREEITEM>(
      SendMessageA(Tree(), TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
  if (item != NULL) m_items[&entry] = item;
  return item;
}

void CSelectionTree::Clear() {
  // Forgotten first: the deletion reports selection changes, which must
  // find no entry any more.
  m_items.clear();
  m_catalogue = nullptr;
  m_group = nullptr;
  m_context = nullptr;
  if (Tree() != NULL) SendMessageA(Tree(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

bool CSelectionTree::IsChecked(const CatalogueEntry& entry) const {
  HTREEITEM item = ItemOf(entry);
  return item != NULL && ItemChecked(item);
}

HTREEITEM CSelectionTree::ItemOf(const CatalogueEntry& entry) const {
  auto found = m_items.find(&entry);
  return found == m_items.end() ? NULL : found->second;
}

int CSelectionTree::MarkSelected() {
  if (m_catalogue == nullptr) return 0;
  int selected = 0;
  for (const auto& entry : m_catalogue->Entries()) {
    // An entry this computer lacks was never shown, so it can't have been chosen.
    entry->selected = entry->valid && IsChecked(*entry);
    if (entry->selected) ++selected;
  }
  return selected;
}

void CSelectionTree::SaveChoices() {
  if (m_catalogue == nullptr) return;
  for (const auto& entry : m_catalogue->Entries())
    if (entry->valid) SaveItemSelection(*entry, IsChecked(*entry));
  if (!EditsCustomItems()) return;

  // Rewritten whole: an item the user removed must not come back.
  std::string key(kCustomKey);
  key.pop_back();  // the name ends with the backslash before a value's
  DeleteRegistryTree(key);
  CreateRegistryKey(key);
  unsigned number = 0;
  for (const auto& entry : m_catalogue->Entries()) {
    if (!IsCustom(entry.get())) continue;
    std::string suffix = std::to_string(number++);
    WriteRegistryValue(kCustomKey + ("itemName" + suffix), entry->name.c_str(), 0);
    WriteRegistryValue(kCustomKey + ("itemValue" + suffix), entry->display.c_str(), 0);
  }
}

CatalogueEntry* CSelectionTree::EntryOf(HTREEITEM item) const {
  if (item == NULL) return nullptr;
  TVITEMA info = {};
  info.mask = TVIF_PARAM;
  info.hItem = item;
  if (!SendMessageA(Tree(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&info))) return nullptr;
  // Only an item the tree still lists for the entry: the entry may be gone.
  auto* entry = reinterpret_cast<CatalogueEntry*>(info.lParam);
  auto found = m_items.find(entry);
  return found != m_items.end() && found->second == item ? entry : nullptr;
}

bool CSelectionTree::IsCustom(const CatalogueEntry* entry) const {
  return entry != nullptr && m_group != nullptr && entry->parent == m_group;
}

bool CSelectionTree::ItemChecked(HTREEITEM item) const {
  LRESULT state = SendMessageA(Tree(), TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item),
                               TVIS_STATEIMAGEMASK);
  return (static_cast<UINT>(state) & TVIS_STATEIMAGEMASK) == CheckStateImage(true);
}

void CSelectionTree::SetItemChecked(HTREEITEM item, bool checked) const {
  TVITEMA info = {};
  info.mask = TVIF_STATE;
  info.hItem = item;
  info.stateMask = TVIS_STATEIMAGEMASK;
  info.state = CheckStateImage(checked);
  SendMessageA(Tree(), TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&info));
}

HTREEITEM CSelectionTree::Related(HTREEITEM item, UINT relation) const {
  return reinterpret_cast<HTREEITEM>(
      SendMessageA(Tree(), TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM CSelectionTree::HitItem(UINT flags) const {
  DWORD position = GetMessagePos();
  TVHITTESTINFO hit = {};
  hit.pt.x = static_cast<short>(LOWORD(position));
  hit.pt.y = static_cast<short>(HIWORD(position));
  ScreenToClient(Tree(), &hit.pt);
  HTREEITEM item = reinterpret_cast<HTREEITEM>(
      SendMessageA(Tree(), TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  return item != NULL && (hit.flags & flags) != 0 ? item : NULL;
}

// ------------------------------------------------------------- check boxes

bool CSelectionTree::Flip(HTREEITEM item) {
  CatalogueEntry* entry = EntryOf(item);
  bool checking = !ItemChecked(item);
  if (checking) {
    if (entry != nullptr && !ConfirmOwnBackups(*entry)) return false;
    // A checked entry is backed up inside the entries around it.
    for (HTREEITEM parent = Related(item, TVGN_PARENT); parent != NULL;
         parent = Related(parent, TVGN_PARENT))
      SetItemChecked(parent, true);
    CheckBelow(item);
  } else {
    // Only the parent: its own parent may still hold other checked entries.
    HTREEITEM parent = Related(item, TVGN_PARENT);
    if (parent != NULL && !OtherChildChecked(parent, item)) SetItemChecked(parent, false);
    UncheckBelow(item);
  }
  return checking;
}

bool CSelectionTree::OtherChildChecked(HTREEITEM parent, HTREEITEM item) const {
  for (HTREEITEM child = Related(parent, TVGN_CHILD); child != NULL; child = Related(child, TVGN_NEXT))
    if (child != item && ItemChecked(child)) return true;
  return false;
}

bool CSelectionTree::ConfirmOwnBackups(const CatalogueEntry& entry) const {
  if (entry.name != kOwnBackups) return true;
  return Ask(m_owner.Handle(), LoadResourceString(IDS_INCLUDE_BACKUPS), kCaption,
             MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CSelectionTree::CheckBelow(HTREEITEM item) {
  for (HTREEITEM child = Related(item, TVGN_CHILD); child != NULL; child = Related(child, TVGN_NEXT)) {
    CatalogueEntry* entry = EntryOf(child);
    // Refused backups stay out, and so does everything inside them.
    if (!ItemChecked(child) && entry != nullptr && !ConfirmOwnBackups(*entry)) continue;
    SetItemChecked(child, true);
    CheckBelow(child);
  }
}

void CSelectionTree::UncheckBelow(HTREEITEM item) {
  for (HTREEITEM child = Related(item, TVGN_CHILD); child != NULL; child = Related(child, TVGN_NEXT)) {
    SetItemChecked(child, false);
    UncheckBelow(child);
  }
}

// ---------------------------------------------------------- notifications

bool CSelectionTree::OnNotify(NMHDR& header, LRESULT& result) {
  if (Tree() == NULL || header.hwndFrom != Tree()) return false;
  switch (header.code) {
    case NM_CLICK:
      return OnClick(result);
    case NM_RCLICK:
      return OnRightClick(result);
    case NM_DBLCLK:
      return OnDoubleClick(result);
    case TVN_KEYDOWN:
      return OnKeyDown(reinterpret_cast<const NMTVKEYDOWN&>(header), result);
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW:
      // Both forms put the item handle in the same place.
      OnSelected(reinterpret_cast<const NMTREEVIEWA&>(header).itemNew.hItem);
      return true;
    default:
      return false;
  }
}

bool CSelectionTree::OnClick(LRESULT& result) {
  HTREEITEM item = HitItem(TVHT_ONITEMSTATEICON);
  if (EntryOf(item) == nullptr) return false;
  SetItemChecked(item, Flip(item));
  // The box is where it must be: the control must not flip it again.
  result = 1;
  return true;
}

bool CSelectionTree::OnKeyDown(const NMTVKEYDOWN& key, LRESULT& result) {
  HTREEITEM selected = Related(NULL, TVGN_CARET);
  CatalogueEntry* entry = EntryOf(selected);
  if (entry == nullptr) return false;
  switch (key.wVKey) {
    case VK_SPACE:
      // The control flips the box itself after this notification and can't
      // be kept from it: the box is left one flip short of its end state.
      SetItemChecked(selected, !Flip(selected));
      result = 1;  // and no incremental search for the space
      return true;
    case VK_INSERT:
      Open(selected);
      return true;
    case VK_DELETE:
      if (EditsCustomItems() && IsCustom(entry) &&
          Ask(m_owner.Handle(), LoadResourceString(IDS_DELETE_CUSTOM), kCaption,
              MB_YESNO | MB_ICONQUESTION) == IDYES)
        DeleteCustomItem(*entry);
      return true;
    default:
      return false;
  }
}

bool CSelectionTree::OnRightClick(LRESULT& result) {
  if (!EditsCustomItems()) return false;
  CatalogueEntry* entry = EntryOf(HitItem(TVHT_ONITEMLABEL));
  int submenu;
  if (entry != nullptr && entry == m_group) {
    submenu = 1;
  } else if (IsCustom(entry)) {
    submenu = 0;
  } else {
    return false;
  }
  m_context = entry;
  CMenuHandle menu(LoadMenuA(ResourceModule(), MAKEINTRESOURCEA(IDM_TREE)));
  HMENU popup = menu ? GetSubMenu(menu.get(), submenu) : NULL;
  if (popup != NULL) {
    SetMenuDefaultItem(popup, 0, TRUE);
    DWORD position = GetMessagePos();
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, static_cast<short>(LOWORD(position)),
                   static_cast<short>(HIWORD(position)), 0, m_owner.Handle(), NULL);
  }
  result = 1;
  return true;
}

bool CSelectionTree::OnDoubleClick(LRESULT& result) {
  if (!Open(HitItem(TVHT_ONITEMLABEL))) return false;
  // Opened: the group must not fold up as well.
  result = 1;
  return true;
}

void CSelectionTree::OnSelected(HTREEITEM item) {
  CatalogueEntry* entry = EntryOf(item);
  m_owner.SetItemText(IDC_ITEM_TEXT, entry != nullptr ? entry->display : std::string());
}

bool CSelectionTree::Open(HTREEITEM item) {
  CatalogueEntry* entry = EntryOf(item);
  if (entry != nullptr && entry == m_group && EditsCustomItems()) {
    AddCustomItem();
    return true;
  }
  if (!IsCustom(entry)) return false;
  EditCustomItem(*entry);
  return true;
}

bool CSelectionTree::OnCommand(int id) {
  switch (id) {
    case IDM_ADD_ITEM:
      if (EditsCustomItems() && m_group != nullptr) AddCustomItem();
      return true;
    case IDM_EDIT_ITEM:
      if (IsCustom(m_context)) EditCustomItem(*m_context);
      return true;
    case IDM_DELETE_ITEM:
      if (EditsCustomItems() && IsCustom(m_context)) DeleteCustomItem(*m_context);
      return true;
    case IDM_DELETE_ALL:
      if (EditsCustomItems() && m_group != nullptr &&
          Ask(m_owner.Handle(), LoadResourceString(IDS_DELETE_ALL_CUSTOM), kCaption,
              MB_YESNO | MB_ICONQUESTION) == IDYES)
        RemoveAllCustomItems();
      return true;
    default:
      return false;
  }
}

// ------------------------------------------------------------ custom items

void CSelectionTree::AddCustomItem() {
  auto entry = std::make_unique<CatalogueEntry>();
  entry->parent = m_group;
  for (;;) {
    CCustomItem dialog(*entry, false, false);
    if (dialog.Run(m_owner.Handle()) != IDOK) return;
    if (NameIsFree(entry->name, nullptr)) break;
    Ask(m_owner.Handle(), LoadResourceString(IDS_DUPLICATE_NAME), kCaption, MB_OK | MB_ICONSTOP);
  }
  CatalogueEntry& added = m_catalogue->AppendEntry(std::move(entry));
  HTREEITEM group = ItemOf(*m_group);
  HTREEITEM item = Insert(added, group != NULL ? group : TVI_ROOT);
  if (item != NULL) SetItemChecked(item, true);
  if (group != NULL) {
    SetItemChecked(group, true);
    SendMessageA(Tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(group));
  }
}

void CSelectionTree::EditCustomItem(CatalogueEntry& entry) {
  // The dialog works on a copy: a name refused and then cancelled must
  // leave the item as it was.
  CatalogueEntry edited = entry;
  for (;;) {
    CCustomItem dialog(edited, m_operation == WizardOperation::Restore, EditsCustomItems());
    INT_PTR answer = dialog.Run(m_owner.Handle());
    if (answer == IDC_ITEM_DELETE) {
      DeleteCustomItem(entry);
      return;
    }
    if (answer != IDOK) return;
    // A set's item may already share its name, which can't change there.
    if (edited.name == entry.name || NameIsFree(edited.name, &entry)) break;
    Ask(m_owner.Handle(), LoadResourceString(IDS_DUPLICATE_NAME), kCaption, MB_OK | MB_ICONSTOP);
  }
  entry.name = edited.name;
  entry.display = edited.display;
  entry.items = edited.items;
  TVITEMA info = {};
  info.mask = TVIF_TEXT;
  info.hItem = ItemOf(entry);
  info.pszText = const_cast<char*>(entry.name.c_str());
  SendMessageA(Tree(), TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&info));
  m_owner.SetItemText(IDC_ITEM_TEXT, entry.display);
}

void CSelectionTree::RemoveCustomItem(CatalogueEntry& entry) {
  if (m_context == &entry) m_context = nullptr;
  HTREEITEM item = ItemOf(entry);
  m_items.erase(&entry);
  if (item != NULL) SendMessageA(Tree(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item));
  m_catalogue->RemoveEntry(entry);
}

void CSelectionTree::DeleteCustomItem(CatalogueEntry& entry) {
  HTREEITEM parent = Related(ItemOf(entry), TVGN_PARENT);
  RemoveCustomItem(entry);
  if (parent != NULL)
    SendMessageA(Tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(parent));
}

void CSelectionTree::RemoveAllCustomItems() {
  std::vector<CatalogueEntry*> custom;
  for (const auto& entry : m_catalogue->Entries())
    if (IsCustom(entry.get())) custom.push_back(entry.get());
  for (CatalogueEntry* entry : custom) RemoveCustomItem(*entry);
}

bool CSelectionTree::NameIsFree(const std::string& name, const CatalogueEntry* except) const {
  for (const auto& entry : m_catalogue->Entries())
    if (entry.get() != except && entry->name == name) return false;
  return true;
}
