// Lays down what programs write on a computer, as described by one small
// footprint file per program, and later checks that a restore brought it
// back. Footprint lines:
//   entry <name>[\<nested name>]      the catalogue entry that carries it
//   installed <target> = <data>       what the program's installer (or
//                                     Windows) writes: laid on both computers
//                                     and never replaced by a restore
//   kept <target> = <data>            a value of each computer's own that a
//                                     restore must leave as it was
//   setting <target> = <data>         what the program writes as it is used:
//                                     laid on the old computer, expected on
//                                     the new one after the restore
// A target is a registry value ("HKEY_...\key\name", "key\" for the default
// value) or a file path; ($Name) folders and ($Apps), the computer's program
// folder root, are expanded on each computer. Data: "sz:", "expand:",
// "dword:", "hex:" (bytes in hex), "multi:" (strings split at "|") or "key"
// for registry targets; "text:" (with \r \n \t \\), "bytes:<count>" or
// "folder" for files.
//
//   footprint_probe lay <footprint-folder> <all|installed> <apps-root>
//   footprint_probe expect <footprint-folder> <apps-root> <expectations>
//   footprint_probe check <expectations>
//   footprint_probe detect <catalogue>
//   footprint_probe run <program> [arguments]   starts a windowed program,
//                                     waits for its window and closes it as
//                                     a user would, so that it saves its
//                                     settings
// Exit status 0 when everything was laid, expected or found.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/Interaction.h"
#include "base/Text.h"
#include "catalogue/Catalogue.h"
#include "catalogue/PathVariables.h"
#include "catalogue/RegistryKey.h"

namespace {

struct FootprintLine {
  std::string entry, kind, target, data;
};

struct Expectation {
  std::string entry, kind, target, type, bytes;
};

std::vector<FootprintLine> ReadFootprint(const std::string& file) {
  std::vector<FootprintLine> lines;
  std::ifstream in(file);
  std::string line, entry;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t blank = line.find(' ');
    std::string kind = line.substr(0, blank);
    std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
    if (kind == "entry") {
      entry = rest;
      continue;
    }
    size_t equals = rest.find(" = ");
    if ((kind != "installed" && kind != "kept" && kind != "setting") || equals == std::string::npos || entry.empty()) {
      std::fprintf(stderr, "%s: can't read \"%s\"\n", file.c_str(), line.c_str());
      std::exit(2);
    }
    lines.push_back({entry, kind, rest.substr(0, equals), rest.substr(equals + 3)});
  }
  return lines;
}

std::vector<FootprintLine> ReadFootprints(const std::string& folder) {
  std::vector<FootprintLine> all;
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder + "\\*.txt").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return all;
  std::vector<std::string> names;
  do names.push_back(found.cFileName);
  while (FindNextFileA(find, &found));
  FindClose(find);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names)
    for (FootprintLine& line : ReadFootprint(folder + "\\" + name)) all.push_back(line);
  return all;
}

std::string Expand(std::string text, const std::string& apps) {
  for (size_t at; (at = text.find("($Apps)")) != std::string::npos;) text.replace(at, 7, apps);
  if (!ExpandPathVariables(text, nullptr)) {
    std::fprintf(stderr, "can't expand \"%s\"\n", text.c_str());
    std::exit(2);
  }
  return text;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    char next = text[++i];
    out += next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
  }
  return out;
}

// The same bytes on both computers for the same footprint line.
std::string SampleBytes(const std::string& seedText, size_t count) {
  uint32_t state = 2166136261u;
  for (unsigned char c : seedText) state = (state ^ c) * 16777619u;
  std::string bytes(count, '\0');
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

bool IsRegistry(const std::string& target) { return target.compare(0, 5, "HKEY_") == 0; }

// The registry type name and the bytes a value holds, or the file's content.
Expectation Resolve(const FootprintLine& line, const std::string& apps) {
  Expectation e{line.entry, line.kind, Expand(line.target, apps), "", ""};
  const std::string& data = line.data;
  size_t colon = data.find(':');
  std::string form = data.substr(0, colon);
  std::string body = colon == std::string::npos ? "" : data.substr(colon + 1);
  e.type = form;
  if (form == "sz" || form == "expand") {
    e.bytes = Expand(body, apps) + '\0';
  } else if (form == "multi") {
    std::string all = Expand(body, apps);
    for (char& c : all)
      if (c == '|') c = '\0';
    e.bytes = all + '\0' + '\0';
  } else if (form == "dword") {
    uint32_t value = static_cast<uint32_t>(std::stoul(body, nullptr, 0));
    e.bytes.assign(reinterpret_cast<const char*>(&value), 4);
  } else if (form == "hex") {
    std::istringstream in(body);
    std::string pair;
    while (in >> pair) e.bytes += static_cast<char>(std::stoul(pair, nullptr, 16));
  } else if (form == "text") {
    e.bytes = Unescape(Expand(body, apps));
  } else if (form == "bytes") {
    e.bytes = SampleBytes(line.target, std::stoul(body));
  } else if (form != "key" && form != "folder") {
    std::fprintf(stderr, "unknown data \"%s\"\n", data.c_str());
    std::exit(2);
  }
  bool registryForm = form != "text" && form != "bytes" && form != "folder";
  if (registryForm != IsRegistry(e.target)) {
    std::fprintf(stderr, "\"%s\" can't hold \"%s\"\n", e.target.c_str(), data.c_str());
    std::exit(2);
  }
  return e;
}

DWORD RegistryType(const std::string& type) {
  static const std::map<std::string, DWORD> types = {
      {"sz", REG_SZ}, {"expand", REG_EXPAND_SZ}, {"multi", REG_MULTI_SZ},
      {"dword", REG_DWORD}, {"hex", REG_BINARY}};
  auto found = types.find(type);
  return found == types.end() ? REG_NONE : found->second;
}

// Root, key path and value name of a registry target.
bool SplitValue(const std::string& target, HKEY& root, std::string& key, std::string& name,
                bool wholeKey) {
  size_t first = target.find('\\');
  root = RootKeyByName(target.substr(0, first));
  if (root == NULL || first == std::string::npos) return false;
  std::string rest = target.substr(first + 1);
  size_t last = rest.rfind('\\');
  if (wholeKey) {
    key = rest.back() == '\\' ? rest.substr(0, rest.size() - 1) : rest;
    name.clear();
  } else {
    key = last == std::string::npos ? "" : rest.substr(0, last);
    name = last == std::string::npos ? rest : rest.substr(last + 1);
  }
  return true;
}

bool MakeFolders(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), NULL);
  return true;
}

bool Lay(const Expectation& e) {
  if (IsRegistry(e.target)) {
    HKEY root;
    std::string key, name;
    if (!SplitValue(e.target, root, key, name, e.type == "key")) return false;
    CRegKey opened;
    if (opened.Create(root, key, KEY_SET_VALUE) != ERROR_SUCCESS) return false;
    if (e.type == "key") return true;
    return RegSetValueExA(opened.Get(), name.c_str(), 0, RegistryType(e.type),
                          reinterpret_cast<const BYTE*>(e.bytes.data()),
                          static_cast<DWORD>(e.bytes.size())) == ERROR_SUCCESS;
  }
  if (e.type == "folder") {
    MakeFolders(e.target + "\\");
    return GetFileAttributesA(e.target.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  MakeFolders(e.target);
  std::ofstream out(e.target, std::ios::binary | std::ios::trunc);
  out.write(e.bytes.data(), static_cast<std::streamsize>(e.bytes.size()));
  return static_cast<bool>(out);
}

// What the computer holds at the target now, in the form of an expectation;
// false when it's missing.
bool Found(const Expectation& e, std::string& type, std::string& bytes) {
  if (IsRegistry(e.target)) {
    HKEY root;
    std::string key, name;
    if (!SplitValue(e.target, root, key, name, e.type == "key")) return false;
    CRegKey opened;
    if (opened.Open(root, key, KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
    type = "key";
    if (e.type == "key") return true;
    DWORD kind = 0, size = 0;
    if (RegQueryValueExA(opened.Get(), name.c_str(), NULL, &kind, NULL, &size) != ERROR_SUCCESS)
      return false;
    bytes.assign(size, '\0');
    RegQueryValueExA(opened.Get(), name.c_str(), NULL, &kind,
                     reinterpret_cast<BYTE*>(&bytes[0]), &size);
    bytes.resize(size);
    type = kind == RegistryType(e.type) ? e.type : "type " + std::to_string(kind);
    return true;
  }
  DWORD attributes = GetFileAttributesA(e.target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    type = "folder";
    return true;
  }
  std::ifstream in(e.target, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  bytes = content.str();
  type = e.type;
  return true;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out.empty() ? "-" : out;
}

std::string FromHex(const std::string& hex) {
  std::string out;
  if (hex == "-") return out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16));
  return out;
}

int LayCommand(const std::string& folder, bool all, const std::string& apps) {
  int failures = 0;
  for (const FootprintLine& line : ReadFootprints(folder)) {
    if (!all && line.kind == "setting") continue;
    Expectation e = Resolve(line, apps);
    if (!Lay(e)) {
      std::printf("can't lay %s: %s\n", line.entry.c_str(), e.target.c_str());
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

int ExpectCommand(const std::string& folder, const std::string& apps, const std::string& file) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  for (const FootprintLine& line : ReadFootprints(folder)) {
    Expectation e = Resolve(line, apps);
    out << e.entry << '\t' << e.kind << '\t' << e.target << '\t' << e.type << '\t' << Hex(e.bytes)
        << '\n';
  }
  return out ? 0 : 1;
}

// Each entry is proven when every line of its footprint is on this computer
// as expected: its settings arrived and its installer's values are this
// computer's own.
int CheckCommand(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::string line;
  std::map<std::string, std::vector<std::string>> problems;
  std::vector<std::string> order;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() != 5) continue;
    Expectation e{fields[0], fields[1], fields[2], fields[3], FromHex(fields[4])};
    if (!problems.count(e.entry)) order.push_back(e.entry);
    auto& list = problems[e.entry];
    std::string type, bytes;
    const char* what = e.kind == "setting" ? "" : "this computer's own ";
    if (!Found(e, type, bytes))
      list.push_back(std::string(what) + e.target + " is missing");
    else if (type != e.type || bytes != e.bytes)
      list.push_back(std::string(what) + e.target + " holds " + type + " " + Hex(bytes).substr(0, 80) +
                     " instead of " + Hex(e.bytes).substr(0, 80));
  }
  int failed = 0;
  for (const std::string& entry : order) {
    const auto& list = problems[entry];
    if (list.empty()) {
      std::printf("proven: %s\n", entry.c_str());
      continue;
    }
    ++failed;
    for (const std::string& problem : list)
      std::printf("FAILED: %s: %s\n", entry.c_str(), problem.c_str());
  }
  return failed == 0 && !order.empty() ? 0 : 1;
}

std::string EntryPath(const CatalogueEntry& entry) {
  return entry.parent ? EntryPath(*entry.parent) + "\\" + entry.name : entry.name;
}

int DetectCommand(const std::string& path) {
  Catalogue catalogue(path);
  if (!catalogue.Evaluate()) return 3;
  for (const auto& entry : catalogue.Entries())
    std::printf("%s\t%s\t%u\n", entry->valid ? "valid" : "invalid", EntryPath(*entry).c_str(),
                static_cast<unsigned>(entry->items.size()));
  return 0;
}

struct WindowSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindProgramWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search->process || !IsWindowVisible(window) || GetWindow(window, GW_OWNER))
    return TRUE;
  search->found = window;
  return FALSE;
}

int RunCommand(const std::string& commandLine) {
  STARTUPINFOA startup = {sizeof startup};
  PROCESS_INFORMATION process = {};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    std::printf("can't start %s\n", commandLine.c_str());
    return 1;
  }
  WaitForInputIdle(process.hProcess, 20000);
  WindowSearch search{process.dwProcessId, NULL};
  for (int wait = 0; wait < 200 && search.found == NULL; ++wait) {
    EnumWindows(FindProgramWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found == NULL) Sleep(100);
  }
  int result = 0;
  if (search.found == NULL) {
    std::printf("%s showed no window\n", commandLine.c_str());
    TerminateProcess(process.hProcess, 1);
    result = 1;
  } else {
    Sleep(500);  // let it finish starting, as a user would
    PostMessageA(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
      std::printf("%s didn't close\n", commandLine.c_str());
      TerminateProcess(process.hProcess, 1);
      result = 1;
    }
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  OpenSystemOperations();  // the shell's folder lookup
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "lay" && argc == 5) return LayCommand(argv[2], std::string(argv[3]) == "all", argv[4]);
  if (command == "expect" && argc == 5) return ExpectCommand(argv[2], argv[3], argv[4]);
  if (command == "check" && argc == 3) return CheckCommand(argv[2]);
  if (command == "detect" && argc == 3) return DetectCommand(argv[2]);
  if (command == "run" && argc >= 3) {
    std::string line;
    for (int i = 2; i < argc; ++i) line += std::string(i > 2 ? " \"" : "\"") + argv[i] + "\"";
    return RunCommand(line);
  }
  std::fprintf(stderr, "usage: footprint_probe lay|expect|check|detect ...\n");
  return 2;
}
