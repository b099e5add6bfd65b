// What the catalogue's evaluation asks of the computer it runs on, and
// nothing else: the conditions, the foreach subkeys, the registry values of
// variables, the special folders of "($Name)" and the sub-folders an entry
// expands into. The evaluation reaches the computer only through this, so it
// reads and decides the same way whatever answers. Portable: no Windows
// header.
#pragma once

#include <optional>
#include <string>
#include <vector>

class CatalogueSystem {
 public:
  virtual ~CatalogueSystem() = default;

  // Registry locations are one text each, as ReadRegistryValue and the
  // others in Registry.h take them, with the same limits and answers.
  virtual std::optional<std::string> ReadValue(const std::string& path) = 0;
  virtual bool KeyExists(const std::string& path) = 0;
  // The last path component is dropped; the subkey at `index` of the rest.
  virtual std::optional<std::string> Subkey(const std::string& path, unsigned index) = 0;
  // True if the running Windows is named in `list` ("95", "XP", ...).
  virtual bool IsWindowsVersion(const std::string& list) = 0;
  // The folder of a special folder name ("AppData", ...; letter case
  // ignored), created if missing; nothing for an unknown name.
  virtual std::optional<std::string> SpecialFolder(const std::string& name) = 0;
  // The names of the folders directly inside `folder` ("." and ".." left
  // out), in the order the file system gives them; nothing when the folder
  // can't be listed.
  virtual std::optional<std::vector<std::string>> SubFolders(const std::string& folder) = 0;
  // A log entry, whenever the log is open.
  virtual void Log(const std::string& text) = 0;
};

// The computer the evaluation asks: this one, in the program.
CatalogueSystem& CurrentCatalogueSystem();
