#include "wizard/FolderDialog.h"

#include <shlobj.h>

#include <memory>

#include "base/ComHandle.h"
#include "wizard/Dialog.h"

namespace {

// The last element of a folder path, for a stand-in that gives only paths.
std::string LastElement(std::string path) {
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

INT_PTR CFolderDialog::Run(HWND owner) {
  if (DialogSink() == nullptr) return RunShell(owner);
  std::optional<std::string> chosen = DialogSink()->ChooseFolder(title, path);
  if (!chosen) return IDCANCEL;
  path = *chosen;
  displayName = LastElement(path);
  return IDOK;
}

INT_PTR CFolderDialog::RunShell(HWND owner) {
  // The newer dialog style, with its edit box, needs COM on this thread.
  CComSession com;
  char name[MAX_PATH] = "";
  BROWSEINFOA info = {};
  info.hwndOwner = owner;
  info.pszDisplayName = name;
  info.lpszTitle = title.c_str();
  info.ulFlags = flags;
  info.lpfn = &CFolderDialog::Callback;
  info.lParam = reinterpret_cast<LPARAM>(this);
  std::unique_ptr<ITEMIDLIST, CShellFree> chosen(SHBrowseForFolderA(&info));
  if (!chosen) return IDCANCEL;
  char folder[MAX_PATH] = "";
  if (!SHGetPathFromIDListA(chosen.get(), folder)) return IDCANCEL;
  path = folder;
  displayName = name;
  return IDOK;
}

int CALLBACK CFolderDialog::Callback(HWND window, UINT message, LPARAM, LPARAM data) {
  const CFolderDialog* dialog = reinterpret_cast<const CFolderDialog*>(data);
  if (message == BFFM_INITIALIZED && !dialog->path.empty()) {
    SendMessageA(window, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(dialog->path.c_str()));
  } else if (message == BFFM_VALIDATEFAILEDA) {
    // A typed name that is no folder: keep the browser open.
    MessageBeep(MB_ICONHAND);
    return 1;
  }
  return 0;
}

std::optional<std::string> BrowseForFolder(HWND owner, const std::string& title,
                                           const std::string& initial, UINT flags,
                                           std::string* displayName) {
  CFolderDialog dialog;
  dialog.title = title;
  dialog.path = initial;
  dialog.flags = flags;
  if (dialog.Run(owner) != IDOK) return std::nullopt;
  if (displayName != nullptr) *displayName = dialog.displayName;
  return dialog.path;
}
