// The properties of one custom item: a file or folder the user added to a
// backup by hand, with the name it is listed under.
#pragma once

#include <windows.h>

#include <string>

#include "wizard/Dialog.h"

struct CatalogueEntry;

class CCustomItem : public CModalDialog {
 public:
  // `restoreMode`: the item of a backup set, which may only be pointed at
  // another place of the same kind.
  CCustomItem(CatalogueEntry& entry, bool restoreMode, bool showDelete);
  // IDOK (the entry holds the new name and path), IDCANCEL or IDC_ITEM_DELETE.
  INT_PTR Run(HWND parent);

 protected:
  bool OnInit() override;
  bool OnCommand(int code, int id, HWND control) override;
  void OnOK() override;

 private:
  void ChooseFile();
  void ChooseFolder();
  // A chosen place: the path, and the name too while none is given.
  void TakePlace(const std::string& path, const std::string& name);

  CatalogueEntry& m_entry;
  bool m_restoreMode;
  bool m_showDelete;
  // What the item holds before its ";" (where a backup stored it): a new
  // path must not lose it.
  std::string m_kept;
};
