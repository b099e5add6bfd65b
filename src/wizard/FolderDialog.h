// Stand-in until the folder dialog lands.
#pragma once
#include <windows.h>
#include <string>
class CFolderDialog {
 public:
  CFolderDialog(const std::string& title, const std::string& initialFolder, UINT flags)
      : title(title), initialFolder(initialFolder), flags(flags) {}
  INT_PTR Run(HWND owner);
  std::string title, initialFolder;
  UINT flags;
  std::string path, displayName;
};
