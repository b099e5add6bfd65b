// Owners of drawing objects. Windows 95 and 98 share a small heap of them
// across every program, so a paint that forgets one soon costs the whole
// desktop its drawing; these give each back on every path.
#pragma once

#include <windows.h>

// A font, brush, pen or bitmap, deleted with its owner.
template <typename Handle>
class CGdiObject {
 public:
  CGdiObject() = default;
  explicit CGdiObject(Handle handle) : m_handle(handle) {}
  CGdiObject(const CGdiObject&) = delete;
  CGdiObject& operator=(const CGdiObject&) = delete;
  CGdiObject(CGdiObject&& other) noexcept : m_handle(other.Release()) {}
  CGdiObject& operator=(CGdiObject&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~CGdiObject() { Reset(); }

  Handle Get() const { return m_handle; }
  Handle Release() {
    Handle handle = m_handle;
    m_handle = NULL;
    return handle;
  }
  void Reset(Handle handle = NULL) {
    if (m_handle != NULL) DeleteObject(m_handle);
    m_handle = handle;
  }

 private:
  Handle m_handle = NULL;
};

using CFont = CGdiObject<HFONT>;
using CBitmap = CGdiObject<HBITMAP>;
using CBrush = CGdiObject<HBRUSH>;

// A memory device context compatible with another one.
class CMemoryDC {
 public:
  explicit CMemoryDC(HDC compatibleWith) : m_dc(CreateCompatibleDC(compatibleWith)) {}
  CMemoryDC(const CMemoryDC&) = delete;
  CMemoryDC& operator=(const CMemoryDC&) = delete;
  ~CMemoryDC() {
    if (m_dc != NULL) DeleteDC(m_dc);
  }
  HDC Get() const { return m_dc; }

 private:
  HDC m_dc;
};

// Selects an object into a device context for its own lifetime, so that the
// context's first object is back before either is deleted.
class CSelection {
 public:
  CSelection(HDC dc, HGDIOBJ object)
      : m_dc(dc), m_previous(object != NULL ? SelectObject(dc, object) : NULL) {}
  CSelection(const CSelection&) = delete;
  CSelection& operator=(const CSelection&) = delete;
  ~CSelection() {
    if (m_previous != NULL) SelectObject(m_dc, m_previous);
  }

 private:
  HDC m_dc;
  HGDIOBJ m_previous;
};
