// The shell's folder browser, or the dialog sink's stand-in when one is set.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

class CFolderDialog {
 public:
  std::string title;
  // In: the folder to show first (may be empty). Out: the chosen folder.
  std::string path;
  // Out: the chosen folder's name as the shell shows it.
  std::string displayName;
  UINT flags = 0;  // BIF_...

  // IDOK when a folder was chosen, IDCANCEL otherwise.
  INT_PTR Run(HWND owner);

 private:
  static int CALLBACK Callback(HWND window, UINT message, LPARAM lParam, LPARAM data);
  INT_PTR RunShell(HWND owner);
};

// The chosen folder, or nothing for Cancel; `displayName` (optional) takes
// its shown name.
std::optional<std::string> BrowseForFolder(HWND owner, const std::string& title,
                                           const std::string& initial, UINT flags,
                                           std::string* displayName);
