// Feeds arbitrary bytes to XmlReader as a file and walks every token, then
// reads it again from each of the first line positions it saw.
// Also checks that unescaping undoes escaping for the same bytes.
#include "catalogue/Xml.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string& InputPath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("qm-xml-fuzz-" + std::to_string(getpid()) + ".xml"))
          .string();
  return path;
}

void RemoveInput() { std::remove(InputPath().c_str()); }

// Every call consumes a character or ends a line, with at most one call
// in between that consumes nothing; more than this means it stopped moving.
size_t CallLimit(size_t bytes) { return 4 * bytes + 16; }

void Walk(XmlReader& reader, size_t bytes, std::vector<long>* positions) {
  size_t calls = 0;
  while (reader.Next()) {
    if (++calls > CallLimit(bytes)) __builtin_trap();
    std::string name, value;
    reader.GetName(name);
    reader.GetAttribute(name, value);
    if (reader.GetTokenType() < XmlTokenType::None || reader.GetTokenType() > XmlTokenType::CData) {
      __builtin_trap();
    }
    if (positions && positions->size() < 8) positions->push_back(reader.GetPosition());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool registered = (std::atexit(RemoveInput), true);
  (void)registered;
  std::FILE* file = std::fopen(InputPath().c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  XmlReader reader;
  if (!reader.Open(InputPath())) return 0;
  reader.SetShowErrors(true);
  std::vector<long> positions;
  Walk(reader, size, &positions);
  for (long position : positions) {
    if (position < 0 || static_cast<size_t>(position) > size) __builtin_trap();
    reader.Close();
    if (!reader.Open(InputPath())) return 0;
    // Seek in the middle of a line: the reader finishes it first.
    reader.Next();
    reader.Next();
    reader.Seek(position);
    Walk(reader, 2 * size, nullptr);
  }
  reader.Close();

  std::string text(reinterpret_cast<const char*>(data), size);
  if (UnescapeXml(EscapeXml(text)) != text) __builtin_trap();
  return 0;
}
