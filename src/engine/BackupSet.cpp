#include "engine/BackupSet.h"

#include <windows.h>

#include <algorithm>

#include "base/FileReplace.h"
#include "base/Interaction.h"
#include "base/Settings.h"
#include "base/SystemPaths.h"
#include "base/TempFile.h"
#include "base/Text.h"
#include "base/Win32Handle.h"
#include "storage/DiskObject.h"

namespace {

// A new archive written beside an existing one until it is complete.
const char kArchivePrefix[] = "QMZ";

}  // namespace

std::string NormaliseSetFolder(std::string folder) {
  folder = WithBackslashes(folder);
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

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

std::optional<std::string> ArchiveBuildPath(const std::string& folder, CTempFile& beside) {
  std::string archive = folder + kArchiveFile;
  if (GetFileAttributesA(archive.c_str()) == INVALID_FILE_ATTRIBUTES) return archive;
  if (!beside.Create(folder, kArchivePrefix)) return std::nullopt;
  return beside.Path();
}

bool PutArchiveInPlace(const std::string& built, const std::string& folder, std::string& error) {
  std::string archive = folder + kArchiveFile;
  if (built == archive) return true;
  SetFileAttributesA(archive.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (MoveFileOver(built, archive)) return true;
  error = SystemMessage(GetLastError());
  return false;
}

