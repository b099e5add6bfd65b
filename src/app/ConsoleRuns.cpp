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
#include "catalogue/Registry.h"
#include "engine/BackupSet.h"
#include "engine/Engine.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "system/ItemSelection.h"
#include "system/RunningPrograms.h"

namespace {

const char kCatalogueFile[] = "backup.xml";

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
  CRegistryValueReader saved;
  for (const auto& entry : catalogue.Entries())
    if (entry->valid && LoadItemSelection(*entry, saved)) SelectEntry(*entry);

  CheckRunningPrograms(catalogue);

  std::string folder = NormaliseSetFolder(path);
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
    bool opened = buildPath && archive.Open(*buildPath, folder, false, secret, level);
    // The archive keeps its own copy for as long as it writes.
    if (secret) WipeText(*secret);
    if (!opened) {
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
  if (succeeded && compress) {
    std::string error;
    succeeded = PutArchiveInPlace(built, folder, error);
    if (!succeeded) PrintMessage(kCreateArchive + error + "\n");
  }
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

  std::string folder = NormaliseSetFolder(path);
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
