#include "base/SystemPaths.h"

#include <windows.h>

#include <vector>

std::string TemporaryFolder() {
  char buffer[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof buffer, buffer);
  if (length == 0) return std::string();
  if (length < sizeof buffer) return std::string(buffer, length);
  // A longer folder: ask again with the room it needs.
  std::string longer(length, '\0');
  length = GetTempPathA(length + 1, &longer[0]);
  longer.resize(length);
  return longer;
}

std::string ProgramPath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(NULL, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::string();
    // A path that fills the buffer may have been cut: try a larger one.
    if (length < buffer.size() - 1) return std::string(buffer.data(), length);
    if (buffer.size() >= 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}
