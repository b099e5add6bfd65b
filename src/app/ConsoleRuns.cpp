#include "app/ConsoleRuns.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "app/Flags.h"
#include "app/Interaction.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueEntry.h"
#include "engine/Engine.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "system/ItemSelection.h"
#include "system/RunningPrograms.h"
#include "system/Win32Handle.h"

namespace {

const char kCaption[] = "Quillmark";
const char kCatalogueFile[] = "backup.xml";
const char kSettingsFile[] = "restore.xml";
const char kArchiveFile[] = "restore.zip";
const char kRegistryFolder[] = "Registry";

const char kOpenBackupSettings[] = "Fatal error: failed to open backup settings!";
const char kFolderExists[] =
    "The specified directory already exists. Files may be overwrriten. Continue?";
const char kCreateFolder[] = "Fatal error: failed to create directory!\n";
const char kCreateArchive[] = "Couldn't create backup archive: ";
const char kInvalidRestoreFolder[] = "Fatal error: invalid restore directory!";
const char kUnpackSettings[] =
    "Fatal error: couldn't uncompress restore settings! (Maybe invalid password?)";
const char kUnpackRegistry[] = "Fatal error: couldn't uncompress registry settings!";
const char kOpenRestoreSettings[] = "Fatal error: failed to open restore settings!";
const char kNotFound[] =
    "The following applications were not found on this computer and will not be restored:\r\n";

// Every "/" becomes "\" and the path ends with "\".
std::string NormaliseFolder(std::string folder) {
  std::replace(folder.begin(), folder.end(), '/', '\\');
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The names directly inside a folder.
std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  CFind find(folder + "*");
  if (!find.Valid()) return names;
  do {
    std::string name = find.Name();
    if (name != "." && name != "..") names.push_back(name);
  } while (find.Next());
  return names;
}

// Removes what a failed backup wrote into its folder. A folder the run
// made goes whole; in a folder that was there before only the names the
// run added go, so the user's own files stay.
void RemoveFailedSet(CDiskObject& disk, const std::string& folder,
                     const std::optional<std::vector<std::string>>& namesBefore) {
  disk.SetCancelled(false);  // an Abort must not stop the clean-up
  if (!namesBefore) {
    disk.RemoveFolderTree(folder);
    return;
  }
  for (const std::string& name : NamesIn(folder)) {
    if (std::find(namesBefore->begin(), namesBefore->end(), name) != namesBefore->end()) continue;
    std::string path = folder + name;
    if (IsFolder(path))
      disk.RemoveFolderTree(path + "\\");
    else
      disk.RemoveFile(path);
  }
}

bool AskBeforeOverwriting(const std::string& path, OverwriteAnswer& answer, void*) {
  return AskOverwrite(path, answer);
}

bool PasswordSource(const std::string&, std::string& password, void* data) {
  password = *static_cast<const std::string*>(data);
  return true;
}

// A folder of the run's own inside the temporary folder, for the settings
// and registry files of a packed set.
std::optional<std::string> MakeWorkingFolder() {
  char temp[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof temp, temp);
  if (length == 0 || length >= sizeof temp) return std::nullopt;
  std::string base(temp, length);
  if (base.back() != '\\') base += '\\';
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string folder = base + "QMRestore-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(GetTickCount() + attempt) + "\\";
    if (CreateDirectoryA(folder.c_str(), NULL)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

void RunConsoleBackup(const std::string& path, bool compress, int level, bool passwordGiven,
                      const std::string& password) {
  CDiskObject disk(true, NULL);
  Catalogue catalogue(CDiskObject::JoinPath(StartDirectory(), kCatalogueFile));
  if (!catalogue.Evaluate()) {
    PrintMessage(kOpenBackupSettings);
    return;
  }
  AddCustomEntries(catalogue);
  PrepareEntries(catalogue);
  for (const auto& entry : catalogue.Entries())
    if (entry->valid && LoadItemSelection(*entry)) SelectEntry(*entry);

  CheckRunningPrograms(catalogue);

  std::string folder = NormaliseFolder(path);
  ArchiveWriter archive;
  std::optional<std::vector<std::string>> namesBefore;
  if (IsFolder(folder)) {
    if (Ask(NULL, kFolderExists, kCaption, MB_YESNO) != IDYES) return;
    namesBefore = NamesIn(folder);
  }

  if (!disk.CreateFolderTree(folder) ||
      !disk.CreateFolderTree(folder + kRegistryFolder + "\\")) {
    Ask(NULL, kCreateFolder + disk.GetErrorText(), kCaption, MB_OK | MB_ICONSTOP);
    return;
  }
  if (compress) {
    std::optional<std::string> secret;
    if (passwordGiven) secret = password;
    if (!archive.Open(folder + kArchiveFile, folder, false, secret, level)) {
      PrintMessage(kCreateArchive + archive.GetErrorText() + "\n");
      return;
    }
  }

  PackCancel = false;
  std::atomic<bool> stop{false};
  bool succeeded = RunBackup(disk, archive, compress, folder, stop, catalogue, NULL, NULL, NULL,
                             NULL, true);
  if (compress) {
    // An archive without its directory can't be read back: the set is lost.
    if (!archive.Close()) {
      PrintMessage(kCreateArchive + archive.GetErrorText() + "\n");
      succeeded = false;
    }
    disk.RemoveFolderTree(folder + kRegistryFolder + "\\");
  }
  if (!succeeded || disk.Cancelled() || PackCancel) RemoveFailedSet(disk, folder, namesBefore);
}

void RunConsoleRestore(const std::string& path, const std::string& password) {
  CDiskObject disk(true, NULL);
  disk.SetOverwriteQuestion(&AskBeforeOverwriting, nullptr);
  ArchiveReader archive;
  archive.SetOverwriteQuestion(&AskBeforeOverwriting, nullptr);
  archive.SetPasswordQuestion(&PasswordSource, const_cast<std::string*>(&password));

  std::string folder = NormaliseFolder(path);
  Catalogue catalogue;
  bool packed = !disk.FileExists(folder + kSettingsFile);
  std::string setFolder = folder;
  std::optional<std::string> working;

  if (packed) {
    if (!archive.Open(folder + kArchiveFile, false)) {
      PrintMessage(kInvalidRestoreFolder);
      return;
    }
    working = MakeWorkingFolder();
    if (!working) {
      WriteLog("Error: couldn't create a working folder in the temporary folder!");
      PrintMessage(kUnpackSettings);
      return;
    }
    setFolder = *working;
  }

  auto run = [&]() {
    if (packed) {
      if (!archive.UnpackFile(kSettingsFile, setFolder + kSettingsFile)) {
        PrintMessage(kUnpackSettings);
        return;
      }
      if (!archive.UnpackFolder(std::string(kRegistryFolder) + "\\",
                                setFolder + kRegistryFolder + "\\")) {
        PrintMessage(kUnpackRegistry);
        return;
      }
    }
    catalogue.SetPath(CDiskObject::JoinPath(setFolder, kSettingsFile));
    if (!catalogue.Evaluate()) {
      PrintMessage(kOpenRestoreSettings);
      return;
    }
    std::string missing = PrepareEntries(catalogue);
    for (const auto& entry : catalogue.Entries())
      if (entry->valid) entry->selected = true;
    if (!missing.empty()) Ask(NULL, kNotFound + missing, kCaption, MB_OK | MB_ICONWARNING);

    CheckRunningPrograms(catalogue);
    UnpackCancel = false;
    std::atomic<bool> stop{false};
    RunRestore(disk, archive, packed, setFolder, stop, catalogue, NULL, NULL, NULL);
  };
  run();

  if (packed) {
    archive.Close();
    // Only the run's own working folder goes; nothing else in the
    // temporary folder is touched.
    disk.SetCancelled(false);
    disk.RemoveFolderTree(*working);
  }
}
