#include "engine/Engine.h"

#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/RunCallback.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueEntry.h"
#include "catalogue/PathVariables.h"
#include "engine/EngineRun.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "storage/RegistryFile.h"
#include "system/SpecialItems.h"

namespace {

const char kImportRegistry[] = "Error: Couldn't import registry file: ";
const char kNoFile[] = "Error: no file to copy.\n";
const char kRestoreFile[] = "Error: failed to restore file:\n";
const char kRestoreFolder[] = "Error: failed to restore directory:\n";
const char kRestoreSpecial[] = "Error: failed to restore special item:\n";
const char kRestoreFiles[] = "Error: failed to restore files:\n";

class CRestoreRun {
 public:
  CRestoreRun(CDiskObject& disk, ArchiveReader& archive, bool packed, const std::string& setFolder,
              Catalogue& catalogue, IRunCallback& callback)
      : m_disk(disk),
        m_archive(archive),
        m_packed(packed),
        m_setFolder(setFolder),
        m_catalogue(catalogue),
        m_callback(callback),
        m_progress(catalogue, callback) {}

  void Run();

 private:
  bool Stopped() const { return StopRequested(m_callback, m_disk, m_archive.StopRequested()); }
  void RestoreEntry(CatalogueEntry& entry);
  void RestoreItem(CatalogueEntry& entry, std::string& item);
  bool RestoreFile(const std::string& stored, const std::string& destination);
  bool RestoreFolder(const std::string& stored, const std::string& destination, bool recursive);
  std::string ErrorTexts() const { return m_disk.GetErrorText() + m_archive.GetErrorText(); }

  CDiskObject& m_disk;
  ArchiveReader& m_archive;
  bool m_packed;
  std::string m_setFolder;
  Catalogue& m_catalogue;
  IRunCallback& m_callback;
  CRunProgress m_progress;
  std::string m_entryPath;
  std::string m_dotted;
  bool m_registryImported = false;
};

void CRestoreRun::Run() {
  for (const auto& entry : m_catalogue.Entries()) {
    if (Stopped()) break;
    if (!entry->valid || !entry->selected) continue;
    RestoreEntry(*entry);
  }
}

void CRestoreRun::RestoreEntry(CatalogueEntry& entry) {
  // Asked for even when every item fails: the entry's program may need it.
  if (entry.reboot) SetRebootNeeded(true);
  m_entryPath = EntryPath(entry);
  m_dotted = DottedPath(m_entryPath);
  m_progress.StartEntry(m_dotted);
  m_registryImported = false;
  for (std::string& item : entry.items) {
    if (Stopped()) break;
    RestoreItem(entry, item);
    // A folder restored in part: each file that couldn't be read or
    // written is named.
    for (const auto* list : {&m_disk.FailedFiles(), &m_archive.FailedFiles()})
      for (const CFailedFile& file : *list)
        m_callback.LogItemError(kRestoreFile + file.path + "\n" + file.error);
    m_disk.ClearFailedFiles();
    m_archive.ClearFailedFiles();
  }
}

void CRestoreRun::RestoreItem(CatalogueEntry& entry, std::string& item) {
  if (!ExpandPathVariables(item, &entry)) throw CFatalError(kFailedToExpand + item);
  size_t semicolon = item.find(';');
  std::string place = semicolon == std::string::npos ? std::string() : PlaceOf(item.substr(0, semicolon));
  item = WithBackslashes(semicolon == std::string::npos ? item : item.substr(semicolon + 1));
  const std::string& path = item;
  // Where the backup stored the item, relative to the set.
  std::string stored = m_entryPath + place;
  if (!ExpandItemEnvironment(item, m_callback)) return;
  m_callback.SetCurrentPath(path);

  switch (KindOf(path)) {
    case ItemKind::Registry:
      // The entry's file holds all its registry items: imported once.
      if (!m_registryImported &&
          !ImportRestoredRegistryFile(m_setFolder + kRegistryFolder + "\\" + m_dotted + ".xml"))
        m_callback.LogItemError(kImportRegistry + m_dotted + ".xml");
      m_registryImported = true;
      break;
    case ItemKind::RegistryNamed: {
      std::optional<std::string> resolved = ResolveNamedPath(path, m_callback);
      if (!resolved) break;
      if (resolved->empty()) {
        m_callback.LogItemError(kKeyEmpty + path);
        break;
      }
      bool isFile = m_packed ? m_archive.HasFile(stored, true)
                             : m_disk.FileExists(m_setFolder + stored);
      if (isFile) {
        if (place.size() <= 1)
          m_callback.LogItemError(kNoFile + path);
        else if (!RestoreFile(stored, *resolved))
          m_callback.LogItemError(kRestoreFile + path + "=>" + *resolved + "\n" + ErrorTexts());
      } else if (!RestoreFolder(stored, *resolved, true)) {
        m_callback.LogItemError(kRestoreFolder + path + "=>" + *resolved + "\n" + ErrorTexts());
      }
      break;
    }
    case ItemKind::Special:
      if (!RestoreSpecialItem(path, m_archive, m_disk, m_packed, m_setFolder, stored))
        m_callback.LogItemError(kRestoreSpecial + path + "\n" + ErrorTexts());
      break;
    case ItemKind::Folder:
      if (!RestoreFolder(stored, path, true))
        m_callback.LogItemError(kRestoreFolder + path + "\n" + ErrorTexts());
      break;
    case ItemKind::FolderFiles: {
      std::string folder = path.substr(0, path.size() - 1);
      if (!RestoreFolder(stored, folder, false))
        m_callback.LogItemError(kRestoreFiles + folder + "\n" + ErrorTexts());
      break;
    }
    case ItemKind::File:
      if (place.size() <= 1)
        m_callback.LogItemError(kNoFile + path);
      else if (!RestoreFile(stored, path))
        m_callback.LogItemError(kRestoreFile + path + "\n" + ErrorTexts());
      break;
  }
}

bool CRestoreRun::RestoreFile(const std::string& stored, const std::string& destination) {
  if (m_packed) return m_archive.UnpackFile(stored, destination);
  return m_disk.CopyFileAs(m_setFolder + stored, destination);
}

bool CRestoreRun::RestoreFolder(const std::string& stored, const std::string& destination,
                                bool recursive) {
  if (m_packed) return m_archive.UnpackFolder(stored + "\\", destination);
  if (recursive) return m_disk.CopyFolderTree(m_setFolder + stored, destination, std::string());
  return m_disk.CopyFolder(m_setFolder + stored, destination);
}

}  // namespace

bool RunRestore(CDiskObject& disk, ArchiveReader& archive, bool packed,
                const std::string& setFolder, Catalogue& catalogue, IRunCallback& callback) {
  try {
    CRestoreRun run(disk, archive, packed, setFolder, catalogue, callback);
    run.Run();
    return true;
  } catch (const CFatalError& error) {
    callback.ShowFatalError(error.what());
  } catch (...) {
    callback.ShowFatalError(kUnknownFatalError);
  }
  return false;
}
