// Evaluates generated catalogues of two sizes and builds their restore
// settings, beside the time this computer takes to read the file once.
// Time per entry should not grow with the size.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/Interaction.h"
#include "catalogue/Catalogue.h"
#include "catalogue/RestoreSettings.h"
#include "support/TestSupport.h"

namespace {

double Now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return double(counter.QuadPart) / double(frequency.QuadPart);
}

std::string MakeCatalogue(int entries) {
  std::string text = "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\r\n<catalogue>\r\n";
  for (int i = 0; i < entries; ++i) {
    std::string n = std::to_string(i);
    text += "<backup name=\"Program " + n + " ($Ver)\" display=\"Settings of program " + n +
            "\" winVer=\"9598MEXP2000\" keyExists=\"HKEY_CURRENT_USER\\Software\">\r\n";
    text += " <var name=\"Ver\" value=\"v" + n + "\"/>\r\n";
    text += " <item path=\"HKEY_CURRENT_USER\\Software\\Vendor" + n + "\\\"/>\r\n";
    text += " <item path=\"($AppData)\\Vendor" + n + "\\($Ver)\\\"/>\r\n";
    text += " <item path=\"C:\\never\" keyExists=\"HKEY_CURRENT_USER\\Software\\NoSuchVendor\"/>\r\n";
    text += "</backup>\r\n";
  }
  return text + "</catalogue>\r\n";
}

void Measure(const std::string& folder, int entries) {
  std::string path = folder + "backup" + std::to_string(entries) + ".xml";
  WriteWholeFile(path, MakeCatalogue(entries));

  double start = Now();
  std::string once = ReadWholeFile(path);
  double read = Now() - start;

  Catalogue catalogue(path);
  start = Now();
  catalogue.Evaluate();
  AddCustomEntries(catalogue);
  PrepareEntries(catalogue);
  double evaluate = Now() - start;
  for (const auto& entry : catalogue.Entries()) entry->selected = entry->valid;

  start = Now();
  BuildRestoreSettings(catalogue, folder + "restore.xml");
  double build = Now() - start;

  std::printf("%6d entries (%zu bytes): read once %.4f s, evaluate %.3f s (%.0f entries/s, %.1f us/entry, "
              "%.0fx the read), restore settings %.3f s (%.1f us/entry)\n",
              entries, once.size(), read, evaluate, entries / evaluate, 1e6 * evaluate / entries,
              evaluate / read, build, 1e6 * build / entries);
}

}  // namespace

int main() {
  CTemporaryFolder temp;
  if (!OpenSystemOperations()) return 1;
  Measure(temp.Path(), 5000);
  Measure(temp.Path(), 10000);
  CloseSystemOperations();
  return 0;
}
