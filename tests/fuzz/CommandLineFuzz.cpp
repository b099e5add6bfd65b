// Feeds arbitrary bytes to the start-up command line parser, once as the
// line Windows hands over and once as the console program's arguments
// (cut at NUL bytes), and checks what the programs rely on: every switch
// is one whole token, the colon forms leave their switch behind, the level
// is the default unless compression was asked for, and nothing grows.
#include "app/CommandLine.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void CheckLine(const std::string& text) {
  CommandLine line = ParseCommandLine(text);
  size_t switchBytes = 0;
  for (const std::string& name : line.switches) {
    if (name.empty() || name.find(' ') != std::string::npos) __builtin_trap();
    switchBytes += name.size();
  }
  if (switchBytes > text.size()) __builtin_trap();
  if (line.switches.size() > text.size() / 2 + 1) __builtin_trap();
  // A bare "/c" or "/p" is kept as a switch of its own without setting them.
  if (line.compress && !line.Has("/c")) __builtin_trap();
  if (line.passwordGiven && !line.Has("/p")) __builtin_trap();
  if (!line.exportKey.empty() && !line.Has("/e")) __builtin_trap();
  if (!line.compress && line.level != -1) __builtin_trap();
  // One character after "/c:" gives its code less '0'; anything else the default.
  if (line.level < -'0' || line.level > 255 - '0') __builtin_trap();
  if (line.password.find(' ') != std::string::npos) __builtin_trap();
  if (line.backupPath.size() > text.size() || line.exportKey.size() > text.size()) {
    __builtin_trap();
  }
  if (DecodeBlanks(text).size() > text.size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  CheckLine(text);

  std::vector<std::string> arguments{"backupcmd"};
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    arguments.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  std::string line;
  bool built = BuildConsoleLine(static_cast<int>(argv.size()), argv.data(), line);
  if (built && line.size() > kMaxConsoleLine) __builtin_trap();
  if (!built) return 0;
  if (line.compare(0, 4, "/con") != 0) __builtin_trap();
  CommandLine parsed = ParseCommandLine(line);
  // "/con" stands alone unless the first argument runs on without a blank,
  // which BuildConsoleLine never lets happen.
  if (!parsed.Has("/con")) __builtin_trap();
  CheckLine(line);
  return 0;
}
