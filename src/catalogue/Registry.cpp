#include "catalogue/Registry.h"

#include "base/LocaleText.h"
#include "catalogue/RegistryKey.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

HKEY RootKeyByName(const std::string& name) {
  static const struct {
    const char* name;
    HKEY key;
  } kRoots[] = {
      {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},   {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
      {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {"HKEY_USERS", HKEY_USERS},
      {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
  };
  for (const auto& root : kRoots) {
    if (SameText(name, root.name)) return root.key;
  }
  return NULL;
}

namespace {

// Splits "ROOT\rest" into the predefined key and the rest. Unknown roots,
// paths without a backslash and paths over `limit` characters fail.
bool SplitRoot(const std::string& path, size_t limit, HKEY& root, std::string& rest) {
  if (path.size() > limit) return false;
  size_t slash = path.find('\\');
  if (slash == std::string::npos) return false;
  root = RootKeyByName(path.substr(0, slash));
  if (root == NULL) return false;
  rest = path.substr(slash + 1);
  return true;
}

// Splits a value path into its key (root and key path) and value name.
bool SplitValuePath(const std::string& path, HKEY& root, std::string& key, std::string& value) {
  std::string rest;
  if (!SplitRoot(path, kMaxRegistryPath, root, rest)) return false;
  size_t slash = rest.rfind('\\');
  if (slash == std::string::npos) {
    key.clear();
    value = rest;
  } else {
    key = rest.substr(0, slash);
    value = rest.substr(slash + 1);
  }
  return true;
}

// The name of subkey `index`, or nothing.
std::optional<std::string> SubkeyName(HKEY key, unsigned index) {
  char name[kMaxRegistryResult + 1];
  DWORD length = sizeof name;
  FILETIME written;
  if (RegEnumKeyExA(key, index, name, &length, NULL, NULL, NULL, &written) != ERROR_SUCCESS)
    return std::nullopt;
  return std::string(name, length);
}

// Subkeys first: NT deletes only keys without any.
LONG DeleteKeyAndBelow(HKEY parent, const std::string& name) {
  {
    CRegKey key;
    LONG status = key.Open(parent, name, KEY_READ);
    if (status != ERROR_SUCCESS) return status;
    // Each deletion renumbers the rest, so the first one is always next.
    while (std::optional<std::string> subkey = SubkeyName(key.Get(), 0)) {
      status = DeleteKeyAndBelow(key.Get(), *subkey);
      if (status != ERROR_SUCCESS) return status;
    }
  }
  return RegDeleteKeyA(parent, name.c_str());
}

// One value of an open key as text, cut at its first NUL.
std::optional<std::string> QueryText(HKEY key, const std::string& value) {
  char data[kMaxRegistryResult + 1];
  DWORD size = kMaxRegistryResult;
  if (RegQueryValueExA(key, value.c_str(), NULL, NULL, reinterpret_cast<BYTE*>(data), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  data[std::min<DWORD>(size, kMaxRegistryResult)] = '\0';
  return std::string(data, strnlen(data, size));
}

}  // namespace

std::optional<std::string> ReadRegistryValue(const std::string& path) {
  HKEY root;
  std::string key, value;
  if (!SplitValuePath(path, root, key, value)) return std::nullopt;
  CRegKey handle;
  if (handle.Open(root, key, KEY_READ) != ERROR_SUCCESS) return std::nullopt;
  return QueryText(handle.Get(), value);
}

std::optional<std::string> CRegistryValueReader::Read(const std::string& path) {
  HKEY root;
  std::string key, value;
  if (!SplitValuePath(path, root, key, value)) return std::nullopt;
  auto found = m_keys.find({root, key});
  if (found == m_keys.end()) {
    found = m_keys.emplace(std::make_pair(root, key), COpened()).first;
    found->second.open = found->second.key.Open(root, key, KEY_READ) == ERROR_SUCCESS;
  }
  if (!found->second.open) return std::nullopt;
  return QueryText(found->second.key.Get(), value);
}

std::optional<RegistryData> ReadRegistryData(const std::string& path) {
  HKEY root;
  std::string key, value;
  if (!SplitValuePath(path, root, key, value)) return std::nullopt;
  CRegKey handle;
  if (handle.Open(root, key, KEY_READ) != ERROR_SUCCESS) return std::nullopt;
  RegistryData data;
  DWORD size = 0;
  if (RegQueryValueExA(handle.Get(), value.c_str(), NULL, &data.type, NULL, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  // The value may change between the two calls; it is asked for again at
  // its new size.
  LONG status;
  do {
    data.bytes.resize(size);
    status = RegQueryValueExA(handle.Get(), value.c_str(), NULL, &data.type,
                              reinterpret_cast<BYTE*>(&data.bytes[0]), &size);
  } while (status == ERROR_MORE_DATA);
  if (status != ERROR_SUCCESS) return std::nullopt;
  data.bytes.resize(size);
  return data;
}

bool RegistryKeyExists(const std::string& path) {
  HKEY root;
  std::string key;
  if (!SplitRoot(path, kMaxRegistryKeyExistsPath, root, key)) return false;
  CRegKey handle;
  return handle.Open(root, key, KEY_READ) == ERROR_SUCCESS;
}

std::optional<std::string> EnumRegistrySubkey(const std::string& path, unsigned index) {
  HKEY root;
  std::string key, last;
  if (!SplitValuePath(path, root, key, last)) return std::nullopt;
  CRegKey handle;
  if (handle.Open(root, key, KEY_READ) != ERROR_SUCCESS) return std::nullopt;
  return SubkeyName(handle.Get(), index);
}

std::optional<std::string> FindFirstLeafKey(const std::string& path) {
  HKEY root;
  std::string key;
  if (!SplitRoot(path, kMaxRegistryPath, root, key)) return std::nullopt;
  CRegKey top;
  if (top.Open(root, key, KEY_READ) != ERROR_SUCCESS) return std::nullopt;
  std::string relative;
  for (;;) {
    CRegKey current;
    if (current.Open(top.Get(), relative, KEY_READ) != ERROR_SUCCESS) return std::nullopt;
    std::optional<std::string> first = SubkeyName(current.Get(), 0);
    if (!first) return relative;
    std::string deeper = relative.empty() ? *first : relative + "\\" + *first;
    if (deeper.size() > kMaxRegistryResult) return std::nullopt;
    relative = deeper;
  }
}

bool CreateRegistryKey(const std::string& path) {
  HKEY root;
  std::string key;
  if (!SplitRoot(path, kMaxRegistryPath, root, key)) return false;
  CRegKey handle;
  return handle.Create(root, key, KEY_WRITE) == ERROR_SUCCESS;
}

bool WriteRegistryValue(const std::string& path, const char* data, size_t size) {
  HKEY root;
  std::string key, value;
  if (!SplitValuePath(path, root, key, value)) return false;
  CRegKey handle;
  if (handle.Open(root, key, KEY_WRITE) != ERROR_SUCCESS) return false;
  LONG status;
  if (size == 0) {
    status = RegSetValueExA(handle.Get(), value.c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(data),
                            static_cast<DWORD>(std::strlen(data) + 1));
  } else {
    status = RegSetValueExA(handle.Get(), value.c_str(), 0, REG_BINARY,
                            reinterpret_cast<const BYTE*>(data), static_cast<DWORD>(size));
  }
  return status == ERROR_SUCCESS;
}

bool DeleteRegistryKey(const std::string& path) {
  HKEY root;
  std::string key;
  if (!SplitRoot(path, kMaxRegistryPath, root, key)) return false;
  // An empty key path would name the root itself.
  if (key.empty()) return false;
  return RegDeleteKeyA(root, key.c_str()) == ERROR_SUCCESS;
}

bool DeleteRegistryTree(const std::string& path) {
  HKEY root;
  std::string key;
  if (!SplitRoot(path, kMaxRegistryPath, root, key)) return false;
  if (key.empty()) return false;
  return DeleteKeyAndBelow(root, key) == ERROR_SUCCESS;
}

std::string WindowsVersionTag(unsigned long platform, unsigned long major, unsigned long minor) {
  switch (platform) {
    case VER_PLATFORM_WIN32s:
      return "32";
    case VER_PLATFORM_WIN32_WINDOWS:
      if (major != 4) return "";
      if (minor == 0) return "95";
      if (minor == 10) return "98";
      if (minor == 90) return "ME";
      return "";
    case VER_PLATFORM_WIN32_NT:
      if (major <= 4) return "NT";
      if (major == 5 && minor == 0) return "2000";
      if (major == 5 && minor == 1) return "XP";
      if (major == 5 && minor == 2) return "2003";
      return "";
    default:
      return "";
  }
}

bool IsWindowsVersion(const std::string& list) {
  OSVERSIONINFOEXA extended = {};
  extended.dwOSVersionInfoSize = sizeof extended;
  OSVERSIONINFOA& basic = reinterpret_cast<OSVERSIONINFOA&>(extended);
  if (!GetVersionExA(&basic)) {
    basic.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    if (!GetVersionExA(&basic)) return false;
  }
  std::string tag =
      WindowsVersionTag(basic.dwPlatformId, basic.dwMajorVersion, basic.dwMinorVersion);
  if (tag.empty()) return false;
  std::string upper = list;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper.find(tag) != std::string::npos;
}
