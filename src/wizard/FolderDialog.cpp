#include "wizard/FolderDialog.h"
#include "wizard/Dialog.h"
INT_PTR CFolderDialog::Run(HWND) {
  if (DialogSink() == nullptr) return IDCANCEL;
  auto chosen = DialogSink()->ChooseFolder(title, initialFolder);
  if (!chosen) return IDCANCEL;
  path = *chosen;
  return IDOK;
}
