// Stand-in until the selection tree lands.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <cstdint>
#include <string>
#include "wizard/Dialog.h"
#include "wizard/WizardOperation.h"
class Catalogue;
struct CatalogueEntry;
class CDiskObject;
class CSelectionTree {
 public:
  explicit CSelectionTree(CDialog& owner);
  void SetOperation(WizardOperation operation);
  bool Load(Catalogue& catalogue, const std::string& path);
  void Clear();
  bool IsChecked(const CatalogueEntry& entry) const;
  HTREEITEM ItemOf(const CatalogueEntry& entry) const;
  int MarkSelected();
  void SaveChoices();
  bool OnNotify(NMHDR& header, LRESULT& result);
  bool OnCommand(int id);
 private:
  CDialog& m_owner;
  Catalogue* m_catalogue = nullptr;
};
std::uint64_t SelectionSize(const Catalogue& catalogue, CDiskObject& disk);
