#include "engine/Engine.h"

#include <cstdint>
#include <optional>

#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/RunCallback.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueEntry.h"
#include "catalogue/PathVariables.h"
#include "catalogue/RestoreSettings.h"
#include "catalogue/Xml.h"
#include "engine/EngineRun.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "storage/RegistryFile.h"
#include "system/SpecialItems.h"

namespace {


const char kCreateRegistryFile[] = "Fatal error: failed to create registry file!\n";
const char kCreateRestoreSettings[] = "Fatal error: couldn't create restore settings!";
const char kPackRegistry[] = "Fatal error: couldn't backup registry settings!";
const char kPackRestoreSettings[] = "Fatal error: couldn't save restore settings!";
const char kSaveRegistry[] = "Error: couldn't save registry settings: ";
const char kBackupFile[] = "Error: failed to backup file:\n";
const char kBackupFolder[] = "Error: failed to backup directory:\n";
const char kBackupSpecial[] = "Error: failed to backup special item:\n";
const char kBackupFiles[] = "Error: failed to backup files:\n";

class CBackupRun {
 public:
  CBackupRun(CDiskObject& disk, ArchiveWriter& archive, bool pack, const std::string& setFolder,
             Catalogue& catalogue, IRunCallback& callback, bool writeRestoreSettings)
      : m_disk(disk),
        m_archive(archive),
        m_pack(pack),
        m_setFolder(setFolder),
        m_catalogue(catalogue),
        m_callback(callback),
        m_writeRestoreSettings(writeRestoreSettings),
        m_progress(catalogue, callback) {}

  // False when the archive grew over the limit; fatal errors are thrown.
  bool Run();

 private:
  bool Stopped() const { return StopRequested(m_callback, m_disk, m_archive.StopRequested()); }
  void BackupEntry(CatalogueEntry& entry);
  void BackupItem(CatalogueEntry& entry, std::string& item, XmlWriter& registryFile,
                  bool& registryFileCreated);
  bool BackupRegistryItem(const std::string& path, XmlWriter& registryFile,
                          bool& registryFileCreated);
  bool BackupNamedItem(const std::string& path, std::string& place);
  void LogFilesLeftOut();
  void Finish();
  std::string WithReason(const char* fatal) const;
  // The error texts of both the file system and the archive, as the log
  // lines quote them.
  std::string ErrorTexts() const { return m_disk.GetErrorText() + m_archive.GetErrorText(); }

  CDiskObject& m_disk;
  ArchiveWriter& m_archive;
  bool m_pack;
  std::string m_setFolder;
  Catalogue& m_catalogue;
  IRunCallback& m_callback;
  bool m_writeRestoreSettings;
  CRunProgress m_progress;
  std::string m_entryPath;
  // Looked up for the first registry item, kept for the others.
  std::optional<CPlaceholderFolders> m_folders;
};

bool CBackupRun::Run() {
  for (const auto& entry : m_catalogue.Entries()) {
    if (Stopped()) break;
    if (!entry->valid || !entry->selected) continue;
    BackupEntry(*entry);
  }
  Finish();

  // The archive's size counts only once everything added is in the file; a
  // write that failed is reported when the archive is closed.
  if (m_pack) m_archive.Flush();
  if (m_pack && ArchiveFileTooLarge(m_archive.GetPath())) {
    m_callback.ShowFatalError(kArchiveTooLarge);
    return false;
  }
  // The setup program lets the set be restored on a computer without us.
  std::string setup = CDiskObject::JoinPath(StartDirectory(), kSetupProgram);
  if (GetFileAttributesA(setup.c_str()) != INVALID_FILE_ATTRIBUTES)
    m_disk.CopyFileToFolder(setup, m_setFolder);
  return true;
}

void CBackupRun::BackupEntry(CatalogueEntry& entry) {
  m_entryPath = EntryPath(entry);
  std::string dotted = DottedPath(m_entryPath);
  m_progress.StartEntry(dotted);

  XmlWriter registryFile;
  registryFile.SetFileName(m_setFolder + kRegistryFolder + "\\" + dotted + ".xml");
  bool registryFileCreated = false;
  for (std::string& item : entry.items) {
    if (Stopped()) break;
    BackupItem(entry, item, registryFile, registryFileCreated);
  }
  // A registry file that didn't reach the disk whole would be restored as
  // if it held the entry's settings.
  if (registryFileCreated &&
      !(XmlElement("Registry").WriteEnd(registryFile, 1, true, true) & registryFile.Close()))
    throw CFatalError(kCreateRegistryFile + registryFile.GetFileName());
}

void CBackupRun::BackupItem(CatalogueEntry& entry, std::string& item, XmlWriter& registryFile,
                            bool& registryFileCreated) {
  size_t semicolon = item.find(';');
  std::string place = semicolon == std::string::npos ? std::string() : PlaceOf(item.substr(0, semicolon));
  const std::string stored = semicolon == std::string::npos ? item : item.substr(semicolon + 1);
  std::string path = WithBackslashes(stored);
  if (!ExpandPathVariables(path, &entry)) throw CFatalError(kFailedToExpand + path);

  m_callback.SetCurrentPath(path);
  std::string itemFolder = m_entryPath + place;
  std::string target = m_setFolder + itemFolder;
  if (!ExpandItemEnvironment(path, m_callback)) {
    item.clear();
    return;
  }
  bool succeeded = true;

  switch (KindOf(path)) {
    case ItemKind::Registry:
      succeeded = BackupRegistryItem(path, registryFile, registryFileCreated);
      break;
    case ItemKind::RegistryNamed:
      succeeded = BackupNamedItem(path, place);
      break;
    case ItemKind::Special:
      succeeded = BackupSpecialItem(path, m_archive, m_disk, m_pack, m_setFolder, itemFolder);
      if (!succeeded) m_callback.LogItemError(kBackupSpecial + path + "\n" + ErrorTexts());
      break;
    case ItemKind::Folder:
      // A set inside the backed-up folder must not be copied into itself.
      succeeded = m_pack ? m_archive.AddFolder(path, itemFolder, true, m_setFolder)
                         : m_disk.CopyFolderTree(path, target, m_setFolder);
      if (!succeeded) m_callback.LogItemError(kBackupFolder + path + "\n" + ErrorTexts());
      break;
    case ItemKind::FolderFiles: {
      std::string folder = path.substr(0, path.size() - 1);
      succeeded = m_pack ? m_archive.AddFolder(folder, itemFolder, false)
                         : m_disk.CopyFolder(folder, target);
      if (!succeeded) m_callback.LogItemError(kBackupFiles + folder + "\n" + ErrorTexts());
      break;
    }
    case ItemKind::File:
      // A rollback keeps single files directly in the entry's folder.
      if (!m_writeRestoreSettings) {
        place.clear();
        itemFolder = m_entryPath;
        target = m_setFolder + itemFolder;
      }
      succeeded = m_pack ? m_archive.AddFileAs(path, itemFolder)
                         : m_disk.CopyFileToFolder(path, target);
      if (!succeeded) m_callback.LogItemError(kBackupFile + path + "\n" + ErrorTexts());
      place = CDiskObject::JoinPath(place, CDiskObject::FileNameOf(path));
      break;
  }

  LogFilesLeftOut();
  if (!succeeded) {
    item.clear();
    return;
  }
  if (!place.empty() && place[0] == '\\') place.erase(0, 1);
  item = place + ";" + stored;
}

bool CBackupRun::BackupRegistryItem(const std::string& path, XmlWriter& registryFile,
                                    bool& registryFileCreated) {
  if (!registryFileCreated) {
    if (!m_disk.CreateEmptyFile(registryFile.GetFileName()))
      throw CFatalError(kCreateRegistryFile + m_disk.GetErrorText());
    if (!XmlElement("Registry").WriteStart(registryFile, 1, true, true))
      throw CFatalError(kCreateRegistryFile + registryFile.GetFileName());
    registryFileCreated = true;
  }
  std::string key = path;
  std::string selector;
  if (key.back() == '\\' || key.back() == '*') {
    selector.assign(1, key.back());
    key.pop_back();
  } else {
    size_t slash = key.rfind('\\');
    selector = key.substr(slash + 1);
    key.erase(slash == std::string::npos ? 0 : slash);
  }
  if (!m_folders) m_folders.emplace();
  if (ExportRegistryKey(registryFile, key, selector, &*m_folders)) return true;
  m_callback.LogItemError(kSaveRegistry + key + "[" + selector + "]");
  return false;
}

bool CBackupRun::BackupNamedItem(const std::string& path, std::string& place) {
  std::optional<std::string> resolved = ResolveNamedPath(path, m_callback);
  if (!resolved) return false;
  if (resolved->empty()) {
    m_callback.LogItemError(kKeyEmpty + path);
    return false;
  }
  std::string itemFolder = m_entryPath + place;
  if (m_disk.FileExists(*resolved)) {
    bool copied = m_pack ? m_archive.AddFileAs(*resolved, itemFolder)
                         : m_disk.CopyFileToFolder(*resolved, m_setFolder + itemFolder);
    if (!copied) m_callback.LogItemError(kBackupFile + path + "=>" + *resolved + "\n" + ErrorTexts());
    place = CDiskObject::JoinPath(place, CDiskObject::FileNameOf(*resolved));
    return copied;
  }
  std::string folder = *resolved;
  if (folder.back() != '\\') folder += '\\';
  // Like a plain folder item: a set inside the folder stays out of itself.
  bool copied = m_pack ? m_archive.AddFolder(folder, itemFolder, true, m_setFolder)
                       : m_disk.CopyFolderTree(folder, m_setFolder + itemFolder, m_setFolder);
  if (!copied) m_callback.LogItemError(kBackupFolder + path + "=>" + *resolved + "\n" + ErrorTexts());
  return copied;
}

// A folder item keeps the files that were copied; each one that couldn't be
// read is named in the log.
void CBackupRun::LogFilesLeftOut() {
  for (const auto* list : {&m_disk.FailedFiles(), &m_archive.FailedFiles()})
    for (const CFailedFile& file : *list) m_callback.LogItemError(kBackupFile + file.path + "\n" + file.error);
  m_disk.ClearFailedFiles();
  m_archive.ClearFailedFiles();
}

// A fatal text with the archive's reason under it (a full archive, a full
// disk), which the user needs to choose what to do.
std::string CBackupRun::WithReason(const char* fatal) const {
  std::string reason = m_archive.GetErrorText();
  if (reason.empty() && !m_archive.FailedFiles().empty()) reason = m_archive.FailedFiles().front().error;
  return reason.empty() ? std::string(fatal) : fatal + ("\n" + reason);
}

void CBackupRun::Finish() {
  std::string settings = m_setFolder + kRestoreSettingsFile;
  if (m_writeRestoreSettings && !BuildRestoreSettings(m_catalogue, settings))
    throw CFatalError(kCreateRestoreSettings);
  if (!m_pack) return;
  // Every registry file must be in the archive: a missing one restores nothing.
  m_archive.ClearFailedFiles();
  if ((!m_archive.AddFolder(m_setFolder + kRegistryFolder, kRegistryFolder, false) ||
       !m_archive.FailedFiles().empty()) &&
      !m_archive.StopRequested())
    throw CFatalError(WithReason(kPackRegistry));
  if (m_writeRestoreSettings && !m_archive.AddFileAs(settings, std::string()) && !m_archive.StopRequested())
    throw CFatalError(WithReason(kPackRestoreSettings));
  m_disk.RemoveFolderTree(m_setFolder + kRegistryFolder);
  m_disk.RemoveFile(settings);
}

}  // namespace

bool RunBackup(CDiskObject& disk, ArchiveWriter& archive, bool pack, const std::string& setFolder,
               Catalogue& catalogue, IRunCallback& callback, bool writeRestoreSettings) {
  try {
    CBackupRun run(disk, archive, pack, setFolder, catalogue, callback, writeRestoreSettings);
    return run.Run();
  } catch (const CFatalError& error) {
    callback.ShowFatalError(error.what());
  } catch (...) {
    callback.ShowFatalError(kUnknownFatalError);
  }
  return false;
}
