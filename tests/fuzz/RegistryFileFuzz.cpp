// Feeds arbitrary bytes to the registry key file reader as a file and
// collects the levels and values it would write. The levels must nest, and
// every value it hands over must come back the same (type, bytes and name)
// when written the way the export writes it and read again.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/Text.h"
#include "catalogue/Xml.h"
#include "storage/RegistryFileReader.h"

namespace {

std::string TempPath(const char* what) {
  return (std::filesystem::temp_directory_path() /
          ("qm-registry-fuzz-" + std::to_string(getpid()) + what))
      .string();
}

const std::string& InputPath() {
  static const std::string path = TempPath(".xml");
  return path;
}

const std::string& AgainPath() {
  static const std::string path = TempPath("-again.xml");
  return path;
}

void RemoveFiles() {
  std::remove(InputPath().c_str());
  std::remove(AgainPath().c_str());
}

// Folders of another computer, as a restore unfolds them.
std::string Unfold(const std::string& text) {
  std::string unfolded = ReplaceAll(text, "%windir%", "C:\\WINDOWS");
  unfolded = ReplaceAll(unfolded, "%userprofile%", "C:\\Documents and Settings\\Ann");
  unfolded = ReplaceAll(unfolded, "%comprograms%", "C:\\Documents and Settings\\All Users\\Start Menu\\Programs");
  return ReplaceAll(unfolded, "%programs%", "C:\\Documents and Settings\\Ann\\Start Menu\\Programs");
}

struct Found {
  std::string name;
  KeyFileData data;
};

class CCollect : public CRegistryFileSink {
 public:
  bool LevelOpened(const std::string&) override {
    ++m_depth;
    return true;
  }
  void LevelClosed() override {
    if (m_depth == 0) __builtin_trap();
    --m_depth;
  }
  void Value(const std::string& name, const std::optional<KeyFileData>& data) override {
    if (m_depth == 0) __builtin_trap();
    if (data && values.size() < 64) values.push_back({name, *data});
  }

  std::vector<Found> values;

 private:
  size_t m_depth = 0;
};

bool Read(const std::string& path, CCollect& collect) {
  XmlReader reader;
  if (!reader.Open(path)) return false;
  CRegistryFileReader fileReader(collect, Unfold);
  while (reader.Next())
    if (!fileReader.Token(reader)) __builtin_trap();
  reader.Close();
  return true;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool whole = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && whole;
}

// One key holding the values as the export writes them.
std::string KeyFile(const std::vector<Found>& values) {
  std::string text = "<?xml version=\"1.0\"?>\r\n";
  AppendTagOpening(text, 0, true, "<", "Key");
  AppendEscapedTagAttribute(text, "Name", "HKEY_CURRENT_USER");
  AppendTagClosing(text, ">", true);
  for (const Found& value : values) {
    const KeyFileData& data = value.data;
    AppendTagOpening(text, 1, true, "<", "Value");
    AppendEscapedTagAttribute(text, "Name", value.name);
    std::string content = FormatValueContent(
        data.first, reinterpret_cast<const unsigned char*>(data.second.data()), data.second.size());
    AppendValueAttributes(text, data.first, data.second, content, Unfold);
    AppendTagClosing(text, "/>", true);
  }
  AppendTagOpening(text, 0, true, "</", "Key");
  AppendTagClosing(text, ">", true);
  return text;
}

// A name the export can write so that it reads back the same: the markup
// keeps no line end at the start of a value and hands CR LF back for LF.
bool NameComesBack(const std::string& name) {
  return name.find_first_of("\r\n") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool registered = (std::atexit(RemoveFiles), true);
  (void)registered;
  if (!WriteFile(InputPath(), std::string(reinterpret_cast<const char*>(data), size))) return 0;
  CCollect first;
  if (!Read(InputPath(), first)) return 0;
  if (first.values.empty()) return 0;

  if (!WriteFile(AgainPath(), KeyFile(first.values))) return 0;
  CCollect again;
  if (!Read(AgainPath(), again)) return 0;
  if (again.values.size() != first.values.size()) __builtin_trap();
  for (size_t i = 0; i < first.values.size(); ++i) {
    const Found& was = first.values[i];
    const Found& is = again.values[i];
    if (is.data != was.data) __builtin_trap();
    if (NameComesBack(was.name) && is.name != was.name) __builtin_trap();
  }
  return 0;
}
