// Registry value data as the text of a registry key file, and back.
// Portable: no Windows header, so it also runs under the host's sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Registry type codes as the registry defines them.
enum RegistryType : std::uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegDwordBigEndian = 5,
  kRegLink = 6,
  kRegMultiSz = 7,
  kRegResourceList = 8,
  kRegFullResourceDescriptor = 9,
  kRegResourceRequirementsList = 10,
  kRegQword = 11,
};

// The Content text of a value. REG_LINK data must already be converted from
// UTF-16 to ANSI text by the caller.
std::string FormatValueContent(std::uint32_t type, const unsigned char* data, std::size_t length);

// The data to store for a Content text of a type that RegistryTypeFromName
// gave; nothing when the text can't stand for data of that type (too short
// for a DWORD or QWORD, a character that isn't a hexadecimal digit).
std::optional<std::string> ParseValueContent(const std::string& content, std::uint32_t type);

// The Type attribute written for a type; "" for the types written without
// one or with an empty one.
std::string RegistryTypeName(std::uint32_t type);
// The type a Type attribute stands for; REG_SZ for anything unknown.
std::uint32_t RegistryTypeFromName(const std::string& name);

// One value of a key as a registry key file holds it.
struct RegistryValueEntry {
  std::string name;
  std::string content;
  std::uint32_t type;
};

// Orders a key's values by name without regard to case, the way the files
// have always been written: an entry named "(Default)" never moves towards
// the end, so it stays ahead of every name that sorts after it and only
// names that sort before it and already stood before it precede it.
void OrderValueEntries(std::vector<RegistryValueEntry>& entries);
// Byte-wise comparison with ASCII letters folded to lower case.
int CompareNoCase(const std::string& a, const std::string& b);
