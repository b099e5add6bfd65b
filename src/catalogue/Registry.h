// Registry access by one text per location: a root name
// ("HKEY_CURRENT_USER", ...), a backslash, the key path and, for a value, a
// further backslash and the value name. Each call opens, does one thing and
// closes; failures are a false or empty result and say nothing.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "base/RegistryKey.h"

// Longest path accepted (the key-exists test takes longer ones).
const size_t kMaxRegistryPath = 511;
const size_t kMaxRegistryKeyExistsPath = 1023;
// Longest value data and names returned.
const size_t kMaxRegistryResult = 1023;

// The value's data as text (cut at its first NUL), or nothing when the key
// can't be opened, the value doesn't exist or holds more than 1023 bytes.
// A path ending in a backslash reads the key's default value.
std::optional<std::string> ReadRegistryValue(const std::string& path);
// Reads values as ReadRegistryValue does, but keeps each key it opens for
// the values after it: for many values in a few keys, such as the saved
// choices of a whole catalogue, where an open costs as much as a read.
class CRegistryValueReader {
 public:
  std::optional<std::string> Read(const std::string& path);

 private:
  struct COpened {
    CRegKey key;
    bool open = false;
  };
  std::map<std::pair<HKEY, std::string>, COpened> m_keys;
};
// A value as stored: its type and all its bytes, or nothing when the key
// can't be opened or the value doesn't exist. For values whose type says
// what they hold, such as a secret kept as text or sealed.
struct RegistryData {
  DWORD type = REG_NONE;
  std::string bytes;
};
std::optional<RegistryData> ReadRegistryData(const std::string& path);
bool RegistryKeyExists(const std::string& path);
// The last path component is dropped; the subkey at `index` of the rest.
std::optional<std::string> EnumRegistrySubkey(const std::string& path, unsigned index);
// The relative path of the first leaf below the key, following first
// subkeys down; empty when the key has no subkeys.
std::optional<std::string> FindFirstLeafKey(const std::string& path);
bool CreateRegistryKey(const std::string& path);
// size 0: `data` is a text stored as a string value; otherwise `size` bytes
// stored as a binary value. The key must exist.
bool WriteRegistryValue(const std::string& path, const char* data, size_t size);
// Fails for a key that has subkeys (on NT; Windows 95 would take them all).
bool DeleteRegistryKey(const std::string& path);
// The key with every key below it, the same on every Windows.
bool DeleteRegistryTree(const std::string& path);

// True if the running Windows is named in `list` ("95", "98", "ME", "NT",
// "2000", "XP", "2003", "32"), matched as a substring without regard to case.
bool IsWindowsVersion(const std::string& list);
// The tag of a version as the operating system reports it, or "" for a
// version that no list names.
std::string WindowsVersionTag(unsigned long platform, unsigned long major, unsigned long minor);
