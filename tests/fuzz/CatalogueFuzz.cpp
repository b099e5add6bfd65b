// Evaluates arbitrary markup as a catalogue over a computer held in memory,
// writes restore settings from what it found and evaluates those again as
// restore.xml. The input may start with a description of that computer
// (lines of RegistryStandIn's Describe, then a line "%%"); a few keys,
// values and folders are always there, so that conditions, foreach over
// subkeys, variables and ($Name) references are reached without one.
// Every evaluation has to end, list each entry after its parent and leave
// every parent chain finite; restore settings written from a whole reading
// of restore settings have to read back to the same entries.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unordered_map>

#include "RegistryStandIn.h"
#include "catalogue/Catalogue.h"
#include "catalogue/RestoreSettings.h"

namespace {

// Enough for a foreach in a foreach over the default keys, few enough that
// deeply nested ones, which repeat their content the product of their
// subkey counts times, stay quick.
const unsigned kSubkeysPerRun = 48;
// Questions come from reading attributes, their references and ending
// elements, and no line is read more often than there are subkeys to repeat
// it for: an evaluation that asks far more than this is going round.
unsigned long QuestionLimit(size_t bytes) { return 64ul * (kSubkeysPerRun + 2) * (bytes + 64); }

std::string TempPath(const char* what) {
  return (std::filesystem::temp_directory_path() /
          ("qm-catalogue-fuzz-" + std::to_string(getpid()) + what))
      .string();
}

const std::string& CataloguePath() {
  static const std::string path = TempPath("-backup.xml");
  return path;
}
const std::string& SettingsPath() {
  static const std::string path = TempPath("-restore.xml");
  return path;
}
const std::string& AgainPath() {
  static const std::string path = TempPath("-again.xml");
  return path;
}

void RemoveFiles() {
  std::remove(CataloguePath().c_str());
  std::remove(SettingsPath().c_str());
  std::remove(AgainPath().c_str());
}

void DescribeComputer(const std::string& header) {
  CRegistryStandIn& computer = RegistryStandIn();
  computer.Clear();
  computer.Describe(
      "K HKEY_CURRENT_USER\\Software\\Fuzz\\Profiles\\work\n"
      "K HKEY_CURRENT_USER\\Software\\Fuzz\\Profiles\\home\n"
      "K HKEY_CURRENT_USER\\Software\\Fuzz\\Profiles\\travel\n"
      "V HKEY_CURRENT_USER\\Software\\Fuzz\\Version=Seven\n"
      "V HKEY_CURRENT_USER\\Software\\Fuzz\\Folder=($AppData)\\Fuzz\n"
      "V HKEY_CURRENT_USER\\Software\\Fuzz\\Profiles\\work\\Path=C:\\Work\n"
      "S AppData=C:\\Profile\\AppData\n"
      "S Profile=C:\\Profile\n"
      "S Windows=C:\\Windows\n"
      "S ProgramFiles=C:\\Program Files\n"
      "D C:\\Profile\\AppData\\Fuzz\\Mail\n"
      "D C:\\Profile\\AppData\\Fuzz\\News\n");
  computer.Describe(header);
  computer.LimitSubkeys(kSubkeysPerRun);
}

bool WriteFile(const std::string& path, const char* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool whole = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && whole;
}

// Each entry's parent is listed before it, so every chain of parents ends.
void CheckEntries(const Catalogue& catalogue) {
  std::unordered_map<const CatalogueEntry*, size_t> index;
  const auto& entries = catalogue.Entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    const CatalogueEntry* parent = entries[i]->parent;
    if (parent != nullptr && !index.count(parent)) __builtin_trap();
    if (entries[i]->element < -1) __builtin_trap();
    index.emplace(entries[i].get(), i);
  }
}

bool Evaluate(Catalogue& catalogue, size_t bytes) {
  unsigned long before = RegistryStandIn().Questions();
  bool whole = catalogue.Evaluate();
  if (RegistryStandIn().Questions() - before > QuestionLimit(bytes)) __builtin_trap();
  CheckEntries(catalogue);
  return whole;
}

// What a restore would do with an entry, and where it stands.
bool SameEntries(const Catalogue& a, const Catalogue& b) {
  const auto& first = a.Entries();
  const auto& second = b.Entries();
  if (first.size() != second.size()) return false;
  std::unordered_map<const CatalogueEntry*, const CatalogueEntry*> counterpart{{nullptr, nullptr}};
  for (size_t i = 0; i < first.size(); ++i) {
    const CatalogueEntry& x = *first[i];
    const CatalogueEntry& y = *second[i];
    if (x.name != y.name || x.display != y.display || x.detect != y.detect || x.reboot != y.reboot ||
        x.valid != y.valid || x.items != y.items || x.variableNames != y.variableNames ||
        x.variableValues != y.variableValues || counterpart[x.parent] != y.parent)
      return false;
    counterpart[&x] = &y;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool registered = (std::atexit(RemoveFiles), true);
  (void)registered;
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t split = input.rfind("%%\n", 0) == 0 ? 0 : input.find("\n%%\n");
  std::string header;
  size_t markup = 0;
  if (split != std::string::npos) {
    header = input.substr(0, split);
    markup = split + (split == 0 ? 3 : 4);
  }
  DescribeComputer(header);
  if (!WriteFile(CataloguePath(), input.data() + markup, input.size() - markup)) return 0;

  Catalogue catalogue(CataloguePath());
  Evaluate(catalogue, size);
  PrepareEntries(catalogue);
  AddCustomEntries(catalogue);
  CheckEntries(catalogue);
  // Leave some out, so that chosen entries inside unchosen ones are written.
  const auto& entries = catalogue.Entries();
  for (size_t i = 0; i < entries.size(); ++i)
    if ((i + size) % 3 != 0) SelectEntry(*entries[i]);
  if (!BuildRestoreSettings(catalogue, SettingsPath())) return 0;

  RegistryStandIn().LimitSubkeys(kSubkeysPerRun);
  Catalogue settings(SettingsPath());
  std::error_code error;
  size_t written = static_cast<size_t>(std::filesystem::file_size(SettingsPath(), error));
  if (error) return 0;
  bool whole = Evaluate(settings, written);
  PrepareEntries(settings);
  CheckEntries(settings);
  if (!whole) return 0;

  // Restore settings written again from their own reading, everything
  // chosen, read back as they were: a backup of a restored set keeps it.
  for (const auto& entry : settings.Entries()) entry->selected = true;
  if (!BuildRestoreSettings(settings, AgainPath())) return 0;
  Catalogue again(AgainPath());
  if (!Evaluate(again, written)) __builtin_trap();
  PrepareEntries(again);
  if (!SameEntries(settings, again)) __builtin_trap();
  return 0;
}
