// An open registry key owned for its lifetime.
#pragma once

#include <windows.h>

#include <string>

class CRegKey {
 public:
  CRegKey() = default;
  CRegKey(const CRegKey&) = delete;
  CRegKey& operator=(const CRegKey&) = delete;
  CRegKey(CRegKey&& other) noexcept : m_key(other.m_key) { other.m_key = NULL; }
  CRegKey& operator=(CRegKey&& other) noexcept {
    if (this != &other) {
      Close();
      m_key = other.m_key;
      other.m_key = NULL;
    }
    return *this;
  }
  ~CRegKey() { Close(); }

  LONG Open(HKEY parent, const std::string& subkey, REGSAM access) {
    return RegOpenKeyExA(parent, subkey.c_str(), 0, access, Receive());
  }
  // Creates the missing keys along the path as non-volatile keys.
  LONG Create(HKEY parent, const std::string& subkey, REGSAM access) {
    DWORD disposition;
    return RegCreateKeyExA(parent, subkey.c_str(), 0, NULL, REG_OPTION_NON_VOLATILE, access, NULL,
                           Receive(), &disposition);
  }
  void Close() {
    if (m_key != NULL) RegCloseKey(m_key);
    m_key = NULL;
  }
  HKEY Get() const { return m_key; }

 private:
  HKEY* Receive() {
    Close();
    return &m_key;
  }
  HKEY m_key = NULL;
};
