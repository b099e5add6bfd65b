#include "engine/EngineRun.h"

#include <cstring>
#include <vector>

#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/LocaleText.h"
#include "base/RunCallback.h"
#include "base/Text.h"
#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueEntry.h"
#include "catalogue/Registry.h"
#include "storage/DiskObject.h"

const char kUnknownFatalError[] =
    "An unknown fatal error has occured. The application will now close.";
const char kFailedToExpand[] = "Fatal error: failed to expand variable: ";
const char kKeyEmpty[] = "Error: key empty or doesn't exists: ";

namespace {

// Room for a resolved path, its terminator included.
const size_t kResolvedPathRoom = MAX_PATH;

}  // namespace

std::string EntryPath(const CatalogueEntry& entry) {
  std::vector<const CatalogueEntry*> chain;
  for (const CatalogueEntry* e = &entry; e != nullptr; e = e->parent) chain.push_back(e);
  std::string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += '\\';
    // A name taken from a registry key ("Work: home?") may hold characters
    // that no file name can; the set's folder and registry file get a
    // stand-in, the same at backup and restore. Names that could be written
    // before stay as they were, so older sets still restore.
    for (char c : (*it)->name)
      path += static_cast<unsigned char>(c) < 32 || std::strchr(":*?\"<>|", c) ? '_' : c;
  }
  return path;
}

std::string DottedPath(const std::string& entryPath) {
  std::string dotted = entryPath;
  for (char& c : dotted)
    if (c == '\\') c = '.';
  return dotted;
}

CRunProgress::CRunProgress(const Catalogue& catalogue, IRunCallback& callback)
    : m_callback(callback) {
  for (const auto& entry : catalogue.Entries())
    if (entry->selected) ++m_selected;
}

void CRunProgress::StartEntry(const std::string& dottedPath) {
  m_callback.StartEntry(dottedPath, ++m_started, m_selected);
}

bool StopRequested(IRunCallback& callback, const CDiskObject& disk, bool archiveStopped) {
  return callback.ShouldStop() || disk.Cancelled() || archiveStopped;
}

ItemKind KindOf(const std::string& path) {
  if (StartsWithText(path, "HKEY")) return ItemKind::Registry;
  if (!path.empty() && (path[0] == '[' || path[0] == '{')) return ItemKind::RegistryNamed;
  if (!path.empty() && path[0] == '$') return ItemKind::Special;
  if (!path.empty() && path.back() == '\\') return ItemKind::Folder;
  if (!path.empty() && path.back() == '*') return ItemKind::FolderFiles;
  return ItemKind::File;
}

std::optional<std::string> ResolveNamedPath(const std::string& path, IRunCallback& callback) {
  if (path.size() < 2) return std::string();
  std::string inner = path.substr(1, path.size() - 2);
  std::string resolved;
  if (path[0] == '[') {
    std::optional<std::string> value = ReadRegistryValue(inner);
    if (!value || value->empty()) return std::string();
    char buffer[kResolvedPathRoom];
    DWORD needed = ExpandEnvironmentStringsA(value->c_str(), buffer, sizeof buffer);
    if (needed == 0 || needed > sizeof buffer) {
      callback.LogItemError("Error: path too long: " + path + "=>" + *value);
      return std::nullopt;
    }
    resolved = buffer;
  } else {
    std::optional<std::string> leaf = FindFirstLeafKey(inner);
    if (!leaf) return std::string();
    resolved = *leaf;
  }
  if (resolved.size() >= kResolvedPathRoom) {
    callback.LogItemError("Error: path too long: " + path + "=>" + resolved);
    return std::nullopt;
  }
  return resolved;
}

bool ExpandItemEnvironment(std::string& path, IRunCallback& callback) {
  ItemKind kind = KindOf(path);
  if (path.find('%') == std::string::npos ||
      (kind != ItemKind::Folder && kind != ItemKind::FolderFiles && kind != ItemKind::File))
    return true;
  char buffer[kResolvedPathRoom];
  DWORD needed = ExpandEnvironmentStringsA(path.c_str(), buffer, sizeof buffer);
  if (needed == 0 || needed > sizeof buffer) {
    callback.LogItemError("Error: path too long: " + path);
    return false;
  }
  path = buffer;
  return true;
}

std::string PlaceOf(const std::string& name) { return name.empty() ? name : "\\" + name; }
