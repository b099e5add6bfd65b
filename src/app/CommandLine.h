// The start-up command line: blank-separated tokens, path tokens and
// case-sensitive switches. Portable: no Windows header.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
  // Every token that is not a path, newest first; "/c:", "/p:" and "/e:"
  // forms are stored as "/c", "/p" and "/e".
  std::vector<std::string> switches;
  std::string backupPath;  // the last path token
  bool compress = false;
  int level = -1;  // -1: the library's default level
  bool passwordGiven = false;
  std::string password;
  std::string exportKey;

  bool Has(const std::string& name) const;
  // Adds a switch at the end of the list unless it is there already.
  void AddIfMissing(const std::string& name);
};

CommandLine ParseCommandLine(const std::string& line);

// Every "%20" becomes a blank: how a path or key with blanks is typed.
std::string DecodeBlanks(const std::string& text);

// The console program's line: "/con" and each argument after one blank.
// Refuses (returns false) a line longer than kMaxConsoleLine characters
// rather than cutting a path into a different one.
const size_t kMaxConsoleLine = 1023;
bool BuildConsoleLine(int argc, const char* const* argv, std::string& line);
