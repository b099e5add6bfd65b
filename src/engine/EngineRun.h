// What the backup and restore runs share: entry paths, progress, resolving
// items that name their path through the registry, and the fatal error that
// ends a run.
#pragma once

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>

class Catalogue;
class CDiskObject;
class IRunCallback;
struct CatalogueEntry;

// Ends a run at once; caught at the run's boundary and shown to the user.
class CFatalError : public std::runtime_error {
 public:
  explicit CFatalError(const std::string& text) : std::runtime_error(text) {}
};

// The names of the entry's ancestors, outermost first, then its own, joined
// with "\" ("Office\Mail"), each character no file name can hold made
// "_"; the dotted form uses "." ("Office.Mail").
std::string EntryPath(const CatalogueEntry& entry);
std::string DottedPath(const std::string& entryPath);

// Numbers the entries a run starts and hands each to the front end with
// the number of selected entries.
class CRunProgress {
 public:
  CRunProgress(const Catalogue& catalogue, IRunCallback& callback);
  CRunProgress(const CRunProgress&) = delete;
  CRunProgress& operator=(const CRunProgress&) = delete;
  void StartEntry(const std::string& dottedPath);

 private:
  IRunCallback& m_callback;
  int m_selected = 0;
  int m_started = 0;
};

// Whether the run has been asked to stop: by the front end, or by an Abort
// in the file system or the archive (which share the front end's request
// when it gave them one).
bool StopRequested(IRunCallback& callback, const CDiskObject& disk, bool archiveStopped);

enum class ItemKind { Registry, RegistryNamed, Special, Folder, FolderFiles, File };
ItemKind KindOf(const std::string& path);

// The path a "[value]" or "{key}" item names on this computer: the registry
// value with environment variables expanded, or the first leaf below the
// key. Empty when there is none; nothing when it is longer than a path may
// be (the reason goes to the log).
std::optional<std::string> ResolveNamedPath(const std::string& path, IRunCallback& callback);

// Files and folders may name their place with environment variables
// ("%windir%\win.ini"), which the file functions don't understand: they are
// expanded for the item kinds that are paths on disk. False (with a log
// line) when the result would be longer than a path may be.
bool ExpandItemEnvironment(std::string& path, IRunCallback& callback);

// The item's folder inside the set ("\" and the item's name), or empty.
std::string PlaceOf(const std::string& name);

extern const char kUnknownFatalError[];
extern const char kFailedToExpand[];
extern const char kKeyEmpty[];
