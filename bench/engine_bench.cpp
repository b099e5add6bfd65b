// The backup and restore engines on a generated user profile: registry
// values under a key of their own and a folder tree (made by storage_bench),
// described by a catalogue the way a real one would. Each operation runs in
// a process of its own; bench/engine_bench.sh runs them beside the storage
// operations alone and the console program, and prints the ratios.
//   engine_bench [--temp <folder>] <operation> ...
//   fill-registry <values> <profile>      the profile's values, from a fixed seed
//   check-registry <values> <profile>     exactly those values are there
//   delete-registry                       the profile's key goes
//   catalogue <file> <tree>               backup.xml for the key and the tree
//   startup-catalogue <file> <entries>    backup.xml of many programs
//   selection-free <catalogue>            no entry has a saved selection yet
//   deselect <catalogue>                  every entry saved as not selected
//   forget-selection <catalogue>          those saved selections go
//   mark-installed                        the install key; names the key it made
//   unmark-installed <key>                removes the key mark-installed made
//   backup <catalogue> <set> plain|packed RunBackup of every entry, timed
//   restore <set>                         RunRestore of every entry, timed
//   timed <folder> <program> [args...]    a whole process started in the folder
// --temp makes that folder the temporary folder of this process and of what
// it starts, so the log and working folders stay with the bench's data.
// Timed engine runs end with "result seconds=... folder=... settings=...
// prepare=...": the whole run, the part spent on the folder entry, the part
// spent on the registry entry with the settings files, and (a packed
// restore) unpacking the settings and registry files before the run, which
// the whole includes; timed processes end with "wall seconds=...".
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/ConsoleRunCallback.h"
#include "app/Startup.h"
#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/Win32Handle.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Registry.h"
#include "catalogue/RegistryKey.h"
#include "catalogue/Xml.h"
#include "engine/Engine.h"
#include "storage/Archive.h"
#include "storage/DiskObject.h"
#include "support/TestSupport.h"
#include "system/ItemSelection.h"

namespace {

const char kProfileKey[] = "Software\\QmEngineBench";
const char kProfileKeyPath[] = "HKEY_CURRENT_USER\\Software\\QmEngineBench";
// The catalogue's two entries, in this order: the folder entry's time is
// the one to hold against copying or packing the tree alone.
const char kFolderEntry[] = "Profile folder";
const char kSettingsEntry[] = "Profile settings";
const unsigned kPrograms = 25;
const char* const kSections[] = {"Settings",         "Window",         "Recent File List",
                                 "Toolbars",         "Options\\General", "Options\\Advanced",
                                 "Plugins\\Spelling", "Plugins\\Export", "Accounts\\Main",
                                 "History"};
const unsigned kSectionCount = sizeof kSections / sizeof kSections[0];

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}

[[noreturn]] void Fail(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "engine_bench: %s\n", text.c_str());
  std::fflush(stderr);
  std::exit(1);
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

// Notes when each entry of a run starts (the console progress lines name
// them) and refuses to answer questions: a benchmark run that had to ask
// or warn measured something other than the work.
class CBenchInteraction : public CInteraction {
 public:
  CBenchInteraction() { m_previous = SetInteraction(this); }
  ~CBenchInteraction() override { SetInteraction(m_previous); }
  int ShowMessageBox(HWND, const std::string& text, const std::string& caption, UINT) override {
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    ++m_boxes;
    return IDABORT;
  }
  int ReadKey() override { return -1; }
  void WriteOutput(const std::string& text) override {
    double at = Now();
    std::fputs(text.c_str(), stdout);
    std::string line = text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (m_started.find(line) == m_started.end()) m_started[line] = at;
  }
  int Boxes() const { return m_boxes; }
  // When the entry's progress line came.
  double Started(const std::string& entry) const {
    auto found = m_started.find(entry);
    if (found == m_started.end()) Fail("the run never started the entry " + entry);
    return found->second;
  }

 private:
  CInteraction* m_previous;
  std::map<std::string, double> m_started;
  int m_boxes = 0;
};

// ---------------------------------------------------------------- registry

struct BenchValue {
  std::string key;  // below the profile key
  std::string name;
  DWORD type;
  std::string data;  // the bytes stored, terminators included
};

std::string Sz(const std::string& text) { return text + '\0'; }

// The profile's values: a key per program section, values spread over them
// unevenly, a tenth of the strings naming files in the user's profile (so
// the export has paths to fold). The same count gives the same values.
std::vector<BenchValue> ProfileValues(unsigned count, const std::string& profile) {
  std::mt19937 random(20240612);
  std::vector<std::string> keys;
  for (unsigned program = 0; program < kPrograms; ++program)
    for (const char* section : kSections) {
      char name[32];
      std::snprintf(name, sizeof name, "Program%02u\\", program);
      keys.push_back(name + std::string(section));
    }
  static const char* const kWords[] = {"window", "recent", "toolbar", "colour", "font", "folder",
                                       "server", "proxy",  "plugin",  "zoom",   "grid", "theme"};
  std::vector<BenchValue> values;
  values.reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    BenchValue value;
    // Squaring skews the spread: a few keys hold long lists, most a few values.
    double skew = double(random() % 10000) / 10000.0;
    value.key = keys[static_cast<size_t>(skew * skew * keys.size())];
    std::string word = kWords[random() % 12];
    char number[16];
    std::snprintf(number, sizeof number, "%05u", i);
    value.name = word + number;
    switch (i % 10) {
      case 0:
        value.type = REG_SZ;
        value.data = Sz(profile + "\\Application Data\\Vendor\\" + value.key.substr(0, 9) +
                        "\\Documents\\File" + number + ".dat");
        break;
      case 1:
      case 2:
      case 3:
        value.type = REG_SZ;
        value.data = Sz(word + " " + kWords[random() % 12] + " " + std::to_string(random() % 100000));
        break;
      case 4:
      case 5: {
        value.type = REG_DWORD;
        std::uint32_t dword = static_cast<std::uint32_t>(random());
        value.data.assign(reinterpret_cast<const char*>(&dword), 4);
        break;
      }
      case 6:
      case 7: {
        value.type = REG_BINARY;
        size_t size = 8 + random() % 249;
        for (size_t b = 0; b < size; ++b) value.data += static_cast<char>(random() & 0xFF);
        break;
      }
      case 8:
        value.type = REG_MULTI_SZ;
        value.data = Sz("first " + word) + Sz(profile + "\\My Documents\\" + number) + Sz("third") + '\0';
        break;
      default:
        value.type = REG_SZ;
        value.data = Sz(std::to_string(random() % 2000));
        break;
    }
    values.push_back(std::move(value));
  }
  return values;
}

// Opened keys of the profile, kept for the many values each holds.
class CProfileKeys {
 public:
  explicit CProfileKeys(bool create) : m_create(create) {}
  HKEY Get(const std::string& relative) {
    auto found = m_keys.find(relative);
    if (found != m_keys.end()) return found->second->Get();
    auto key = std::make_unique<CRegKey>();
    std::string path = std::string(kProfileKey) + "\\" + relative;
    LONG status = m_create ? key->Create(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS)
                           : key->Open(HKEY_CURRENT_USER, path, KEY_READ);
    if (status != ERROR_SUCCESS) Fail("can't open HKEY_CURRENT_USER\\" + path);
    HKEY handle = key->Get();
    m_keys[relative] = std::move(key);
    return handle;
  }

 private:
  bool m_create;
  std::map<std::string, std::unique_ptr<CRegKey>> m_keys;
};

int FillRegistry(unsigned count, const std::string& profile) {
  if (RegistryKeyExists(kProfileKeyPath)) Fail(std::string(kProfileKeyPath) + " exists already");
  CProfileKeys keys(true);
  for (const BenchValue& value : ProfileValues(count, profile)) {
    if (RegSetValueExA(keys.Get(value.key), value.name.c_str(), 0, value.type,
                       reinterpret_cast<const BYTE*>(value.data.data()),
                       static_cast<DWORD>(value.data.size())) != ERROR_SUCCESS)
      Fail("can't write " + value.key + "\\" + value.name);
  }
  std::printf("registry values=%u keys=%u\n", count, kPrograms * kSectionCount);
  return 0;
}

// Values and keys below a key, all the way down.
void CountBelow(HKEY key, std::uint64_t& values) {
  DWORD subkeys = 0, count = 0;
  if (RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &count, NULL, NULL, NULL,
                       NULL) != ERROR_SUCCESS)
    Fail("can't query a key below the profile key");
  values += count;
  for (DWORD index = 0; index < subkeys; ++index) {
    char name[256];
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) continue;
    CRegKey subkey;
    if (subkey.Open(key, std::string(name, length), KEY_READ) != ERROR_SUCCESS)
      Fail(std::string("can't open the subkey ") + name);
    CountBelow(subkey.Get(), values);
  }
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                        b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

// Every value is back with its type and data, and nothing else is there.
// Texts that start with a drive path travel in lower case (the set keeps
// them portable between computers), so they compare without case.
int CheckRegistry(unsigned count, const std::string& profile) {
  CRegKey root;
  if (root.Open(HKEY_CURRENT_USER, kProfileKey, KEY_READ) != ERROR_SUCCESS)
    Fail(std::string(kProfileKeyPath) + " is missing");
  std::uint64_t found = 0;
  CountBelow(root.Get(), found);
  int problems = 0;
  auto report = [&problems](const std::string& text) {
    if (++problems <= 10) std::printf("check: %s\n", text.c_str());
  };
  if (found != count) report("found " + std::to_string(found) + " values, expected " + std::to_string(count));
  CProfileKeys keys(false);
  std::vector<BYTE> data(4096);
  for (const BenchValue& value : ProfileValues(count, profile)) {
    DWORD type = 0, size = static_cast<DWORD>(data.size());
    if (RegQueryValueExA(keys.Get(value.key), value.name.c_str(), NULL, &type, data.data(), &size) !=
        ERROR_SUCCESS) {
      report("missing " + value.key + "\\" + value.name);
      continue;
    }
    std::string have(reinterpret_cast<const char*>(data.data()), size);
    bool path = value.type != REG_BINARY && value.type != REG_DWORD && value.data.size() > 2 &&
                value.data[1] == ':';
    if (type != value.type || !(path ? SameText(have, value.data) : have == value.data))
      report("differs: " + value.key + "\\" + value.name);
  }
  if (problems > 0) {
    std::printf("check failed: %d problems\n", problems);
    return 1;
  }
  std::printf("check ok values=%u\n", count);
  return 0;
}

int DeleteRegistry() {
  DeleteKeyTree(kProfileKeyPath);
  if (RegistryKeyExists(kProfileKeyPath)) Fail(std::string("can't remove ") + kProfileKeyPath);
  return 0;
}

// ---------------------------------------------------------------- catalogues

const char kXmlHeader[] = "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\r\n<catalogue>\r\n";

void WriteText(const std::string& path, const std::string& text) {
  CHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
  DWORD written = 0;
  if (!file.Valid() || !WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, NULL) ||
      written != text.size())
    Fail("can't write " + path);
}

// The tree as one named folder item, so the set keeps it in a folder of a
// known name; the registry as a whole key per program.
int WriteProfileCatalogue(const std::string& path, const std::string& tree) {
  std::string text = kXmlHeader;
  text += std::string("<backup name=\"") + kFolderEntry + "\" display=\"Documents and program data\">\r\n";
  text += " <item name=\"tree\" path=\"" + EscapeXml(WithSlash(tree)) + "\"/>\r\n";
  text += "</backup>\r\n";
  text += std::string("<backup name=\"") + kSettingsEntry + "\" display=\"Program settings\">\r\n";
  for (unsigned program = 0; program < kPrograms; ++program) {
    char key[32];
    std::snprintf(key, sizeof key, "Program%02u\\", program);
    text += std::string(" <item path=\"") + kProfileKeyPath + "\\" + key + "\"/>\r\n";
  }
  text += "</backup>\r\n</catalogue>\r\n";
  WriteText(path, text);
  return 0;
}

// Many programs, each named by a variable, tested against the registry and
// naming a key and a folder, as a long real catalogue does.
int WriteStartupCatalogue(const std::string& path, unsigned entries) {
  std::string text = kXmlHeader;
  for (unsigned i = 0; i < entries; ++i) {
    char n[16];
    std::snprintf(n, sizeof n, "%03u", i);
    text += std::string("<backup name=\"Program ") + n + " ($Ver)\" display=\"Settings of program " + n +
            "\" winVer=\"9598MENT2000XP2003\" keyExists=\"HKEY_CURRENT_USER\\Software\">\r\n";
    text += std::string(" <var name=\"Ver\" value=\"v") + n + "\"/>\r\n";
    text += std::string(" <item path=\"HKEY_CURRENT_USER\\Software\\Vendor") + n + "\\\"/>\r\n";
    text += std::string(" <item path=\"($AppData)\\Vendor") + n + "\\($Ver)\\\"/>\r\n";
    text += std::string(" <item path=\"C:\\never\\") + n +
            "\" keyExists=\"HKEY_CURRENT_USER\\Software\\NoSuchVendor\"/>\r\n";
    text += "</backup>\r\n";
  }
  WriteText(path, text + "</catalogue>\r\n");
  return 0;
}

// The evaluated catalogue's entries as the programs see them.
void Evaluate(Catalogue& catalogue, const std::string& path) {
  catalogue.SetPath(path);
  if (!catalogue.Evaluate()) Fail("can't evaluate " + path);
  PrepareEntries(catalogue);
  if (catalogue.Entries().empty()) Fail("no entries in " + path);
}

// Where the console program keeps a top entry's selection.
std::string SelectionValue(const CatalogueEntry& entry) {
  if (entry.parent != nullptr) Fail("only top entries are expected: " + entry.name);
  return std::string(kInstallKey) + "\\" + entry.name;
}

// Before deselect: a saved selection of that name is the user's, and
// forget-selection would remove it.
int SelectionFree(const std::string& path) {
  Catalogue catalogue;
  Evaluate(catalogue, path);
  for (const auto& entry : catalogue.Entries())
    if (ReadRegistryValue(SelectionValue(*entry))) Fail("a selection is saved already: " + entry->name);
  return 0;
}

int Deselect(const std::string& path) {
  Catalogue catalogue;
  Evaluate(catalogue, path);
  for (const auto& entry : catalogue.Entries()) {
    if (!entry->valid) Fail("the entry doesn't apply here: " + entry->name);
    SaveItemSelection(*entry, false);
    // Read back the way the programs read it.
    if (LoadItemSelection(*entry)) Fail("the entry still reads as selected: " + entry->name);
  }
  std::printf("deselected entries=%zu first=%s\n", catalogue.Entries().size(),
              catalogue.Entries().front()->name.c_str());
  return 0;
}

int ForgetSelection(const std::string& path) {
  Catalogue catalogue;
  Evaluate(catalogue, path);
  CRegKey key;
  if (key.Open(HKEY_CURRENT_USER, "Software\\Tervane\\Quillmark", KEY_SET_VALUE) != ERROR_SUCCESS) return 0;
  for (const auto& entry : catalogue.Entries()) {
    SelectionValue(*entry);  // refuses entries whose selection lives elsewhere
    RegDeleteValueA(key.Get(), entry->name.c_str());
  }
  return 0;
}

// Creates the install key when missing and prints the outermost key that
// it had to create, for unmark-installed.
int MarkInstalled() {
  const std::string parent = "HKEY_CURRENT_USER\\Software\\Tervane";
  std::string created;
  if (!RegistryKeyExists(kInstallKey)) created = RegistryKeyExists(parent) ? kInstallKey : parent;
  if (!created.empty() && !CreateRegistryKey(kInstallKey)) Fail(std::string("can't create ") + kInstallKey);
  std::printf("installed created=%s\n", created.c_str());
  return 0;
}

int UnmarkInstalled(const std::string& created) {
  // Only ever the key that mark-installed reported.
  if (created != kInstallKey && created != "HKEY_CURRENT_USER\\Software\\Tervane")
    Fail("not a key this bench creates: " + created);
  DeleteKeyTree(created);
  return 0;
}

// ---------------------------------------------------------------- engine runs

void SelectAllValid(Catalogue& catalogue) {
  for (const auto& entry : catalogue.Entries()) {
    if (!entry->valid) Fail("the entry doesn't apply here: " + entry->name);
    entry->selected = true;
  }
}

void PrintRun(double start, double end, const CBenchInteraction& progress, double prepare) {
  if (progress.Boxes() > 0) Fail("the run asked or warned: see above");
  double settings = progress.Started(kSettingsEntry);
  std::printf("result seconds=%.3f folder=%.3f settings=%.3f prepare=%.3f\n", end - start,
              settings - progress.Started(kFolderEntry), end - settings, prepare);
}

int Backup(const std::string& path, const std::string& setFolder, bool pack) {
  CBenchInteraction progress;
  Catalogue catalogue;
  Evaluate(catalogue, path);
  SelectAllValid(catalogue);
  std::string set = WithSlash(setFolder);
  CDiskObject disk(true, NULL);
  if (!disk.CreateFolderTree(set + "Registry\\")) Fail("can't create " + set);
  CConsoleRunCallback front;

  double start = Now();
  ArchiveWriter archive;
  if (pack && !archive.Open(set + "restore.zip", set, false, std::nullopt, 6))
    Fail("can't create the archive: " + archive.GetErrorText());
  bool done = RunBackup(disk, archive, pack, set, catalogue, front, true);
  bool closed = archive.Close();
  double end = Now();

  if (!done || !closed) Fail("the backup failed: " + disk.GetErrorText() + archive.GetErrorText());
  // A failed item is logged and emptied; the run still succeeds.
  for (const auto& entry : catalogue.Entries())
    for (const std::string& item : entry->items)
      if (item.empty()) Fail("an item of " + entry->name + " failed: see the log");
  PrintRun(start, end, progress, 0);
  return 0;
}

// As the console restores a set: a packed one has its settings and registry
// files unpacked into a working folder first, which counts.
int Restore(const std::string& setFolder, const std::string& temp) {
  CBenchInteraction progress;
  std::string set = WithSlash(setFolder);
  CDiskObject disk(true, NULL);
  disk.SetOverwriteMode(OverwriteYesToAll);
  ArchiveReader archive;
  archive.SetOverwriteMode(OverwriteYesToAll);
  bool packed = !disk.FileExists(set + "restore.xml");
  std::string folder = packed ? WithSlash(temp) + "QmEngineBenchWork\\" : set;
  CConsoleRunCallback front;

  double start = Now();
  if (packed) {
    if (!archive.Open(set + "restore.zip", true)) Fail("can't open the archive: " + archive.GetErrorText());
    if (!archive.UnpackFile("restore.xml", folder + "restore.xml") ||
        !archive.UnpackFolder("Registry\\", folder + "Registry\\"))
      Fail("can't unpack the settings: " + archive.GetErrorText());
  }
  Catalogue catalogue;
  Evaluate(catalogue, folder + "restore.xml");
  SelectAllValid(catalogue);
  double prepared = Now();
  bool done = RunRestore(disk, archive, packed, folder, catalogue, front);
  archive.Close();
  if (packed) disk.RemoveFolderTree(folder);
  double end = Now();

  if (!done) Fail("the restore failed");
  PrintRun(start, end, progress, prepared - start);
  return 0;
}

// ---------------------------------------------------------------- processes

std::string Quoted(const std::string& argument) {
  if (argument.find(' ') == std::string::npos) return argument;
  return "\"" + argument + "\"";
}

// A whole process, from its start to its end, started in `folder`; a
// program without a folder is looked for beside this one first.
int TimeProcess(const std::string& folder, const std::vector<std::string>& arguments) {
  std::string program = arguments[0];
  if (program.find('\\') == std::string::npos &&
      GetFileAttributesA((ProgramFolder() + program).c_str()) != INVALID_FILE_ATTRIBUTES)
    program = ProgramFolder() + program;
  std::string line = "\"" + program + "\"";
  for (size_t i = 1; i < arguments.size(); ++i) line += " " + Quoted(arguments[i]);
  double start = Now();
  Finished run = RunCommand(line, std::string(), folder);
  double seconds = Now() - start;
  std::fputs(run.output.c_str(), stdout);
  if (run.status != 0 || run.output.find("rror") != std::string::npos)
    Fail("failed (" + std::to_string(run.status) + "): " + line);
  std::printf("wall seconds=%.3f\n", seconds);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: engine_bench [--temp <folder>] fill-registry|check-registry <values> <profile> |\n"
               "       delete-registry | catalogue <file> <tree> | startup-catalogue <file> <entries> |\n"
               "       selection-free|deselect|forget-selection <catalogue> | mark-installed | unmark-installed <key> |\n"
               "       backup <catalogue> <set> plain|packed | restore <set> |\n"
               "       timed <folder> <program> [arguments...]\n");
  return 2;
}

int Run(const std::vector<std::string>& a, const std::string& temp) {
  const std::string& operation = a[0];
  size_t n = a.size() - 1;
  auto count = [](const std::string& text) {
    long number = std::atol(text.c_str());
    if (number <= 0) Fail("not a count: " + text);
    return static_cast<unsigned>(number);
  };
  if (operation == "fill-registry" && n == 2) return FillRegistry(count(a[1]), a[2]);
  if (operation == "check-registry" && n == 2) return CheckRegistry(count(a[1]), a[2]);
  if (operation == "delete-registry" && n == 0) return DeleteRegistry();
  if (operation == "catalogue" && n == 2) return WriteProfileCatalogue(a[1], a[2]);
  if (operation == "startup-catalogue" && n == 2) return WriteStartupCatalogue(a[1], count(a[2]));
  if (operation == "selection-free" && n == 1) return SelectionFree(a[1]);
  if (operation == "deselect" && n == 1) return Deselect(a[1]);
  if (operation == "forget-selection" && n == 1) return ForgetSelection(a[1]);
  if (operation == "mark-installed" && n == 0) return MarkInstalled();
  if (operation == "unmark-installed" && n == 1) return UnmarkInstalled(a[1]);
  if (operation == "backup" && n == 3 && (a[3] == "plain" || a[3] == "packed"))
    return Backup(a[1], a[2], a[3] == "packed");
  if (operation == "restore" && n == 1) {
    if (temp.empty()) Fail("restore needs --temp");
    return Restore(a[1], temp);
  }
  if (operation == "timed" && n >= 2) return TimeProcess(a[1], std::vector<std::string>(a.begin() + 2, a.end()));
  return Usage();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string temp;
  if (arguments.size() >= 2 && arguments[0] == "--temp") {
    temp = arguments[1];
    arguments.erase(arguments.begin(), arguments.begin() + 2);
    if (!SetEnvironmentVariableA("TMP", temp.c_str()) || !SetEnvironmentVariableA("TEMP", temp.c_str()))
      Fail("can't set the temporary folder");
  }
  if (arguments.empty()) return Usage();
  SetWizardMode(false);  // progress lines, which time the entries
  SetYesToAll(true);
  if (!OpenSystemOperations()) Fail("can't open the log in the temporary folder");
  int status = Run(arguments, temp);
  std::fflush(stdout);
  CloseSystemOperations();
  return status;
}
