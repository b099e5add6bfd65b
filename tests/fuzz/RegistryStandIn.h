// A computer held in memory for the catalogue's evaluation off Windows: a
// registry of keys and values, special folders, a folder tree and a Windows
// version, filled in by the test or the fuzz input. Subkeys are bounded per
// key and in how many a run may be given, so that no foreach, however
// nested, can go on for ever.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "catalogue/CatalogueSystem.h"

class CRegistryStandIn : public CatalogueSystem {
 public:
  static const size_t kMaxSubkeys = 16;

  CRegistryStandIn() { Clear(); }
  // Empties everything but the five roots; the version becomes "XP".
  void Clear();
  // Makes the key and every key above it. False for an unknown root or when
  // a key would get more than kMaxSubkeys subkeys.
  bool AddKey(const std::string& path);
  // A value path as ReadRegistryValue takes it; its key is made.
  bool SetValue(const std::string& path, const std::string& data);
  void SetSpecialFolder(const std::string& name, const std::string& folder);
  // Makes the folder and every folder above it.
  void AddFolder(const std::string& folder);
  void SetWindowsVersion(const std::string& tag) { m_version = tag; }
  // After this many subkeys have been given, there are no more.
  void LimitSubkeys(unsigned count) { m_subkeysLeft = count; }
  // Every question asked since Clear.
  unsigned long Questions() const { return m_questions; }
  const std::vector<std::string>& LogLines() const { return m_log; }

  // Lines "K key", "V value=data", "S name=folder", "D folder", "W tag";
  // others are ignored.
  void Describe(const std::string& lines);

  std::optional<std::string> ReadValue(const std::string& path) override;
  bool KeyExists(const std::string& path) override;
  std::optional<std::string> Subkey(const std::string& path, unsigned index) override;
  bool IsWindowsVersion(const std::string& list) override;
  std::optional<std::string> SpecialFolder(const std::string& name) override;
  std::optional<std::vector<std::string>> SubFolders(const std::string& folder) override;
  void Log(const std::string& text) override { m_log.push_back(text); }

 private:
  struct CKey {
    std::vector<std::string> subkeys;           // in name order
    std::map<std::string, std::string> values;  // by lower-case name
  };
  struct CFolder {
    std::vector<std::string> subFolders;
  };
  // The key of a path ("ROOT\a\b"), or nullptr.
  CKey* Find(const std::string& path, size_t limit);

  std::map<std::string, CKey> m_keys;  // by lower-case path
  std::map<std::string, std::string> m_specialFolders;
  std::map<std::string, CFolder> m_folders;
  std::string m_version;
  unsigned m_subkeysLeft = ~0u;
  unsigned long m_questions = 0;
  std::vector<std::string> m_log;
};

// The stand-in that CurrentCatalogueSystem() answers with off Windows.
CRegistryStandIn& RegistryStandIn();
