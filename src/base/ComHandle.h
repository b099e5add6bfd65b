// Owners for COM: the library's use on one thread, and interface pointers.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

// The COM library's entries the program uses. OLE is loaded the first time
// one of them is called: most runs never need it. Without the library they
// fail with E_NOTIMPL.
HRESULT StartCom();
void StopCom();
HRESULT CreateComObject(REFCLSID type, DWORD context, REFIID interfaceId, void** object);

// COM on the calling thread for one scope. Declare it before the interface
// pointers, so they are released before COM goes away.
class CComSession {
 public:
  CComSession() : m_result(StartCom()) {}
  CComSession(const CComSession&) = delete;
  CComSession& operator=(const CComSession&) = delete;
  ~CComSession() {
    if (Ready()) StopCom();
  }
  // False when COM could not be started here; a thread already in another
  // apartment is left as it was.
  bool Ready() const { return SUCCEEDED(m_result); }

 private:
  HRESULT m_result;
};

// One COM interface pointer, released on every path.
template <typename T>
class CComRef {
 public:
  CComRef() = default;
  // Takes over a reference the caller already holds.
  explicit CComRef(T* pointer) : m_pointer(pointer) {}
  CComRef(const CComRef&) = delete;
  CComRef& operator=(const CComRef&) = delete;
  CComRef(CComRef&& other) noexcept : m_pointer(other.Release()) {}
  CComRef& operator=(CComRef&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~CComRef() { Reset(); }

  T* operator->() const { return m_pointer; }
  T* Get() const { return m_pointer; }
  // Hands the reference over to the caller; the interface is not released.
  T* Release() {
    T* pointer = m_pointer;
    m_pointer = nullptr;
    return pointer;
  }
  void Reset(T* pointer = nullptr) {
    if (m_pointer != nullptr) m_pointer->Release();
    m_pointer = pointer;
  }
  // For functions that hand out an interface as T**, void** or IUnknown**;
  // whatever was held is released first.
  T** Receive() {
    Reset();
    return &m_pointer;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  IUnknown** ReceiveUnknown() { return reinterpret_cast<IUnknown**>(Receive()); }

 private:
  T* m_pointer = nullptr;
};

// Frees a block the shell handed out (an item id list), for std::unique_ptr.
// The shell's own allocator, not the task allocator: on Windows 95 without
// a newer shell the two differ.
struct CShellFree {
  void operator()(void* block) const {
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator)) || allocator == nullptr) return;
    allocator->Free(block);
    allocator->Release();
  }
};
