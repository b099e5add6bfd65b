// A temporary file beside the one it will replace, removed again unless it
// is kept: a copy that fails or is stopped never stays behind.
#pragma once

#include <windows.h>

#include <string>

class CTempFile {
 public:
  CTempFile() = default;
  CTempFile(const CTempFile&) = delete;
  CTempFile& operator=(const CTempFile&) = delete;
  ~CTempFile() { Remove(); }

  // Makes a new empty file in the folder, named with the prefix; false
  // (with the thread's last error) when it can't, or when the folder leaves
  // no room for the name within MAX_PATH.
  bool Create(const std::string& folder, const char* prefix) {
    Remove();
    // GetTempFileName appends up to 14 characters to the folder.
    if (folder.size() + 14 >= MAX_PATH) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    char name[MAX_PATH];
    if (GetTempFileNameA(folder.c_str(), prefix, 0, name) == 0) return false;
    m_path = name;
    return true;
  }
  const std::string& Path() const { return m_path; }
  // The file has taken its place (or will at the next restart): leave it.
  void Keep() { m_path.clear(); }
  void Remove() {
    if (m_path.empty()) return;
    SetFileAttributesA(m_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(m_path.c_str());
    m_path.clear();
  }

 private:
  std::string m_path;
};
