// Drives the engines for the two-computer test, as the front ends would:
//   migration_probe folders
//   migration_probe backup <catalogue> <set-folder> <plain|packed> [password]
//   migration_probe restore <set-folder> [password]
//   migration_probe /con ...   (the start-up of the console program)
// Prints the special folders it sees, the programs not found, and exits with
// 0 when the run succeeded.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>

#include "app/ConsoleRunCallback.h"
#include "app/Startup.h"
#include "base/Flags.h"
#include "base/Interaction.h"
#include "catalogue/Catalogue.h"
#include "catalogue/PathVariables.h"
#include "engine/Engine.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"

namespace {

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

void SelectAll(Catalogue& catalogue) {
  std::string missing = PrepareEntries(catalogue);
  if (!missing.empty()) std::printf("missing:\n%s", missing.c_str());
  for (const auto& entry : catalogue.Entries())
    if (entry->valid) entry->selected = true;
}

int Backup(const std::string& path, const std::string& setFolder, bool packed,
           const std::optional<std::string>& password) {
  Catalogue catalogue(path);
  if (!catalogue.Evaluate()) return 3;
  SelectAll(catalogue);
  CDiskObject disk(true, NULL);
  std::string set = WithSlash(setFolder);
  disk.CreateFolderTree(set + "Registry\\");
  ArchiveWriter archive;
  if (packed && !archive.Open(set + "restore.zip", set, false, password, 6)) return 4;
  CConsoleRunCallback front;
  bool done = RunBackup(disk, archive, packed, set, catalogue, front, true);
  return archive.Close() && done ? 0 : 1;
}

int Restore(const std::string& setFolder, const std::optional<std::string>& password) {
  std::string set = WithSlash(setFolder);
  CDiskObject disk(true, NULL);
  disk.SetOverwriteMode(OverwriteYesToAll);
  CConsoleRunCallback front(password.value_or(std::string()));
  ArchiveReader archive(&front);
  archive.SetOverwriteMode(OverwriteYesToAll);
  bool packed = GetFileAttributesA((set + "restore.zip").c_str()) != INVALID_FILE_ATTRIBUTES;
  std::string folder = set;
  if (packed) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    folder = std::string(temp) + "QmRestoreWork\\";
    disk.RemoveFolderTree(folder);
    if (!archive.Open(set + "restore.zip", true) ||
        !archive.UnpackFile("restore.xml", folder + "restore.xml") ||
        !archive.UnpackFolder("Registry\\", folder + "Registry\\"))
      return 4;
  }
  Catalogue catalogue(folder + "restore.xml");
  if (!catalogue.Evaluate()) return 3;
  SelectAll(catalogue);
  bool done = RunRestore(disk, archive, packed, folder, catalogue, front);
  if (packed) disk.RemoveFolderTree(folder);
  if (RebootNeeded()) std::printf("restart needed\n");
  return done ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The command a restore leaves in RunOnce names this program: it starts
  // up as the real programs do.
  if (argc > 1 && std::string(argv[1]) == "/con") {
    std::string line;
    for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
    return RunStartup(line, ConsoleOperations());
  }
  SetWizardMode(false);
  SetYesToAll(true);
  OpenSystemOperations();
  std::string command = argc > 1 ? argv[1] : "";
  int status = 2;
  if (command == "folders") {
    for (const char* name : {"Profile", "AppData", "MyDocuments", "Programs", "Windows"})
      std::printf("%s=%s\n", name, GetSpecialFolder(name).value_or("?").c_str());
    status = 0;
  } else if (command == "backup" && argc >= 5) {
    status = Backup(argv[2], argv[3], std::string(argv[4]) == "packed",
                    argc > 5 ? std::optional<std::string>(argv[5]) : std::nullopt);
  } else if (command == "restore" && argc >= 3) {
    status = Restore(argv[2], argc > 3 ? std::optional<std::string>(argv[3]) : std::nullopt);
  }
  std::fflush(stdout);
  CloseSystemOperations();
  return status;
}
