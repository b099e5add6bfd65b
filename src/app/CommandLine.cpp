#include "app/CommandLine.h"

#include <algorithm>

bool CommandLine::Has(const std::string& name) const {
  return std::find(switches.begin(), switches.end(), name) != switches.end();
}

void CommandLine::AddIfMissing(const std::string& name) {
  if (!Has(name)) switches.push_back(name);
}

std::string DecodeBlanks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "%20") == 0) {
      out += ' ';
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

namespace {

void ParseToken(const std::string& token, CommandLine& result) {
  std::vector<std::string>& switches = result.switches;
  if (token.size() > 1 && token[0] != '/') {
    result.backupPath = DecodeBlanks(token);
    return;
  }
  std::string head = token.substr(0, 3);
  if (head == "/c:") {
    result.compress = true;
    // Any character counts as the digit, so "/c:a" gives a level that the
    // backup refuses later; other lengths keep the default level.
    result.level = token.size() == 4 ? static_cast<unsigned char>(token[3]) - '0' : -1;
    switches.insert(switches.begin(), "/c");
  } else if (head == "/p:") {
    result.passwordGiven = true;
    if (token.size() > 3) result.password = token.substr(3);
    switches.insert(switches.begin(), "/p");
  } else if (head == "/e:") {
    if (token.size() > 3) result.exportKey = DecodeBlanks(token.substr(3));
    switches.insert(switches.begin(), "/e");
  } else {
    switches.insert(switches.begin(), token);
  }
}

}  // namespace

CommandLine ParseCommandLine(const std::string& line) {
  CommandLine result;
  size_t position = 0;
  while (position < line.size()) {
    if (line[position] == ' ') {
      ++position;
      continue;
    }
    size_t end = line.find(' ', position);
    if (end == std::string::npos) end = line.size();
    ParseToken(line.substr(position, end - position), result);
    position = end;
  }
  return result;
}

bool BuildConsoleLine(int argc, const char* const* argv, std::string& line) {
  line = "/con";
  for (int i = 1; i < argc; ++i) {
    line += ' ';
    line += argv[i];
    if (line.size() > kMaxConsoleLine) return false;
  }
  return true;
}
