// The wizard's tree of what a backup or restore takes: one check box per
// entry of the catalogue that exists on this computer, the rules that keep
// a checked entry's ancestors checked, and the custom items a user adds
// under "Custom files and folders".
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <map>
#include <string>

#include "wizard/WizardOperation.h"

class CDialog;
class CDiskObject;
class Catalogue;
struct CatalogueEntry;

class CSelectionTree {
 public:
  // The tree control IDC_TREE and the description text IDC_ITEM_TEXT of `owner`.
  explicit CSelectionTree(CDialog& owner);
  CSelectionTree(const CSelectionTree&) = delete;
  CSelectionTree& operator=(const CSelectionTree&) = delete;

  void SetOperation(WizardOperation operation) { m_operation = operation; }
  // Evaluates the document at `path` into `catalogue` and fills the tree.
  // False when it can't be loaded (entries destroyed, tree empty).
  bool Load(Catalogue& catalogue, const std::string& path);
  // Empties the tree and forgets the catalogue.
  void Clear();
  bool IsChecked(const CatalogueEntry& entry) const;
  // NULL when the entry is not in the tree.
  HTREEITEM ItemOf(const CatalogueEntry& entry) const;
  // Every valid entry's selected flag becomes its check state (the others
  // are not selected); returns how many valid entries are selected.
  int MarkSelected();
  // Saves every valid entry's check state and, for a backup or schedule,
  // rewrites the custom items' key.
  void SaveChoices();

  // Handlers the owner forwards; true when handled.
  bool OnNotify(NMHDR& header, LRESULT& result);  // from the tree control
  bool OnCommand(int id);                          // the context menus' commands

 private:
  HWND Tree() const;
  bool EditsCustomItems() const;
  void ShowCheckBoxes();
  HTREEITEM Insert(CatalogueEntry& entry, HTREEITEM parent);

  CatalogueEntry* EntryOf(HTREEITEM item) const;
  bool IsCustom(const CatalogueEntry* entry) const;
  bool ItemChecked(HTREEITEM item) const;
  void SetItemChecked(HTREEITEM item, bool checked) const;
  HTREEITEM Related(HTREEITEM item, UINT relation) const;
  // The item under the point of the message being handled, when the point
  // is on one of the `flags` parts of it.
  HTREEITEM HitItem(UINT flags) const;

  // The check box rules for a flip of the item's box; the state the box
  // must end in.
  bool Flip(HTREEITEM item);
  bool OtherChildChecked(HTREEITEM parent, HTREEITEM item) const;
  bool ConfirmOwnBackups(const CatalogueEntry& entry) const;
  void CheckBelow(HTREEITEM item);
  void UncheckBelow(HTREEITEM item);

  bool OnClick(LRESULT& result);
  bool OnKeyDown(const NMTVKEYDOWN& key, LRESULT& result);
  bool OnRightClick(LRESULT& result);
  bool OnDoubleClick(LRESULT& result);
  void OnSelected(HTREEITEM item);
  // The double click and Insert: a new item on the group, else the item's properties.
  bool Open(HTREEITEM item);

  void AddCustomItem();
  void EditCustomItem(CatalogueEntry& entry);
  void RemoveCustomItem(CatalogueEntry& entry);
  // Removes it and selects its group.
  void DeleteCustomItem(CatalogueEntry& entry);
  void RemoveAllCustomItems();
  // Whether a custom item may take `name`: no other entry has it.
  bool NameIsFree(const std::string& name, const CatalogueEntry* except) const;

  CDialog& m_owner;
  WizardOperation m_operation = WizardOperation::None;
  Catalogue* m_catalogue = nullptr;
  // The group the custom items are listed under, and the tree item of every
  // entry shown.
  CatalogueEntry* m_group = nullptr;
  std::map<const CatalogueEntry*, HTREEITEM> m_items;
  // The item the context menu was opened on.
  CatalogueEntry* m_context = nullptr;
  // The tree window that was given its check boxes.
  HWND m_checkBoxesOn = NULL;
};

// Bytes the selected valid entries would take.
std::uint64_t SelectionSize(const Catalogue& catalogue, CDiskObject& disk);
