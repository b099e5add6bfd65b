#include "support/TestSupport.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "base/Win32Handle.h"

namespace {

std::string GetEnv(const char* name) {
  char buffer[4096];
  DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string path = folder + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link to a folder elsewhere: only the link goes.
        RemoveDirectoryA(path.c_str());
      } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path + "\\");
      } else {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(folder.c_str());
}

}  // namespace

CTemporaryFolder::CTemporaryFolder() {
  char base[MAX_PATH];
  GetTempPathA(sizeof base, base);
  static unsigned counter = 0;
  // Wine hands out the same process ids again, so a folder an interrupted
  // run left behind may hold the name: take the next one.
  for (;;) {
    char name[64];
    std::snprintf(name, sizeof name, "qmtest-%lu-%u\\", GetCurrentProcessId(), ++counter);
    m_path = std::string(base) + name;
    if (CreateDirectoryA(m_path.c_str(), NULL)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("no temporary folder");
  }
  m_oldTmp = GetEnv("TMP");
  m_oldTemp = GetEnv("TEMP");
  SetEnvironmentVariableA("TMP", m_path.c_str());
  SetEnvironmentVariableA("TEMP", m_path.c_str());
}

CTemporaryFolder::~CTemporaryFolder() {
  SetEnvironmentVariableA("TMP", m_oldTmp.empty() ? NULL : m_oldTmp.c_str());
  SetEnvironmentVariableA("TEMP", m_oldTemp.empty() ? NULL : m_oldTemp.c_str());
  RemoveTree(m_path);
}

namespace {
const char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";
}  // namespace

std::string ReadPendingRenames(bool& present) {
  HKEY key;
  present = false;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return std::string();
  DWORD size = 0;
  std::string data;
  if (RegQueryValueExA(key, kPendingRenames, NULL, NULL, NULL, &size) == ERROR_SUCCESS) {
    data.resize(size);
    present = RegQueryValueExA(key, kPendingRenames, NULL, NULL,
                               reinterpret_cast<BYTE*>(&data[0]), &size) == ERROR_SUCCESS;
    data.resize(present ? size : 0);
  }
  RegCloseKey(key);
  return data;
}

void RestorePendingRenames(bool present, const std::string& data) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  if (present)
    RegSetValueExA(key, kPendingRenames, 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
  else
    RegDeleteValueA(key, kPendingRenames);
  RegCloseKey(key);
}

std::string ReadWholeFile(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return std::string();
  std::string data;
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, count);
  fclose(file);
  return data;
}

void WriteWholeFile(const std::string& path, const std::string& data) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("can't write " + path);
  fwrite(data.data(), 1, data.size(), file);
  fclose(file);
}

bool FileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void DeleteKeyTree(const std::string& path) {
  const std::string prefix = "HKEY_CURRENT_USER\\";
  if (path.compare(0, prefix.size(), prefix) != 0) throw std::runtime_error("test keys live in HKCU");
  SHDeleteKeyA(HKEY_CURRENT_USER, path.substr(prefix.size()).c_str());
}

std::string ProgramFolder() {
  char buffer[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, buffer, sizeof buffer);
  std::string path(buffer, length);
  return path.substr(0, path.rfind('\\') + 1);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      if (start < text.size()) lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
}

Finished RunCommand(const std::string& commandLine, const std::string& input,
                    const std::string& folder) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
  HANDLE outRead, outWrite, inRead, inWrite;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) throw std::runtime_error("pipe");
  if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) throw std::runtime_error("pipe");
  CHandle outReader(outRead), outWriter(outWrite), inReader(inRead), inWriter(inWrite);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead;
  startup.hStdOutput = outWrite;
  startup.hStdError = outWrite;
  PROCESS_INFORMATION process = {};
  std::string line = commandLine;
  if (!CreateProcessA(NULL, &line[0], NULL, NULL, TRUE, 0, NULL,
                      folder.empty() ? NULL : folder.c_str(), &startup, &process))
    throw std::runtime_error("can't start " + commandLine);
  CHandle processHandle(process.hProcess), thread(process.hThread);
  outWriter.Reset();
  inReader.Reset();

  DWORD written;
  if (!input.empty())
    WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, NULL);
  inWriter.Reset();

  // Read until the program ends, not until the pipe closes: a helper the
  // program started (Wine's desktop process, say) may hold the pipe open.
  Finished result = {};
  char buffer[4096];
  DWORD deadline = GetTickCount() + 600000;
  for (bool ended = false; !ended;) {
    ended = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0 ||
            static_cast<int>(deadline - GetTickCount()) < 0;
    DWORD available = 0, read = 0;
    while (PeekNamedPipe(outRead, NULL, 0, NULL, &available, NULL) && available > 0 &&
           ReadFile(outRead, buffer, std::min<DWORD>(available, sizeof buffer), &read, NULL) &&
           read > 0)
      result.output.append(buffer, read);
  }
  GetExitCodeProcess(process.hProcess, &result.status);
  return result;
}

Finished RunProgram(const std::string& program, const std::string& arguments,
                    const std::string& input) {
  return RunCommand("\"" + ProgramFolder() + program + "\" " + arguments, input);
}
