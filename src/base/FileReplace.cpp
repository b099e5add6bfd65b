#include "base/FileReplace.h"

#include <windows.h>

namespace {

// A free name beside the target for the old file while it is replaced.
std::string NameAside(const std::string& target) {
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    std::string name = target + ".qm" + std::to_string(GetTickCount() % 1000 + attempt) + "~";
    if (GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) return name;
  }
  return std::string();
}

}  // namespace

bool MoveFileOver(const std::string& source, const std::string& target) {
  if (MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  return MoveFileOverInSteps(source, target);
}

bool MoveFileOverInSteps(const std::string& source, const std::string& target) {
  if (GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES)
    return MoveFileA(source.c_str(), target.c_str()) != FALSE;
  std::string aside = NameAside(target);
  if (aside.empty()) {
    SetLastError(ERROR_FILE_EXISTS);
    return false;
  }
  if (!MoveFileA(target.c_str(), aside.c_str())) return false;
  if (!MoveFileA(source.c_str(), target.c_str())) {
    DWORD error = GetLastError();
    MoveFileA(aside.c_str(), target.c_str());
    SetLastError(error);
    return false;
  }
  SetFileAttributesA(aside.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(aside.c_str());
  return true;
}
