// Owners of drawing objects. Windows 95 and 98 share a small heap of them
// across every program, so a paint that forgets one soon costs the whole
// desktop its drawing; these give each back on every path.
#pragma once

#include <windows.h>

#include "base/Win32Handle.h"

struct CGdiDelete {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
// A font, brush, pen or bitmap, deleted with its owner.
template <typename Handle>
using CGdiObject = CHandleOwner<Handle, CGdiDelete>;

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
