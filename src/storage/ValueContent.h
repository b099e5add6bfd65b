// Registry value data as the text of a registry key file, and back.
// Portable: no Windows header, so it also runs under the host's sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Text.h"

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
std::optional<std::string> ParseValueContent(std::string_view content, std::uint32_t type);

// The Type attribute written for a type; "" for the types written without
// one or with an empty one.
std::string RegistryTypeName(std::uint32_t type);
// The type a Type attribute stands for; REG_SZ for anything unknown.
std::uint32_t RegistryTypeFromName(std::string_view name);

// One value of a key as a registry key file holds it.
struct RegistryValueEntry {
  std::string name;
  std::string content;
  std::uint32_t type;
  std::string data{};  // the bytes as the registry holds them
};

// The attribute value the markup reader hands back for `written`, an
// escaped text written between double quotes; nothing when the value ends
// before its closing quote (at a lone CR). Each line end inside it comes
// back as CR LF, except one that ends an empty stretch of the value (right
// after the opening quote or after another line end), which is lost.
std::optional<std::string> AttributeValueAsRead(const std::string& written);

// Replaces the placeholders of a text read back; stands for the folders of
// the computer the value is restored on. Every placeholder starts with '%':
// a text without one is not handed over.
using UnfoldPlaceholders = std::function<std::string(const std::string&)>;

// The attributes of a value's element after its Name, in writing order,
// not yet escaped. `content` is the Content with its placeholders folded.
// Content, and Type for the types that have one, as files have always held
// them. When importing those on this computer (reading, unfolding, parsing)
// would not give back exactly this type and these bytes, also the type code
// and every data byte, with the line ends of the Content written as CR LF
// so that readers which know only Content and Type still read it whole.
std::vector<std::pair<std::string, std::string>> ValueAttributes(
    std::uint32_t type, const std::string& data, const std::string& content,
    const UnfoldPlaceholders& unfold);
// The same attributes escaped and appended to a tag being formatted.
void AppendValueAttributes(std::string& out, std::uint32_t type, std::string_view data,
                           std::string_view content, const UnfoldPlaceholders& unfold);

extern const char kTypeCodeAttribute[];  // "TypeCode": the type in decimal
extern const char kDataAttribute[];      // "Data": every byte as two hex digits

// The type and bytes that a TypeCode and a Data attribute stand for;
// nothing when either is not in the form the export writes them.
std::optional<std::pair<std::uint32_t, std::string>> ParseExactValue(const std::string& typeCode,
                                                                     const std::string& data);

// Orders a key's values by name without regard to case, the way the files
// have always been written: an entry named "(Default)" never moves towards
// the end, so it stays ahead of every name that sorts after it and only
// names that sort before it and already stood before it precede it.
void OrderValueEntries(std::vector<RegistryValueEntry>& entries);
// The same order for values of these names, as positions into `names`.
std::vector<std::size_t> ValueNameOrder(const std::vector<std::string_view>& names);
