// Exports a large key with "backupcmd /e" and imports it into an empty key
// with "/i", side by side with reg.exe's export and import of the same key,
// and prints the time ratios (below 1: faster than reg.exe).
//   registry_bench [values] [subkeys] [spread]
// The values lie in the key itself, beside subkeys of two values each; with
// "spread" they are shared out evenly among the subkeys instead, as in a
// program's tree of settings.
#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/TestSupport.h"

namespace {

const char kKey[] = "Software\\QmBenchSource";
const char kCopy[] = "Software\\QmBenchCopy";

// Value number i, of one of five types by its number.
void SetValue(HKEY key, int i) {
  {
    char name[32];
    std::snprintf(name, sizeof name, "Value%05d", i);
    switch (i % 5) {
      case 0: {
        std::string text = "C:\\Program Files\\Vendor\\Tool " + std::to_string(i);
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
        break;
      }
      case 1: {
        DWORD number = static_cast<DWORD>(i) * 2654435761u;
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof number);
        break;
      }
      case 2: {
        BYTE bytes[48];
        for (int b = 0; b < 48; ++b) bytes[b] = static_cast<BYTE>(i * 7 + b);
        RegSetValueExA(key, name, 0, REG_BINARY, bytes, sizeof bytes);
        break;
      }
      case 3: {
        const char multi[] = "first line\0second line\0third\0";
        RegSetValueExA(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi);
        break;
      }
      default: {
        const char expand[] = "%SystemRoot%\\system32\\tool.dll";
        RegSetValueExA(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand),
                       sizeof expand);
        break;
      }
    }
  }
}

void Fill(int values, int subkeys, bool spread) {
  SHDeleteKeyA(HKEY_CURRENT_USER, kKey);
  HKEY key;
  RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
  if (!spread)
    for (int i = 0; i < values; ++i) SetValue(key, i);
  for (int i = 0; i < subkeys; ++i) {
    HKEY sub;
    std::string name = "Sub" + std::to_string(i);
    RegCreateKeyExA(key, name.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &sub, NULL);
    if (spread)
      for (int v = values * i / subkeys; v < values * (i + 1) / subkeys; ++v) SetValue(sub, v);
    std::string text = "setting " + std::to_string(i);
    RegSetValueExA(sub, "Setting", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    DWORD number = i;
    RegSetValueExA(sub, "Count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), sizeof number);
    RegCloseKey(sub);
  }
  RegCloseKey(key);
}

double Seconds(const std::string& commandLine) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  Finished run = RunCommand(commandLine);
  QueryPerformanceCounter(&end);
  if (run.status != 0 || run.output.find("rror") != std::string::npos) {
    std::printf("command failed: %s\n%s\n", commandLine.c_str(), run.output.c_str());
    std::exit(1);
  }
  return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

// Renames the key inside a file so that importing it fills the empty copy.
void RenameInFile(const std::string& path, const std::string& from, const std::string& to, bool wide) {
  std::string data = ReadWholeFile(path);
  std::string f = from, t = to;
  if (wide) {
    f.clear();
    t.clear();
    for (char c : from) f += c, f += '\0';
    for (char c : to) t += c, t += '\0';
  }
  for (size_t at = 0; (at = data.find(f, at)) != std::string::npos; at += t.size())
    data.replace(at, f.size(), t);
  WriteWholeFile(path, data);
}

}  // namespace

int main(int argc, char** argv) {
  int values = argc > 1 ? std::atoi(argv[1]) : 10000;
  int subkeys = std::max(1, argc > 2 ? std::atoi(argv[2]) : 1000);
  bool spread = argc > 3 && std::string(argv[3]) == "spread";
  CTemporaryFolder temp;
  std::string xml = temp.Path() + "key.xml", reg = temp.Path() + "key.reg";
  std::string ours = "\"" + ProgramFolder() + "backupcmd.exe\"";
  HKEY installed;  // the install marker backupcmd asks for
  RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tervane\\Quillmark", 0, NULL, 0, KEY_ALL_ACCESS,
                  NULL, &installed, NULL);
  RegCloseKey(installed);
  Fill(values, subkeys, spread);
  if (spread) {
    std::printf("key: %d values of five types spread over %d subkeys\n", values, subkeys);
  } else {
    std::printf("key: %d values of five types, %d subkeys with two values each\n", values,
                subkeys);
  }

  // Each side runs three times; the fastest run counts.
  const int kRuns = 3;
  double ourExport = 1e9, regExport = 1e9, ourImport = 1e9, regImport = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    ourExport = std::min(ourExport, Seconds(ours + " /e:HKEY_CURRENT_USER\\" + kKey + " " + xml));
    regExport = std::min(regExport, Seconds("reg.exe export HKCU\\" + std::string(kKey) + " \"" +
                                            reg + "\" /y"));
  }
  RenameInFile(xml, "\"QmBenchSource\"", "\"QmBenchCopy\"", false);
  RenameInFile(reg, "QmBenchSource", "QmBenchCopy", true);
  for (int run = 0; run < kRuns; ++run) {
    SHDeleteKeyA(HKEY_CURRENT_USER, kCopy);
    ourImport = std::min(ourImport, Seconds(ours + " /i " + xml));
    SHDeleteKeyA(HKEY_CURRENT_USER, kCopy);
    regImport = std::min(regImport, Seconds("reg.exe import \"" + reg + "\""));
  }
  // What starting each program costs with no work to do: ours loads the
  // shell and common controls at every start, reg.exe neither.
  double ourStart = 1e9, regStart = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    ourStart = std::min(ourStart, Seconds(ours + " /h x"));
    regStart = std::min(regStart, Seconds("reg.exe query HKCU\\" + std::string(kKey) + "\\Sub0 /v Setting"));
  }
  SHDeleteKeyA(HKEY_CURRENT_USER, kCopy);
  SHDeleteKeyA(HKEY_CURRENT_USER, kKey);

  std::printf("export: backupcmd /e %.3f s, reg export %.3f s, ratio %.2f\n", ourExport, regExport,
              ourExport / regExport);
  std::printf("import: backupcmd /i %.3f s, reg import %.3f s, ratio %.2f\n", ourImport, regImport,
              ourImport / regImport);
  std::printf("start-up alone: backupcmd %.3f s, reg %.3f s\n", ourStart, regStart);
  std::printf("work without start-up: export ratio %.2f, import ratio %.2f\n",
              (ourExport - ourStart) / (regExport - regStart),
              (ourImport - ourStart) / (regImport - regStart));
  return 0;
}
