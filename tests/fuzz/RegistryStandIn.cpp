#include "RegistryStandIn.h"

#include <algorithm>
#include <cctype>

namespace {

const char* const kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                              "HKEY_USERS", "HKEY_CURRENT_CONFIG"};
// The registry's limits on what it is asked, as Registry.h has them.
const size_t kMaxPath = 511;
const size_t kMaxKeyExistsPath = 1023;
const size_t kMaxResult = 1023;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool IsRoot(const std::string& name) {
  return std::find(std::begin(kRoots), std::end(kRoots), Upper(name)) != std::end(kRoots);
}

// Subkeys and folders come in name order, letter case ignored, as the
// registry and the file system give them.
void InsertInOrder(std::vector<std::string>& names, const std::string& name) {
  auto at = std::lower_bound(names.begin(), names.end(), name,
                             [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
  names.insert(at, name);
}

std::string WithoutTrailingSlashes(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// "ROOT\a\b" split at its backslashes; empty when the root is unknown or a
// component is empty.
std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  std::string trimmed = WithoutTrailingSlashes(path);
  size_t start = 0;
  for (;;) {
    size_t slash = trimmed.find('\\', start);
    parts.push_back(trimmed.substr(start, slash == std::string::npos ? slash : slash - start));
    if (parts.back().empty()) return {};
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts;
}

}  // namespace

void CRegistryStandIn::Clear() {
  m_keys.clear();
  for (const char* root : kRoots) m_keys[Lower(root)];
  m_specialFolders.clear();
  m_folders.clear();
  m_version = "XP";
  m_subkeysLeft = ~0u;
  m_questions = 0;
  m_log.clear();
}

bool CRegistryStandIn::AddKey(const std::string& path) {
  std::vector<std::string> parts = Components(path);
  if (parts.empty() || !IsRoot(parts[0])) return false;
  std::string at = Lower(parts[0]);
  for (size_t i = 1; i < parts.size(); ++i) {
    std::string below = at + "\\" + Lower(parts[i]);
    if (!m_keys.count(below)) {
      CKey& parent = m_keys[at];
      if (parent.subkeys.size() >= kMaxSubkeys) return false;
      InsertInOrder(parent.subkeys, parts[i]);
      m_keys[below];
    }
    at = below;
  }
  return true;
}

bool CRegistryStandIn::SetValue(const std::string& path, const std::string& data) {
  size_t slash = path.rfind('\\');
  if (slash == std::string::npos || !AddKey(path.substr(0, slash))) return false;
  CKey* key = Find(path.substr(0, slash + 1), kMaxKeyExistsPath);
  if (key == nullptr) return false;
  key->values[Lower(path.substr(slash + 1))] = data;
  return true;
}

void CRegistryStandIn::SetSpecialFolder(const std::string& name, const std::string& folder) {
  m_specialFolders[Lower(name)] = folder;
}

void CRegistryStandIn::AddFolder(const std::string& folder) {
  std::string path = WithoutTrailingSlashes(folder);
  std::string at;
  size_t start = 0;
  for (;;) {
    size_t slash = path.find('\\', start);
    std::string name = path.substr(start, slash == std::string::npos ? slash : slash - start);
    if (name.empty()) return;
    std::string below = at.empty() ? Lower(name) : at + "\\" + Lower(name);
    if (!m_folders.count(below)) {
      if (!at.empty()) {
        CFolder& parent = m_folders[at];
        if (parent.subFolders.size() >= kMaxSubkeys) return;
        InsertInOrder(parent.subFolders, name);
      }
      m_folders[below];
    }
    if (slash == std::string::npos) return;
    at = below;
    start = slash + 1;
  }
}

void CRegistryStandIn::Describe(const std::string& lines) {
  size_t start = 0;
  while (start < lines.size()) {
    size_t end = lines.find('\n', start);
    std::string line = lines.substr(start, end == std::string::npos ? end : end - start);
    start = end == std::string::npos ? lines.size() : end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 2 || line[1] != ' ') continue;
    std::string rest = line.substr(2);
    size_t equals = rest.find('=');
    std::string left = rest.substr(0, equals);
    std::string right = equals == std::string::npos ? std::string() : rest.substr(equals + 1);
    switch (line[0]) {
      case 'K': AddKey(rest); break;
      case 'V': SetValue(left, right); break;
      case 'S': SetSpecialFolder(left, right); break;
      case 'D': AddFolder(rest); break;
      case 'W': SetWindowsVersion(rest); break;
      default: break;
    }
  }
}

CRegistryStandIn::CKey* CRegistryStandIn::Find(const std::string& path, size_t limit) {
  if (path.size() > limit) return nullptr;
  size_t slash = path.find('\\');
  if (slash == std::string::npos || !IsRoot(path.substr(0, slash))) return nullptr;
  std::string key = WithoutTrailingSlashes(Lower(path));
  auto found = m_keys.find(key);
  return found == m_keys.end() ? nullptr : &found->second;
}

std::optional<std::string> CRegistryStandIn::ReadValue(const std::string& path) {
  ++m_questions;
  if (path.size() > kMaxPath) return std::nullopt;
  size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return std::nullopt;
  CKey* key = Find(path.substr(0, slash + 1), kMaxPath);
  if (key == nullptr) return std::nullopt;
  auto value = key->values.find(Lower(path.substr(slash + 1)));
  if (value == key->values.end() || value->second.size() > kMaxResult) return std::nullopt;
  return value->second;
}

bool CRegistryStandIn::KeyExists(const std::string& path) {
  ++m_questions;
  return Find(path, kMaxKeyExistsPath) != nullptr;
}

std::optional<std::string> CRegistryStandIn::Subkey(const std::string& path, unsigned index) {
  ++m_questions;
  if (path.size() > kMaxPath) return std::nullopt;
  size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return std::nullopt;
  CKey* key = Find(path.substr(0, slash + 1), kMaxPath);
  if (key == nullptr || index >= key->subkeys.size() || m_subkeysLeft == 0) return std::nullopt;
  --m_subkeysLeft;
  return key->subkeys[index];
}

bool CRegistryStandIn::IsWindowsVersion(const std::string& list) {
  ++m_questions;
  return !m_version.empty() && Upper(list).find(Upper(m_version)) != std::string::npos;
}

std::optional<std::string> CRegistryStandIn::SpecialFolder(const std::string& name) {
  ++m_questions;
  auto found = m_specialFolders.find(Lower(name));
  if (found == m_specialFolders.end()) return std::nullopt;
  return found->second;
}

std::optional<std::vector<std::string>> CRegistryStandIn::SubFolders(const std::string& folder) {
  ++m_questions;
  auto found = m_folders.find(WithoutTrailingSlashes(Lower(folder)));
  if (found == m_folders.end()) return std::nullopt;
  return found->second.subFolders;
}

CRegistryStandIn& RegistryStandIn() {
  static CRegistryStandIn standIn;
  return standIn;
}

CatalogueSystem& CurrentCatalogueSystem() { return RegistryStandIn(); }
