#include "app/ConsoleRuns.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/ConsoleRunCallback.h"
#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/Settings.h"
#include "base/SystemPaths.h"
#include "base/TempFile.h"
#include "base/Text.h"
#include "base/Win32Handle.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueEntry.h"
#include "engine/Engine.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "system/ItemSelection.h"
#include "system/RunningPrograms.h"

namespace {

const char kCatalogueFile[] = "backup.xml";
// A new archive written beside an existing one until it is complete.
const char kArchivePrefix[] = "QMZ";

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
  folder = WithBackslashes(folder);
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

// A folder of the run's own inside the temporary folder, for the settings
// and registry files of a packed set.
std::optional<std::string> MakeWorkingFolder() {
  std::string base = TemporaryFolder();
  if (base.empty()) return std::nullopt;
  if (base.back() != '\\') base += '\\';
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::string folder = base + "QMRestore-" + std::to_string(GetCurrentProcessId()) + "-" +
                         std::to_string(GetTickCount() + attempt) + "\\";
    if (CreateDirectoryA(folder.c_str(), NULL)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

// An archive already in the folder stays whole until the new one is: the
// new one is written under a temporary name beside it, which `beside` owns.
std::optional<std::string> ArchiveBuildPath(const std::string& folder, CTempFile& beside) {
  std::string archive = folder + kArchiveFile;
  if (GetFileAttributesA(archive.c_str()) == INVALID_FILE_ATTRIBUTES) return archive;
  if (!beside.Create(folder, kArchivePrefix)) return std::nullopt;
  return beside.Path();
}

// Puts the complete new archive in the old one's place.
bool PutArchiveInPlace(const std::string& built, const std::string& folder) {
  std::string archive = folder + kArchiveFile;
  if (built == archive) return true;
  SetFileAttributesA(archive.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (MoveFileExA(built.c_str(), archive.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  PrintMessage(kCreateArchive + SystemMessage(GetLastError()) + "\n");
  return false;
}

RunOutcome Outcome(bool succeeded) {
  if (!succeeded) return RunOutcome::Failed;
  return ItemErrorCount() > 0 ? RunOutcome::Incomplete : RunOutcome::Succeeded;
}

}  // namespace

RunOutcome RunConsoleBackup(const std::string& path, bool compress, int level, bool passwordGiven,
                            const std::string& password) {
  ResetItemErrors();
  CConsoleRunCallback front;
  CDiskObject disk(true, &front);
  disk.SetStopRequest(front.Stop());
  Catalogue catalogue(CDiskObject::JoinPath(StartDirectory(), kCatalogueFile));
  if (!catalogue.Evaluate()) {
    PrintMessage(kOpenBackupSettings);
    return RunOutcome::Failed;
  }
  AddCustomEntries(catalogue);
  PrepareEntries(catalogue);
  for (const auto& entry : catalogue.Entries())
    if (entry->valid && LoadItemSelection(*entry)) SelectEntry(*entry);

  CheckRunningPrograms(catalogue);

  std::string folder = NormaliseFolder(path);
  CTempFile beside;  // outlives the writer, which must close the file first
  ArchiveWriter archive(&front);
  archive.SetStopRequest(front.Stop());
  std::optional<std::vector<std::string>> namesBefore;
  if (IsFolder(folder)) {
    if (Ask(NULL, kFolderExists, kCaption, MB_YESNO) != IDYES) return RunOutcome::Failed;
    namesBefore = NamesIn(folder);
  }

  if (!disk.CreateFolderTree(folder) ||
      !disk.CreateFolderTree(folder + kRegistryFolder + "\\")) {
    Ask(NULL, kCreateFolder + disk.GetErrorText(), kCaption, MB_OK | MB_ICONSTOP);
    return RunOutcome::Failed;
  }
  std::string built;
  if (compress) {
    std::optional<std::string> secret;
    if (passwordGiven) secret = password;
    std::optional<std::string> buildPath = ArchiveBuildPath(folder, beside);
    if (!buildPath || !archive.Open(*buildPath, folder, false, secret, level)) {
      PrintMessage(kCreateArchive +
                   (buildPath ? archive.GetErrorText() : SystemMessage(GetLastError())) + "\n");
      RemoveFailedSet(disk, folder, namesBefore);
      return RunOutcome::Failed;
    }
    built = *buildPath;
  }

  bool succeeded = RunBackup(disk, archive, compress, folder, catalogue, front, true);
  if (compress) {
    // An archive without its directory can't be read back: the set is lost.
    if (!archive.Close()) {
      PrintMessage(kCreateArchive + archive.GetErrorText() + "\n");
      succeeded = false;
    }
    disk.RemoveFolderTree(folder + kRegistryFolder + "\\");
  }
  succeeded = succeeded && !front.ShouldStop();
  if (succeeded && compress) succeeded = PutArchiveInPlace(built, folder);
  if (succeeded) beside.Keep();
  if (!succeeded) RemoveFailedSet(disk, folder, namesBefore);
  return Outcome(succeeded);
}

namespace {

// The set's settings (unpacked first from a packed set into the working
// folder), evaluated on this computer, then restored.
bool RestoreSet(CConsoleRunCallback& front, CDiskObject& disk, ArchiveReader& archive,
                bool packed, const std::string& setFolder) {
  if (packed) {
    if (!archive.UnpackFile(kRestoreSettingsFile, setFolder + kRestoreSettingsFile)) {
      PrintMessage(kUnpackSettings);
      return false;
    }
    if (!archive.UnpackFolder(std::string(kRegistryFolder) + "\\",
                              setFolder + kRegistryFolder + "\\")) {
      PrintMessage(kUnpackRegistry);
      return false;
    }
  }
  Catalogue catalogue(CDiskObject::JoinPath(setFolder, kRestoreSettingsFile));
  if (!catalogue.Evaluate()) {
    PrintMessage(kOpenRestoreSettings);
    return false;
  }
  std::string missing = PrepareEntries(catalogue);
  for (const auto& entry : catalogue.Entries())
    if (entry->valid) entry->selected = true;
  if (!missing.empty()) Ask(NULL, kNotFound + missing, kCaption, MB_OK | MB_ICONWARNING);

  CheckRunningPrograms(catalogue);
  return RunRestore(disk, archive, packed, setFolder, catalogue, front) && !front.ShouldStop();
}

}  // namespace

RunOutcome RunConsoleRestore(const std::string& path, const std::string& password) {
  ResetItemErrors();
  CConsoleRunCallback front(password);
  CDiskObject disk(true, &front);
  disk.SetStopRequest(front.Stop());
  ArchiveReader archive(&front);
  archive.SetStopRequest(front.Stop());

  std::string folder = NormaliseFolder(path);
  bool packed = !disk.FileExists(folder + kRestoreSettingsFile);
  if (!packed) return Outcome(RestoreSet(front, disk, archive, false, folder));

  if (!archive.Open(folder + kArchiveFile, false)) {
    PrintMessage(kInvalidRestoreFolder);
    return RunOutcome::Failed;
  }
  std::optional<std::string> working = MakeWorkingFolder();
  if (!working) {
    WriteLog("Error: couldn't create a working folder in the temporary folder!");
    PrintMessage(kUnpackSettings);
    return RunOutcome::Failed;
  }
  bool succeeded = RestoreSet(front, disk, archive, true, *working);
  archive.Close();
  // Only the run's own working folder goes; nothing else in the temporary
  // folder is touched.
  disk.SetCancelled(false);
  disk.RemoveFolderTree(*working);
  return Outcome(succeeded);
}
