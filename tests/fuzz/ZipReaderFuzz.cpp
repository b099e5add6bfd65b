// Feeds arbitrary bytes to CZipReader as an archive and reads every entry,
// with and without a password. When the writer agrees to add to the same
// bytes, the result must read back with the old entries and the new one.
#include "storage/Zip.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string TempPath(const char* suffix) {
  return (std::filesystem::temp_directory_path() /
          ("qm-zip-fuzz-" + std::to_string(getpid()) + suffix))
      .string();
}

const std::string& InputPath() {
  static const std::string path = TempPath(".zip");
  return path;
}

void RemoveInput() { std::remove(InputPath().c_str()); }

bool WriteInput(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(InputPath().c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

// Reads the current entry to its end; a reader may never hand out more
// than the recorded size, and every failure needs a text.
void ReadCurrent(CZipReader& reader, const char* password) {
  if (!reader.OpenEntry(password)) {
    if (reader.GetErrorText().empty()) std::abort();
    return;
  }
  const ZipEntryInfo* info = reader.GetCurrentEntry();
  uint64_t total = 0;
  char buffer[4096];
  long got;
  // Each call returns data, the end or an error; the bound catches a reader
  // that keeps returning nothing.
  for (int calls = 0; (got = reader.ReadEntry(buffer, sizeof buffer)) > 0; ++calls) {
    total += static_cast<uint64_t>(got);
    if (total > info->uncompressedSize) std::abort();
  }
  bool closed = reader.CloseEntry();
  if ((got < 0 || !closed) && reader.GetErrorText().empty()) std::abort();
}

size_t ReadAll(const std::string& path) {
  CZipReader reader;
  if (!reader.Open(path)) {
    if (reader.GetErrorText().empty()) std::abort();
    return SIZE_MAX;
  }
  for (bool more = reader.GoToFirstEntry(); more; more = reader.GoToNextEntry()) {
    ReadCurrent(reader, nullptr);
    ReadCurrent(reader, "pw");
  }
  reader.LocateEntry("A.TXT", false);
  return reader.GetEntryCount();
}

void CheckAppend(size_t before) {
  CZipWriter writer;
  if (!writer.CreateAfter(InputPath())) return;
  ZipNewEntry entry;
  entry.name = "added\\entry.txt";
  entry.level = 1;
  if (!writer.OpenEntry(entry) || !writer.CloseEntry() || !writer.Close()) std::abort();
  CZipReader reader;
  if (!reader.Open(InputPath())) std::abort();
  if (before != SIZE_MAX && reader.GetEntryCount() != before + 1) std::abort();
  if (!reader.LocateEntry("added\\entry.txt", true)) std::abort();
  char buffer[16];
  if (!reader.OpenEntry() || reader.ReadEntry(buffer, sizeof buffer) != 0 || !reader.CloseEntry()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::atexit(RemoveInput);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!WriteInput(data, size)) return 0;
  size_t before = ReadAll(InputPath());
  CheckAppend(before);
  return 0;
}
