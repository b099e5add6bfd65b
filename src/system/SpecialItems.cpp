#include "system/SpecialItems.h"

#include <windows.h>
#include <objbase.h>
#include <urlhist.h>
#include <wininet.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/ComHandle.h"
#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/Settings.h"
#include "base/SystemPaths.h"
#include "base/Text.h"
#include "base/Win32Handle.h"
#include "catalogue/PathVariables.h"
#include "catalogue/RegistryKey.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "system/SpecialItemFiles.h"

namespace {

// ------------------------------------------------------------ names and limits

const char kCookiesPath[] = "$Cookies";
const char kHistoryPath[] = "$History";
const char kOutlookPrefix[] = "$Outlook";
const char kLoadRegAtStartupPath[] = "$LoadRegAtStartup";

const char kCookiesFile[] = "cookies.txt";
const char kHistoryFile[] = "history.txt";
const char kOutlookFile[] = "outlook.txt";

// The URL cache names its containers "Cookie:" and "Visited:". Windows
// matches the search pattern without regard to case, other implementations
// of the cache compare it exactly, so the container's own spelling is used.
const char kCookiePattern[] = "Cookie:";
const char kVisitedPattern[] = "Visited:";
const char kHttpPrefix[] = "http://";

// Values of a mail profile, below the profile key.
const char kStoreListKey[] = "9207f3e0a3b11019908b08002b2a56c2";
const char kStoreListValue[] = "01023d00";
const char kStorePathValue[] = "001e6700";         // ANSI text
const char kStorePathValueUnicode[] = "001f6700";  // UTF-16, version "11"
const char kUnicodeVersion[] = "11";

const char kRunOnceKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kStartupImportSwitches[] = " /con /s /y /i ";
const char kStartupDeleteSwitch[] = " /del";

const DWORD kEntryBufferSize = 4096;
const DWORD kMaxEntryBufferSize = 1024 * 1024;
const DWORD kCookieBufferSize = 1024;
// History addresses are handed on as at most 255 UTF-16 characters.
const size_t kMaxHistoryAddress = 255;
// The store list is read into 1024 bytes that also hold its 4-byte length.
const DWORD kMaxStoreList = 1024 - 4;
static_assert(kMaxStorePath == MAX_PATH - 1, "a store path fits in MAX_PATH");
const DWORD kMaxStorePathValue = 4096;

// Log entries for what is left out or not copied; failures of a whole item
// are reported by the engines.
const char kLogNoCookieAddress[] = "Cookies left out: the cache entry names no address: ";
const char kLogCookieAddressTooLong[] =
    "Cookies left out: the address is longer than 255 characters: ";
const char kLogCookieTooLong[] = "Cookie left out: it is longer than 4095 characters, for ";
const char kLogHistoryAddressTooLong[] =
    "History address left out: it is longer than 255 characters: ";
const char kLogStoreNotCopied[] = "Mail store file not copied: ";
const char kLogStoreWithoutFile[] = "Mail store left out: the profile names no file for store ";

// ------------------------------------------------------------ small helpers

std::string BlanksToEscapes(const std::string& text) { return ReplaceAll(text, " ", "%20"); }
std::string EscapesToBlanks(const std::string& text) { return ReplaceAll(text, "%20", " "); }

// Long texts are shown in the log only by their beginning.
std::string Shortened(const std::string& text) {
  return text.size() <= kMaxCookieAddress ? text : text.substr(0, kMaxCookieAddress) + "...";
}

enum class SpecialKind { Cookies, History, Outlook, LoadRegAtStartup, Unknown };

SpecialKind SpecialKindOf(const std::string& path) {
  if (EqualNoCase(path, kCookiesPath)) return SpecialKind::Cookies;
  if (EqualNoCase(path, kHistoryPath)) return SpecialKind::History;
  if (EqualNoCase(path, kLoadRegAtStartupPath)) return SpecialKind::LoadRegAtStartup;
  const size_t prefix = std::strlen(kOutlookPrefix);
  if (path.size() >= prefix && EqualNoCase(path.substr(0, prefix), kOutlookPrefix))
    return SpecialKind::Outlook;
  return SpecialKind::Unknown;
}

// A text file opened through the C runtime in text mode, closed on every path.
class CTextFile {
 public:
  CTextFile(const std::string& path, const char* mode) : m_file(std::fopen(path.c_str(), mode)) {}
  ~CTextFile() { Close(); }
  CTextFile(const CTextFile&) = delete;
  CTextFile& operator=(const CTextFile&) = delete;

  std::FILE* Get() const { return m_file; }
  bool IsOpen() const { return m_file != nullptr; }
  // False when buffered text couldn't be written out.
  bool Close() {
    if (m_file == nullptr) return true;
    bool ok = std::fclose(m_file) == 0;
    m_file = nullptr;
    return ok;
  }

 private:
  std::FILE* m_file;
};

// The whole text through the stream; false when it couldn't all be written.
bool WriteText(std::FILE* stream, const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

// ------------------------------------------------------------ WinINet

// Loaded for the first cookie or cache item, the only ones that need it.
CLibraryOnDemand g_internet("wininet.dll");

HANDLE FindFirstCacheEntry(const char* pattern, INTERNET_CACHE_ENTRY_INFOA* entry, DWORD* size) {
  auto find = g_internet.Find<decltype(&FindFirstUrlCacheEntryA)>("FindFirstUrlCacheEntryA");
  return find != nullptr ? find(pattern, entry, size) : NULL;
}

bool FindNextCacheEntry(HANDLE walk, INTERNET_CACHE_ENTRY_INFOA* entry, DWORD* size) {
  auto find = g_internet.Find<decltype(&FindNextUrlCacheEntryA)>("FindNextUrlCacheEntryA");
  return find != nullptr && find(walk, entry, size);
}

void CloseCacheWalk(HANDLE walk) {
  auto close = g_internet.Find<decltype(&FindCloseUrlCache)>("FindCloseUrlCache");
  if (close != nullptr) close(walk);
}

bool GetCookie(const std::string& address, char* data, DWORD* size) {
  auto get = g_internet.Find<decltype(&InternetGetCookieA)>("InternetGetCookieA");
  return get != nullptr && get(address.c_str(), NULL, data, size);
}

bool SetCookie(const std::string& address, const std::string& data) {
  auto set = g_internet.Find<decltype(&InternetSetCookieA)>("InternetSetCookieA");
  return set != nullptr && set(address.c_str(), NULL, data.c_str());
}

// ------------------------------------------------------------ the URL cache

// One walk over the cache entries whose names begin with a pattern.
class CUrlCacheWalk {
 public:
  CUrlCacheWalk() : m_buffer(kEntryBufferSize / sizeof(std::uint64_t)) {}
  ~CUrlCacheWalk() {
    if (m_find != NULL) CloseCacheWalk(m_find);
  }
  CUrlCacheWalk(const CUrlCacheWalk&) = delete;
  CUrlCacheWalk& operator=(const CUrlCacheWalk&) = delete;

  // ERROR_SUCCESS with an entry, ERROR_NO_MORE_ITEMS at the end, or the error.
  DWORD First(const char* pattern) {
    for (;;) {
      DWORD size = BufferSize();
      m_find = FindFirstCacheEntry(pattern, Entry(), &size);
      if (m_find != NULL) return ERROR_SUCCESS;
      DWORD error = GetLastError();
      if (error != ERROR_INSUFFICIENT_BUFFER || !Grow(size)) return error;
    }
  }
  DWORD Next() {
    for (;;) {
      DWORD size = BufferSize();
      if (FindNextCacheEntry(m_find, Entry(), &size)) return ERROR_SUCCESS;
      DWORD error = GetLastError();
      if (error != ERROR_INSUFFICIENT_BUFFER || !Grow(size)) return error;
    }
  }
  INTERNET_CACHE_ENTRY_INFOA* Entry() {
    return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(m_buffer.data());
  }

 private:
  DWORD BufferSize() const { return static_cast<DWORD>(m_buffer.size() * sizeof(std::uint64_t)); }
  // Twice what the cache asked for; a cache that asks for no more than it
  // had, or for absurd sizes, ends the walk.
  bool Grow(DWORD wanted) {
    if (wanted <= BufferSize() || wanted > kMaxEntryBufferSize) return false;
    m_buffer.assign((2 * static_cast<size_t>(wanted)) / sizeof(std::uint64_t) + 1, 0);
    return true;
  }

  std::vector<std::uint64_t> m_buffer;  // aligned for the entry structure
  HANDLE m_find = NULL;
};

// The address part of an entry's name: what follows its first "@".
bool AddressOf(const INTERNET_CACHE_ENTRY_INFOA& entry, std::string& address) {
  if (entry.lpszSourceUrlName == nullptr) return false;
  const char* at = std::strchr(entry.lpszSourceUrlName, '@');
  if (at == nullptr) return false;
  address = at + 1;
  return true;
}

// The cookies the cache gives for an address, as "name=value; name=value".
// An address without cookies gives an empty text.
bool CookiesFor(const std::string& address, std::string& cookies) {
  std::vector<char> buffer(kCookieBufferSize);
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    if (GetCookie(address, buffer.data(), &size)) {
      buffer.back() = '\0';
      cookies = buffer.data();
      return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_ITEMS) {
      cookies.clear();
      return true;
    }
    if (error != ERROR_INSUFFICIENT_BUFFER || size > kMaxEntryBufferSize) return false;
    buffer.assign(size > buffer.size() ? size + 1 : 2 * buffer.size(), '\0');
  }
}

// The text appended to every cookie of a record, for an expiry in
// universal time: " expires = Fri, 14-Mar-2031 10:20:30 GMT".
bool FormatExpiry(DWORD high, DWORD low, std::string& text) {
  FILETIME expiry = {low, high};
  SYSTEMTIME time;
  if (!FileTimeToSystemTime(&expiry, &time)) return false;
  char date[256];
  if (GetDateFormatA(1033, 0, &time, " expires = ddd, dd-MMM-yyyy", date, sizeof date) == 0)
    return false;
  char clock[32];
  std::snprintf(clock, sizeof clock, " %02d:%02d:%02d GMT", time.wHour, time.wMinute,
                time.wSecond);
  text = std::string(date) + clock;
  return true;
}

// ------------------------------------------------------------ COM

const CLSID kUrlHistoryClass = {
    0x3c374a40, 0xbae4, 0x11cf, {0xbf, 0x7d, 0x00, 0xaa, 0x00, 0x69, 0x46, 0xee}};
const IID kUrlHistoryStore = {
    0x3c374a41, 0xbae4, 0x11cf, {0xbf, 0x7d, 0x00, 0xaa, 0x00, 0x69, 0x46, 0xee}};

// ------------------------------------------------------------ the item's files

// Where a backup writes one of the item's files: its folder in the set
// (created first), or the set folder itself when the file is packed.
bool PrepareBackupFile(CDiskObject& disk, bool packed, const std::string& setFolder,
                       const std::string& itemFolder, const char* name, std::string& path) {
  if (packed) {
    path = setFolder + name;
    return true;
  }
  std::string folder = setFolder + itemFolder + "\\";
  if (!disk.CreateFolderTree(folder)) return false;
  path = folder + name;
  return true;
}

// Moves a file written in the set folder into the archive.
bool PackBackupFile(ArchiveWriter& archive, CDiskObject& disk, const std::string& path,
                    const std::string& itemFolder) {
  bool added = archive.AddFileAs(path, itemFolder);
  disk.RemoveFile(path);
  return added;
}

// Where a restore reads one of the item's files; a packed set's copy is
// first extracted into the set folder and must be deleted afterwards.
bool PrepareRestoreFile(ArchiveReader& archive, CDiskObject& disk, bool packed,
                        const std::string& setFolder, const std::string& itemFolder,
                        const char* name, std::string& path) {
  if (!packed) {
    path = setFolder + itemFolder + "\\" + name;
    return true;
  }
  path = setFolder + name;
  // A copy left by an earlier run would otherwise be kept by the overwrite
  // policy and read instead of this set's file.
  if (disk.FileExists(path)) disk.RemoveFile(path);
  return archive.UnpackFile(itemFolder + "\\" + name, path);
}

// ------------------------------------------------------------ cookies and history

typedef bool (*ExportFunction)(std::FILE*);
typedef bool (*ImportFunction)(std::FILE*);

bool BackupCacheItem(ExportFunction exportItem, const char* name, ArchiveWriter& archive,
                     CDiskObject& disk, bool packed, const std::string& setFolder,
                     const std::string& itemFolder) {
  std::string path;
  if (!PrepareBackupFile(disk, packed, setFolder, itemFolder, name, path)) return false;
  CTextFile file(path, "wt");
  if (!file.IsOpen()) return false;
  bool exported = exportItem(file.Get());
  exported = file.Close() && exported;
  if (!packed) return exported;
  return PackBackupFile(archive, disk, path, itemFolder) && exported;
}

bool RestoreCacheItem(ImportFunction importItem, const char* name, ArchiveReader& archive,
                      CDiskObject& disk, bool packed, const std::string& setFolder,
                      const std::string& itemFolder) {
  std::string path;
  if (!PrepareRestoreFile(archive, disk, packed, setFolder, itemFolder, name, path)) return false;
  bool imported = false;
  {
    CTextFile file(path, "rt");
    if (file.IsOpen()) imported = importItem(file.Get());
  }
  if (packed) disk.RemoveFile(path);
  return imported;
}

// ------------------------------------------------------------ mail profiles

struct MailProfile {
  std::string version;  // "11" keeps store paths as UTF-16
  HKEY root;
  std::string key;  // below the root, ending with "\" unless empty
};

// "$Outlook" + two characters of version + a separator + the profile key in
// root-name form.
bool ParseMailProfile(const std::string& itemPath, MailProfile& profile) {
  const size_t keyStart = std::strlen(kOutlookPrefix) + 3;
  if (itemPath.size() <= keyStart) return false;
  profile.version = itemPath.substr(std::strlen(kOutlookPrefix), 2);
  std::string key = itemPath.substr(keyStart);
  size_t slash = key.find('\\');
  if (slash == std::string::npos) return false;
  profile.root = RootKeyByName(key.substr(0, slash));
  if (profile.root == NULL) return false;
  profile.key = key.substr(slash + 1);
  if (!profile.key.empty() && profile.key.back() != '\\') profile.key += '\\';
  return true;
}

enum class ValueRead { Ok, Missing, TooLong };

// A value's bytes, whatever its type, refused above `limit` bytes.
ValueRead ReadValueBytes(const MailProfile& profile, const std::string& subkey, const char* name,
                         DWORD limit, std::vector<BYTE>& data) {
  CRegKey key;
  if (key.Open(profile.root, profile.key + subkey, KEY_QUERY_VALUE) != ERROR_SUCCESS)
    return ValueRead::Missing;
  DWORD size = 0;
  if (RegQueryValueExA(key.Get(), name, NULL, NULL, NULL, &size) != ERROR_SUCCESS)
    return ValueRead::Missing;
  if (size > limit) return ValueRead::TooLong;
  data.assign(size, 0);
  if (size == 0) return ValueRead::Ok;
  LONG status = RegQueryValueExA(key.Get(), name, NULL, NULL, data.data(), &size);
  if (status == ERROR_MORE_DATA) return ValueRead::TooLong;
  if (status != ERROR_SUCCESS) return ValueRead::Missing;
  data.resize(size);
  return ValueRead::Ok;
}

// The identifiers of the profile's stores as 32 lowercase hex digits each.
// A list too long for its 1024-byte area (more than 63 stores) is refused.
ValueRead ReadStoreIds(const MailProfile& profile, std::vector<std::string>& ids) {
  std::vector<BYTE> list;
  ValueRead read = ReadValueBytes(profile, kStoreListKey, kStoreListValue, kMaxStoreList, list);
  if (read != ValueRead::Ok) return read;
  static const char kDigits[] = "0123456789abcdef";
  ids.clear();
  for (size_t at = 0; at + kStoreIdSize <= list.size(); at += kStoreIdSize) {
    std::string id;
    for (size_t i = 0; i < kStoreIdSize; ++i) {
      id += kDigits[list[at + i] >> 4];
      id += kDigits[list[at + i] & 0x0f];
    }
    ids.push_back(id);
  }
  return ValueRead::Ok;
}

// The full path of one store as the profile names it, in the ANSI code page.
ValueRead ReadStorePath(const MailProfile& profile, const std::string& id, std::string& path) {
  bool unicode = profile.version == kUnicodeVersion;
  std::vector<BYTE> data;
  ValueRead read = ReadValueBytes(profile, id, unicode ? kStorePathValueUnicode : kStorePathValue,
                                  kMaxStorePathValue, data);
  if (read != ValueRead::Ok) return read;
  if (unicode) {
    std::wstring wide;
    for (size_t at = 0; at + 1 < data.size(); at += 2) {
      wchar_t c = static_cast<wchar_t>(data[at] | (data[at + 1] << 8));
      if (c == L'\0') break;
      wide += c;
    }
    path.clear();
    if (!wide.empty()) {
      int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                       NULL, 0, NULL, NULL);
      if (length <= 0) return ValueRead::Missing;
      path.assign(length, '\0');
      WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &path[0], length,
                          NULL, NULL);
    }
  } else {
    path.assign(data.begin(), data.end());
    path = path.c_str();  // the text ends at its first NUL
  }
  return path.size() > kMaxStorePath ? ValueRead::TooLong : ValueRead::Ok;
}

// Writes a store's path into its existing key; the key itself isn't made.
bool WriteStorePath(const MailProfile& profile, const std::string& id, const std::string& path) {
  CRegKey key;
  if (key.Open(profile.root, profile.key + id, KEY_SET_VALUE) != ERROR_SUCCESS) return false;
  if (profile.version != kUnicodeVersion) {
    return RegSetValueExA(key.Get(), kStorePathValue, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(path.c_str()),
                          static_cast<DWORD>(path.size() + 1)) == ERROR_SUCCESS;
  }
  // The stored form is 2n + 1 bytes for an n-byte ANSI path. A path with
  // double-byte characters has fewer UTF-16 units than bytes; the rest of
  // the value stays zero.
  std::vector<BYTE> data(2 * path.size() + 1, 0);
  int units = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, NULL, 0);
  if (units <= 0) return false;
  std::vector<wchar_t> wide(units);
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), units);
  for (size_t i = 0; i < wide.size() && 2 * i < data.size(); ++i) {
    data[2 * i] = static_cast<BYTE>(wide[i] & 0xff);
    if (2 * i + 1 < data.size()) data[2 * i + 1] = static_cast<BYTE>(wide[i] >> 8);
  }
  return RegSetValueExA(key.Get(), kStorePathValueUnicode, 0, REG_BINARY, data.data(),
                        static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

bool BackupMailProfile(const std::string& itemPath, ArchiveWriter& archive, CDiskObject& disk,
                       bool packed, const std::string& setFolder, const std::string& itemFolder) {
  MailProfile profile;
  if (!ParseMailProfile(itemPath, profile)) return false;
  std::vector<std::string> ids;
  if (ReadStoreIds(profile, ids) != ValueRead::Ok) return false;

  std::string listPath;
  if (!PrepareBackupFile(disk, packed, setFolder, itemFolder, kOutlookFile, listPath)) return false;
  std::string itemDirectory = setFolder + itemFolder + "\\";
  CTextFile list(listPath, "wt");
  if (!list.IsOpen()) return false;

  CPlaceholderFolders folders;
  bool written = true;
  for (size_t i = 0; i < ids.size(); ++i) {
    std::string storePath;
    ValueRead read = ReadStorePath(profile, ids[i], storePath);
    if (read == ValueRead::TooLong) {
      LogItemError(kLogStoreNotCopied + storePath);
      continue;
    }
    if (read != ValueRead::Ok || storePath.empty()) {
      // A store without a file of its own (a server mailbox) has nothing to
      // copy; the stores after it still do.
      WriteLog(kLogStoreWithoutFile + ids[i]);
      continue;
    }
    std::string fileName = StoreFileName(i);
    bool copied = packed ? archive.AddFileAs(storePath, itemFolder, fileName)
                         : disk.CopyFileAs(storePath, itemDirectory + fileName);
    // The other stores are still worth keeping; the log says which one is
    // missing, and the map names only stores the set really holds.
    if (!copied) {
      LogItemError(kLogStoreNotCopied + storePath + "\n" + disk.GetErrorText() +
                   archive.GetErrorText());
      continue;
    }
    std::string line =
        FormatStoreLine({fileName, ids[i], BlanksToEscapes(folders.Fold(storePath))});
    if (!WriteText(list.Get(), line)) written = false;
  }
  // A map that couldn't be written whole would restore only some stores.
  written = list.Close() && written;
  if (!packed) return written;
  return PackBackupFile(archive, disk, listPath, itemFolder) && written;
}

bool RestoreMailProfile(const std::string& itemPath, ArchiveReader& archive, CDiskObject& disk,
                        bool packed, const std::string& setFolder, const std::string& itemFolder) {
  MailProfile profile;
  if (!ParseMailProfile(itemPath, profile)) return false;
  std::string listPath;
  if (!PrepareRestoreFile(archive, disk, packed, setFolder, itemFolder, kOutlookFile, listPath))
    return false;

  bool result = false;
  {
    CTextFile list(listPath, "rt");
    if (list.IsOpen()) {
      result = true;
      std::string itemDirectory = setFolder + itemFolder + "\\";
      StreamSource source(list.Get());
      StoreLine line;
      // A line without three words ends the map; one naming no file of the
      // set, or no store, fails it.
      while (result) {
        StoreLineRead read = ReadStoreLine(source, line);
        if (read == StoreLineRead::End) break;
        if (read == StoreLineRead::Refused) {
          result = false;
          break;
        }
        std::string storePath = EscapesToBlanks(VariablesToFolders(line.storedPath));
        if (storePath.size() > kMaxStorePath || !WriteStorePath(profile, line.id, storePath)) {
          result = false;
          break;
        }
        result = packed ? archive.UnpackFile(itemFolder + "\\" + line.fileName, storePath)
                        : disk.CopyFileAs(itemDirectory + line.fileName, storePath);
      }
    }
  }
  if (packed) disk.RemoveFile(listPath);
  return result;
}

std::uint64_t MailProfileSize(const std::string& itemPath, CDiskObject& disk) {
  MailProfile profile;
  if (!ParseMailProfile(itemPath, profile)) return 0;
  std::vector<std::string> ids;
  if (ReadStoreIds(profile, ids) != ValueRead::Ok) return 0;
  std::uint64_t total = 0;
  for (const std::string& id : ids) {
    std::string storePath;
    if (ReadStorePath(profile, id, storePath) == ValueRead::Ok) total += disk.FileSize(storePath);
  }
  return total;
}

// ------------------------------------------------------------ import at the next start

bool RestoreAtStartup(CDiskObject& disk, const std::string& setFolder,
                      const std::string& itemFolder) {
  SetRebootNeeded(true);
  // The registry file is the entry's. A catalogue item's folder ends with
  // the item's own name, which the file's name doesn't carry: without a file
  // for the whole folder, the entry's file is the one meant.
  std::string dotted = ReplaceAll(itemFolder, "\\", ".");
  size_t last = itemFolder.rfind('\\');
  if (!disk.FileExists(setFolder + kRegistryFolder + "\\" + dotted + ".xml") && last != std::string::npos)
    dotted = ReplaceAll(itemFolder.substr(0, last), "\\", ".");
  std::string temporary = TemporaryFolder();
  std::string program = ProgramPath();
  if (temporary.empty() || program.empty()) return false;
  std::string copy = CDiskObject::JoinPath(temporary, dotted + ".xml");
  // The copy must be this set's file: a pending one from an earlier restore
  // would otherwise be kept by the overwrite policy.
  if (disk.FileExists(copy)) disk.RemoveFile(copy);
  if (!disk.CopyFileAs(setFolder + kRegistryFolder + "\\" + dotted + ".xml", copy)) return false;

  // The program's path is quoted, or a path with blanks would start another
  // program (or none).
  std::string command = "\"" + program + "\"" + kStartupImportSwitches + BlanksToEscapes(copy) +
                        kStartupDeleteSwitch;
  CRegKey runOnce;
  if (runOnce.Create(HKEY_LOCAL_MACHINE, kRunOnceKey, KEY_SET_VALUE) != ERROR_SUCCESS) return false;
  return RegSetValueExA(runOnce.Get(), dotted.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(command.c_str()),
                        static_cast<DWORD>(command.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

// ------------------------------------------------------------ public operations

bool BackupSpecialItem(const std::string& itemPath, ArchiveWriter& archive, CDiskObject& disk,
                       bool packed, const std::string& setFolder, const std::string& itemFolder) {
  switch (SpecialKindOf(itemPath)) {
    case SpecialKind::Cookies:
      return BackupCacheItem(ExportCookies, kCookiesFile, archive, disk, packed, setFolder,
                             itemFolder);
    case SpecialKind::History:
      return BackupCacheItem(ExportHistory, kHistoryFile, archive, disk, packed, setFolder,
                             itemFolder);
    case SpecialKind::Outlook:
      return BackupMailProfile(itemPath, archive, disk, packed, setFolder, itemFolder);
    case SpecialKind::LoadRegAtStartup:
      return true;  // its registry file is written like any other item's
    case SpecialKind::Unknown:
      break;
  }
  return false;
}

bool RestoreSpecialItem(const std::string& itemPath, ArchiveReader& archive, CDiskObject& disk,
                        bool packed, const std::string& setFolder, const std::string& itemFolder) {
  switch (SpecialKindOf(itemPath)) {
    case SpecialKind::Cookies:
      return RestoreCacheItem(ImportCookies, kCookiesFile, archive, disk, packed, setFolder,
                              itemFolder);
    case SpecialKind::History:
      return RestoreCacheItem(ImportHistory, kHistoryFile, archive, disk, packed, setFolder,
                              itemFolder);
    case SpecialKind::Outlook:
      return RestoreMailProfile(itemPath, archive, disk, packed, setFolder, itemFolder);
    case SpecialKind::LoadRegAtStartup:
      return RestoreAtStartup(disk, setFolder, itemFolder);
    case SpecialKind::Unknown:
      break;
  }
  return false;
}

std::uint64_t SpecialItemSize(const std::string& itemPath, CDiskObject& disk) {
  switch (SpecialKindOf(itemPath)) {
    case SpecialKind::Cookies:
      return 64000;
    case SpecialKind::History: {
      std::optional<std::string> folder = GetSpecialFolder("History");
      return folder ? disk.FolderSize(*folder, true) : 0;
    }
    case SpecialKind::Outlook:
      return MailProfileSize(itemPath, disk);
    case SpecialKind::LoadRegAtStartup:
    case SpecialKind::Unknown:
      break;
  }
  return 0;
}

bool ExportCookies(std::FILE* stream) {
  CUrlCacheWalk walk;
  DWORD status = walk.First(kCookiePattern);
  for (; status == ERROR_SUCCESS; status = walk.Next()) {
    const INTERNET_CACHE_ENTRY_INFOA& entry = *walk.Entry();
    std::string host;
    if (!AddressOf(entry, host)) {
      WriteLog(kLogNoCookieAddress +
               Shortened(entry.lpszSourceUrlName ? entry.lpszSourceUrlName : ""));
      continue;
    }
    std::string address = kHttpPrefix + host;
    if (address.size() > kMaxCookieAddress) {
      WriteLog(kLogCookieAddressTooLong + Shortened(address));
      continue;
    }
    std::string cookies;
    if (!CookiesFor(address, cookies)) return false;
    if (!WriteText(stream, FormatCookieRecord(address, entry.ExpireTime.dwHighDateTime,
                                              entry.ExpireTime.dwLowDateTime, cookies)))
      return false;
  }
  return status == ERROR_NO_MORE_ITEMS;
}

bool ExportHistory(std::FILE* stream) {
  CUrlCacheWalk walk;
  DWORD status = walk.First(kVisitedPattern);
  for (; status == ERROR_SUCCESS; status = walk.Next()) {
    std::string address;
    if (!AddressOf(*walk.Entry(), address)) continue;
    if (!WriteText(stream, FormatHistoryLine(address))) return false;
  }
  return status == ERROR_NO_MORE_ITEMS;
}

bool ImportCookies(std::FILE* stream) {
  StreamSource source(stream);
  CookieFileReader reader(source);
  std::string address, expiry;
  for (;;) {
    CookieFileEntry entry = reader.Next();
    switch (entry.kind) {
      case CookieFileEntry::Kind::End:
        return !source.Failed();
      case CookieFileEntry::Kind::Record:
      case CookieFileEntry::Kind::Damaged:
        // A record whose address is too long is read over and left out.
        address = entry.text;
        if (entry.tooLong) WriteLog(kLogCookieAddressTooLong + Shortened(address));
        if (entry.kind == CookieFileEntry::Kind::Damaged) return false;
        if (!FormatExpiry(entry.expiryHigh, entry.expiryLow, expiry)) return false;
        break;
      case CookieFileEntry::Kind::Cookie:
        if (entry.tooLong)
          WriteLog(kLogCookieTooLong + address);
        else if (!SetCookie(address, entry.text + expiry))
          return false;
        break;
    }
  }
}

bool ImportHistory(std::FILE* stream) {
  CComSession com;
  CComRef<IUrlHistoryStg> history;
  if (FAILED(CreateComObject(kUrlHistoryClass, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                             kUrlHistoryStore, history.ReceiveVoid())))
    return false;
  StreamSource source(stream);
  std::string token;
  for (TokenRead read; (read = ReadHistoryAddress(source, token)) != TokenRead::End;) {
    int units = read == TokenRead::Ok ? MultiByteToWideChar(CP_ACP, 0, token.c_str(), -1, NULL, 0)
                                      : 0;
    // `units` counts the terminator.
    if (units <= 0 || static_cast<size_t>(units) > kMaxHistoryAddress + 1) {
      WriteLog(kLogHistoryAddressTooLong + Shortened(token));
      continue;
    }
    std::vector<wchar_t> address(units);
    MultiByteToWideChar(CP_ACP, 0, token.c_str(), -1, address.data(), units);
    // A store that refuses one address may still take the others.
    history->AddUrl(address.data(), NULL, 0);
  }
  return true;
}
