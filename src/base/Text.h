// Text helpers shared by every folder: one letter-case rule for names and
// paths, one replacement, one slash fix. Portable: no Windows header, so the
// markup and value formats that use them still build for the host.
#pragma once

#include <string>
#include <string_view>

// Only A-Z are folded: the rule of file names, registry names and the
// program's own element names alike, whatever the code page.
char LowerAscii(char c);
std::string ToLowerAscii(std::string text);
// Byte-wise comparison with ASCII letters folded: <0, 0 or >0.
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(const std::string& text, const std::string& head);
bool EndsWithNoCase(const std::string& text, const std::string& tail);

// Every occurrence of `from` (not empty) replaced, left to right; what a
// replacement puts in is not searched again.
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to);

// Each "/" becomes "\".
std::string WithBackslashes(std::string path);

// Overwrites a secret's characters, then empties it, so that a password
// doesn't linger in memory that is given back.
void WipeText(std::string& secret);
