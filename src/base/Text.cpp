#include "base/Text.h"

#include <algorithm>

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string ToLowerAscii(std::string text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    int x = static_cast<unsigned char>(LowerAscii(a[i]));
    int y = static_cast<unsigned char>(LowerAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool StartsWithNoCase(const std::string& text, const std::string& head) {
  return text.size() >= head.size() && EqualNoCase(text.substr(0, head.size()), head);
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && EqualNoCase(text.substr(text.size() - tail.size()), tail);
}

std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t found = text.find(from); found != std::string::npos;
       found = text.find(from, start)) {
    out.append(text, start, found - start);
    out += to;
    start = found + from.size();
  }
  out.append(text, start, std::string::npos);
  return out;
}

std::string WithBackslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Through a volatile pointer: stores to a text about to be cleared or
// destroyed could otherwise be left out by the compiler.
void WipeText(std::string& secret) {
  if (!secret.empty()) {
    volatile char* bytes = &secret[0];
    for (std::size_t i = 0; i < secret.size(); ++i) bytes[i] = '\0';
  }
  secret.clear();
}
