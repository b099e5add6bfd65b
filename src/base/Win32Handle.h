// Owners of Win32 handles that close them on every path.
#pragma once

#include <windows.h>

#include <string>

class CHandle {
 public:
  CHandle() = default;
  explicit CHandle(HANDLE handle) : m_handle(handle) {}
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  CHandle(CHandle&& other) noexcept : m_handle(other.Release()) {}
  CHandle& operator=(CHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~CHandle() { Reset(); }

  HANDLE Get() const { return m_handle; }
  bool Valid() const { return m_handle != NULL && m_handle != INVALID_HANDLE_VALUE; }
  HANDLE Release() {
    HANDLE handle = m_handle;
    m_handle = NULL;
    return handle;
  }
  void Reset(HANDLE handle = NULL) {
    if (Valid()) CloseHandle(m_handle);
    m_handle = handle;
  }

 private:
  HANDLE m_handle = NULL;
};

// Owns one FindFirstFile search.
class CFind {
 public:
  explicit CFind(const std::string& pattern)
      : m_handle(FindFirstFileA(pattern.c_str(), &m_data)) {}
  CFind(const CFind&) = delete;
  CFind& operator=(const CFind&) = delete;
  ~CFind() {
    if (Valid()) FindClose(m_handle);
  }
  bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
  bool Next() { return FindNextFileA(m_handle, &m_data) != 0; }
  const WIN32_FIND_DATAA& Data() const { return m_data; }
  std::string Name() const { return m_data.cFileName; }
  bool IsFolder() const { return (m_data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

 private:
  WIN32_FIND_DATAA m_data;
  HANDLE m_handle;
};
