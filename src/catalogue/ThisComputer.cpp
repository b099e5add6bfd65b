// The catalogue's questions answered by this computer: its registry, its
// shell's special folders and its file system.
#include "catalogue/CatalogueSystem.h"

#include <windows.h>
#include <shlobj.h>

#include "base/Interaction.h"
#include "base/LocaleText.h"
#include "base/Win32Handle.h"
#include "catalogue/PathVariables.h"
#include "catalogue/Registry.h"

namespace {

struct SpecialFolder {
  const char* name;
  int csidl;
};

const SpecialFolder kSpecialFolders[] = {
    {"Desktop", CSIDL_DESKTOPDIRECTORY},
    {"Favorites", CSIDL_FAVORITES},
    {"Cookies", CSIDL_COOKIES},
    {"Fonts", CSIDL_FONTS},
    {"History", CSIDL_HISTORY},
    {"InternetCache", CSIDL_INTERNET_CACHE},
    {"LocalAppData", CSIDL_LOCAL_APPDATA},
    {"AppData", CSIDL_APPDATA},
    {"MyDocuments", CSIDL_PERSONAL},
    {"Profile", CSIDL_PROFILE},
    {"ProgramFiles", CSIDL_PROGRAM_FILES},
    {"ComProgramFiles", CSIDL_PROGRAM_FILES_COMMON},
    {"Programs", CSIDL_PROGRAMS},
    {"SendTo", CSIDL_SENDTO},
    {"StartMenu", CSIDL_STARTMENU},
    {"Startup", CSIDL_STARTUP},
    {"System", CSIDL_SYSTEM},
    {"Templates", CSIDL_TEMPLATES},
    {"Windows", CSIDL_WINDOWS},
    {"ComAltStartup", CSIDL_COMMON_ALTSTARTUP},
    {"ComDesktop", CSIDL_COMMON_DESKTOPDIRECTORY},
    {"ComFavorites", CSIDL_COMMON_FAVORITES},
    {"ComPrograms", CSIDL_COMMON_PROGRAMS},
    {"ComStartMenu", CSIDL_COMMON_STARTMENU},
    {"ComStartup", CSIDL_COMMON_STARTUP},
    {"ComAppData", CSIDL_COMMON_APPDATA},
};

std::string FolderPattern(const std::string& folder) {
  return folder + (!folder.empty() && folder.back() == '\\' ? "*" : "\\*");
}

class CThisComputer : public CatalogueSystem {
 public:
  std::optional<std::string> ReadValue(const std::string& path) override {
    return ReadRegistryValue(path);
  }
  bool KeyExists(const std::string& path) override { return RegistryKeyExists(path); }
  std::optional<std::string> Subkey(const std::string& path, unsigned index) override {
    return EnumRegistrySubkey(path, index);
  }
  bool IsWindowsVersion(const std::string& list) override { return ::IsWindowsVersion(list); }
  std::optional<std::string> SpecialFolder(const std::string& name) override {
    return GetSpecialFolder(name);
  }
  std::optional<std::vector<std::string>> SubFolders(const std::string& folder) override;
  void Log(const std::string& text) override { WriteLog(text); }
};

std::optional<std::vector<std::string>> CThisComputer::SubFolders(const std::string& folder) {
  CFind find(FolderPattern(folder));
  if (!find.Valid()) return std::nullopt;
  std::vector<std::string> names;
  do {
    std::string name = find.Name();
    if (find.IsFolder() && name != "." && name != "..") names.push_back(name);
  } while (find.Next());
  return names;
}

}  // namespace

std::optional<std::string> GetSpecialFolder(const std::string& name) {
  FolderPathFunction folderPath = GetFolderPathFunction();
  if (folderPath == nullptr) return std::nullopt;
  for (const SpecialFolder& folder : kSpecialFolders) {
    if (!SameText(name, folder.name)) continue;
    char path[MAX_PATH + 1] = "";
    if (FAILED(folderPath(NULL, folder.csidl | CSIDL_FLAG_CREATE, NULL, SHGFP_TYPE_CURRENT, path)))
      return std::nullopt;
    return std::string(path);
  }
  return std::nullopt;
}

CatalogueSystem& CurrentCatalogueSystem() {
  static CThisComputer computer;
  return computer;
}
