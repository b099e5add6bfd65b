#include "storage/ValueContent.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "catalogue/Xml.h"

namespace {

std::string TextUpToNul(const unsigned char* data, std::size_t length) {
  const void* nul = std::memchr(data, 0, length);
  std::size_t size = nul ? static_cast<const unsigned char*>(nul) - data : length;
  return std::string(reinterpret_cast<const char*>(data), size);
}

std::string HexBytes(const unsigned char* data, std::size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 3);
  for (std::size_t i = 0; i < length; ++i) {
    if (i > 0) text += ' ';
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 15];
  }
  return text;
}

// `count` bytes of the value, most significant first. Bytes that a short
// value lacks count as zero.
std::string HexNumber(const unsigned char* data, std::size_t length, std::size_t count,
                      bool storedLittleEndian) {
  std::string text = "0x";
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t index = storedLittleEndian ? count - 1 - i : i;
    unsigned char byte = index < length ? data[index] : 0;
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte written as two hexadecimal digits at `at`; -1 if they aren't.
int HexPair(const std::string& text, std::size_t at) {
  int high = HexDigit(text[at]);
  int low = HexDigit(text[at + 1]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// "0x" and `count` pairs, most significant first, stored least significant
// first. Whatever follows (the decimal) is not looked at.
std::optional<std::string> ParseNumber(const std::string& content, std::size_t count) {
  if (content.empty()) return std::string(count, '\0');
  if (content.size() < 2 + 2 * count) return std::nullopt;
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    int byte = HexPair(content, 2 + 2 * i);
    if (byte < 0) return std::nullopt;
    bytes[count - 1 - i] = static_cast<char>(byte);
  }
  return bytes;
}

// Every line end as CR LF: a lone CR would end the attribute value for a
// reader, and a lone LF comes back as CR LF anyway.
std::string PairLineEnds(const std::string& text) {
  std::string paired;
  paired.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      paired += "\r\n";
      ++i;
    } else if (c == '\r' || c == '\n') {
      paired += "\r\n";
    } else {
      paired += c;
    }
  }
  return paired;
}

bool HasTypeAttribute(std::uint32_t type) { return type != kRegNone && type != kRegSz; }

std::optional<std::uint32_t> ParseDecimal(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (number > 0xffffffffu) return std::nullopt;
  return static_cast<std::uint32_t>(number);
}

// Pairs separated by single blanks, as HexBytes writes them; "" is no byte.
std::optional<std::string> ParseHexBytes(const std::string& text) {
  if (text.empty()) return std::string();
  if ((text.size() + 1) % 3 != 0) return std::nullopt;
  std::string bytes((text.size() + 1) / 3, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && text[3 * i - 1] != ' ') return std::nullopt;
    int byte = HexPair(text, 3 * i);
    if (byte < 0) return std::nullopt;
    bytes[i] = static_cast<char>(byte);
  }
  return bytes;
}

// What the import makes of a Value element with this Content and the Type
// of `type`, compared with the value itself.
bool ContentRestoresValue(std::uint32_t type, const std::string& data, const std::string& content,
                          const UnfoldPlaceholders& unfold) {
  std::uint32_t readType = RegistryTypeFromName(RegistryTypeName(type));
  if (readType != type) return false;
  // Escaping takes out every character but the line ends at which the
  // reader would change the text, and unescaping gives it back: a Content
  // without line ends is read as it is written.
  std::optional<std::string> read = content;
  if (content.find_first_of("\r\n") != std::string::npos) {
    read = AttributeValueAsRead(EscapeXml(content));
    if (!read) return false;
    read = UnescapeXml(*read);
  }
  std::optional<std::string> bytes = ParseValueContent(unfold(*read), readType);
  // The import refuses to write a value without bytes.
  if (!bytes || bytes->empty()) return false;
  // A folded folder comes back spelled as this computer's shell spells it
  // ("C:\WINDOWS" for "C:\Windows"): the same path, and on another computer
  // the very point of the placeholder, so a difference in letter case alone
  // doesn't call for the exact form. Nothing else can differ only in case.
  return *bytes == data || CompareNoCase(*bytes, data) == 0;
}

}  // namespace

const char kTypeCodeAttribute[] = "TypeCode";
const char kDataAttribute[] = "Data";

std::string FormatValueContent(std::uint32_t type, const unsigned char* data, std::size_t length) {
  switch (type) {
    case kRegBinary:
    case kRegResourceList:
    case kRegResourceRequirementsList:
      return HexBytes(data, length);
    case kRegDword:
    case kRegDwordBigEndian: {
      bool little = type == kRegDword;
      std::string text = HexNumber(data, length, 4, little);
      std::uint32_t number = 0;
      for (std::size_t i = 0; i < 4; ++i) {
        std::size_t index = little ? 3 - i : i;
        number = (number << 8) | (index < length ? data[index] : 0);
      }
      char decimal[16];
      std::snprintf(decimal, sizeof decimal, " (%d)", static_cast<std::int32_t>(number));
      return text + decimal;
    }
    case kRegQword:
      return HexNumber(data, length, 8, true);
    case kRegMultiSz: {
      std::string text;
      for (std::size_t i = 0; i + 2 < length; ++i) {
        if (data[i] == 0) {
          text += "\r\n";
        } else {
          text += static_cast<char>(data[i]);
        }
      }
      return text;
    }
    case kRegFullResourceDescriptor:
      return std::string();
    default:  // REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_LINK and unknown types
      return TextUpToNul(data, length);
  }
}

std::optional<std::string> ParseValueContent(const std::string& content, std::uint32_t type) {
  switch (type) {
    case kRegBinary:
    case kRegResourceList:
    case kRegResourceRequirementsList: {
      if (content.empty()) return std::string(1, '\0');
      std::size_t count = (content.size() + 1) / 3;
      std::string bytes(count, '\0');
      for (std::size_t i = 0; i < count; ++i) {
        int byte = HexPair(content, 3 * i);
        if (byte < 0) return std::nullopt;
        bytes[i] = static_cast<char>(byte);
      }
      return bytes;
    }
    case kRegDword:
      return ParseNumber(content, 4);
    case kRegQword:
      return ParseNumber(content, 8);
    case kRegMultiSz: {
      if (content.empty()) return std::string(1, '\0');
      std::string bytes;
      bytes.reserve(content.size() + 2);
      for (char c : content) {
        if (c == '\r') continue;
        bytes += c == '\n' ? '\0' : c;
      }
      bytes.append(2, '\0');
      return bytes;
    }
    default:  // REG_SZ, REG_EXPAND_SZ
      return content + '\0';
  }
}

std::string RegistryTypeName(std::uint32_t type) {
  switch (type) {
    case kRegSz:
    case kRegLink:
      return "REG_SZ";
    case kRegExpandSz:
      return "REG_EXPAND_SZ";
    case kRegBinary:
      return "REG_BINARY";
    case kRegDword:
    case kRegDwordBigEndian:
      return "REG_DWORD";
    case kRegMultiSz:
      return "REG_MULTI_SZ";
    case kRegResourceList:
      return "REG_RESOURCE_LIST";
    case kRegResourceRequirementsList:
      return "REG_RESOURCE_REQUIREMENTS_LIST";
    case kRegQword:
      return "REG_QWORD";
    default:
      return std::string();
  }
}

std::uint32_t RegistryTypeFromName(const std::string& name) {
  static const struct {
    const char* name;
    std::uint32_t type;
  } kNames[] = {
      {"REG_BINARY", kRegBinary},
      {"REG_DWORD", kRegDword},
      {"REG_SZ", kRegSz},
      {"REG_EXPAND_SZ", kRegExpandSz},
      {"REG_MULTI_SZ", kRegMultiSz},
      {"REG_QWORD", kRegQword},
      {"REG_RESOURCE_LIST", kRegResourceList},
      {"REG_RESOURCE_REQUIREMENTS_LIST", kRegResourceRequirementsList},
  };
  for (const auto& entry : kNames) {
    if (name.size() != std::strlen(entry.name)) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      char a = name[i];
      if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
      same = a == entry.name[i];
    }
    if (same) return entry.type;
  }
  return kRegSz;
}

// The files were first written with an exchange sort that never moves a
// "(Default)" entry to the right. Its result, computed in n log n: the
// "(Default)" entries keep their order and split the list into runs; a name
// that sorts after "(Default)" travels past every later one into the last
// run, any other name stays in its run; each run is sorted stably.
void OrderValueEntries(std::vector<RegistryValueEntry>& entries) {
  static const std::string kDefault = "(Default)";
  std::vector<std::vector<RegistryValueEntry>> runs(1);
  std::vector<RegistryValueEntry> barriers;
  std::vector<RegistryValueEntry> travellers;
  for (RegistryValueEntry& entry : entries) {
    int order = CompareNoCase(entry.name, kDefault);
    if (order == 0) {
      barriers.push_back(std::move(entry));
      runs.emplace_back();
    } else if (order > 0) {
      travellers.push_back(std::move(entry));
    } else {
      runs.back().push_back(std::move(entry));
    }
  }
  for (RegistryValueEntry& entry : travellers) runs.back().push_back(std::move(entry));
  auto less = [](const RegistryValueEntry& a, const RegistryValueEntry& b) {
    return CompareNoCase(a.name, b.name) < 0;
  };
  entries.clear();
  for (std::size_t i = 0; i < runs.size(); ++i) {
    std::stable_sort(runs[i].begin(), runs[i].end(), less);
    for (RegistryValueEntry& entry : runs[i]) entries.push_back(std::move(entry));
    if (i < barriers.size()) entries.push_back(std::move(barriers[i]));
  }
}

// The reader takes the file line by line, a CR before the LF being part of
// the line end, and collects a value up to a quote, '>' or CR in the line.
// When the rest of a line is empty it goes on to the next line without
// adding the line end it adds after every other stretch.
std::optional<std::string> AttributeValueAsRead(const std::string& written) {
  std::string value;
  for (std::size_t start = 0;;) {
    std::size_t lineEnd = written.find('\n', start);
    std::string stretch = written.substr(start, lineEnd == std::string::npos
                                                    ? std::string::npos
                                                    : lineEnd - start);
    if (lineEnd != std::string::npos && !stretch.empty() && stretch.back() == '\r')
      stretch.pop_back();
    if (stretch.find_first_of("\"'>\r") != std::string::npos) return std::nullopt;
    value += stretch;
    if (lineEnd == std::string::npos) return value;  // the closing quote follows
    if (!stretch.empty()) value += "\r\n";
    start = lineEnd + 1;
  }
}

std::vector<std::pair<std::string, std::string>> ValueAttributes(
    std::uint32_t type, const std::string& data, const std::string& content,
    const UnfoldPlaceholders& unfold) {
  bool restores = ContentRestoresValue(type, data, content, unfold);
  std::vector<std::pair<std::string, std::string>> attributes;
  attributes.emplace_back("Content", restores ? content : PairLineEnds(content));
  if (HasTypeAttribute(type)) attributes.emplace_back("Type", RegistryTypeName(type));
  if (!restores) {
    attributes.emplace_back(kTypeCodeAttribute, std::to_string(type));
    attributes.emplace_back(
        kDataAttribute,
        HexBytes(reinterpret_cast<const unsigned char*>(data.data()), data.size()));
  }
  return attributes;
}

std::optional<std::pair<std::uint32_t, std::string>> ParseExactValue(const std::string& typeCode,
                                                                     const std::string& data) {
  std::optional<std::uint32_t> type = ParseDecimal(typeCode);
  std::optional<std::string> bytes = ParseHexBytes(data);
  if (!type || !bytes) return std::nullopt;
  return std::make_pair(*type, *bytes);
}
