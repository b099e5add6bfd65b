// Owners of Win32 handles that close them on every path.
#pragma once

#include <windows.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

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

// A library loaded by name. Entry points are looked up rather than linked,
// so that a library Windows 95 or NT 4.0 may lack costs only its feature.
class CLibrary {
 public:
  constexpr CLibrary() = default;
  // nullptr loads nothing: the owner then finds no entry.
  explicit CLibrary(const char* name) { Load(name); }
  CLibrary(const CLibrary&) = delete;
  CLibrary& operator=(const CLibrary&) = delete;
  CLibrary(CLibrary&& other) noexcept : m_module(other.Release()) {}
  CLibrary& operator=(CLibrary&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~CLibrary() { Reset(); }

  // Frees the library held so far; false when `name` can't be loaded.
  bool Load(const char* name) {
    Reset(name != nullptr ? LoadLibraryA(name) : NULL);
    return m_module != NULL;
  }
  // The entry point, or nullptr when the library or the entry is missing.
  template <typename Function>
  Function Find(const char* name) const {
    if (m_module == NULL) return nullptr;
    FARPROC entry = GetProcAddress(m_module, name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(entry));
  }
  HMODULE Get() const { return m_module; }
  HMODULE Release() {
    HMODULE module = m_module;
    m_module = NULL;
    return module;
  }
  void Reset(HMODULE module = NULL) {
    if (m_module != NULL) FreeLibrary(m_module);
    m_module = module;
  }

 private:
  HMODULE m_module = NULL;
};

// A library loaded the first time one of its entries is asked for, and kept
// until the process ends, as an import would be. For libraries only some
// runs use: an import is loaded and initialised on every start, which under
// Wine costs each run of the console program whether it needs the library
// or not, and one that Windows lacks (WinINet on a Windows 95 without
// Internet Explorer) keeps the program from starting at all.
class CLibraryOnDemand {
 public:
  explicit constexpr CLibraryOnDemand(const char* name) : m_name(name) {}
  CLibraryOnDemand(const CLibraryOnDemand&) = delete;
  CLibraryOnDemand& operator=(const CLibraryOnDemand&) = delete;

  // The entry point, or nullptr (the thread's last error set) when the
  // library or the entry is missing.
  template <typename Function>
  Function Find(const char* entry) {
    std::call_once(m_loaded, [this] { m_module = LoadLibraryA(m_name); });
    if (m_module == NULL) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    FARPROC found = GetProcAddress(m_module, entry);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
  }

 private:
  const char* m_name;
  std::once_flag m_loaded;
  HMODULE m_module = NULL;
};

// Owns one handle of a kind that NULL marks as none; `Closer` gives it
// back.
template <typename Handle, typename Closer>
class CHandleOwner {
 public:
  CHandleOwner() = default;
  explicit CHandleOwner(Handle handle) : m_handle(handle) {}
  CHandleOwner(const CHandleOwner&) = delete;
  CHandleOwner& operator=(const CHandleOwner&) = delete;
  CHandleOwner(CHandleOwner&& other) noexcept : m_handle(other.Release()) {}
  CHandleOwner& operator=(CHandleOwner&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~CHandleOwner() { Reset(); }

  Handle Get() const { return m_handle; }
  Handle Release() {
    Handle handle = m_handle;
    m_handle = NULL;
    return handle;
  }
  void Reset(Handle handle = NULL) {
    if (m_handle != NULL) Closer()(m_handle);
    m_handle = handle;
  }

 private:
  Handle m_handle = NULL;
};

struct CServiceClose {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
// A service control manager or service handle.
using CServiceHandle = CHandleOwner<SC_HANDLE, CServiceClose>;

// Frees a block from the process heap, for std::unique_ptr.
struct CHeapFree {
  void operator()(void* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
template <typename T>
using CHeapBlock = std::unique_ptr<T, CHeapFree>;

// Destroys a menu with its submenus, for std::unique_ptr.
struct CMenuDestroy {
  void operator()(HMENU menu) const { DestroyMenu(menu); }
};
using CMenuHandle = std::unique_ptr<std::remove_pointer_t<HMENU>, CMenuDestroy>;

// One C runtime stream, closed when its owner goes.
class CStdFile {
 public:
  constexpr CStdFile() = default;
  explicit CStdFile(std::FILE* file) : m_file(file) {}
  CStdFile(const CStdFile&) = delete;
  CStdFile& operator=(const CStdFile&) = delete;
  CStdFile(CStdFile&& other) noexcept : m_file(other.Release()) {}
  CStdFile& operator=(CStdFile&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~CStdFile() { Reset(); }

  std::FILE* Get() const { return m_file; }
  std::FILE* Release() {
    std::FILE* file = m_file;
    m_file = nullptr;
    return file;
  }
  void Reset(std::FILE* file = nullptr) {
    if (m_file != nullptr) std::fclose(m_file);
    m_file = file;
  }

 private:
  std::FILE* m_file = nullptr;
};
