// Owns one kernel object handle and closes it on every path.
#pragma once

#include <windows.h>

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
