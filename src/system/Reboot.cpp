#include "system/Reboot.h"

#include <windows.h>

#include "base/Flags.h"
#include "base/Win32Handle.h"
#include "catalogue/Registry.h"

namespace {

const char kWindows95Family[] = "9598ME";

// The 8.3 form of an existing path; empty when there is none or it doesn't
// fit the 259 characters the 95 family's WININIT.INI entries allow.
std::string ShortPath(const std::string& path) {
  char buffer[260];
  DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

std::string WindowsFolder() {
  char buffer[MAX_PATH];
  UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

}  // namespace

namespace {

bool ArrangeReplacement(const std::string& source, const std::string& target) {
  if (IsWindowsVersion(kWindows95Family)) {
    std::string shortSource = ShortPath(source);
    std::string shortTarget = ShortPath(target);
    std::string windows = WindowsFolder();
    if (shortSource.empty() || shortTarget.empty() || windows.empty()) return false;
    return WritePrivateProfileStringA("rename", shortTarget.c_str(), shortSource.c_str(),
                                      (windows + "\\WININIT.INI").c_str()) != FALSE;
  }
  // One request that renames the copy over the old file: two requests (a
  // delete, then a rename) could leave the delete alone when the second
  // one fails, and the restart would then remove the file.
  return MoveFileExA(source.c_str(), target.c_str(),
                     MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

bool ReplaceOnReboot(const std::string& source, const std::string& target) {
  // Only an arranged replacement needs the restart.
  if (!ArrangeReplacement(source, target)) return false;
  SetRebootNeeded(true);
  return true;
}

bool Reboot() {
  if (IsWindowsVersion(kWindows95Family)) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process = {};
    char command[] = "RUNDLL.exe USER.EXE,ExitWindowsExec";
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
      return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  }
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return false;
  CHandle owned(token);
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueA(NULL, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
    return false;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
  if (GetLastError() != ERROR_SUCCESS) return false;
  return ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0) != FALSE;
}
