#include "storage/ValueContent.h"

#include <algorithm>
#include <cstring>

#include "catalogue/Xml.h"

namespace {

std::string TextUpToNul(const unsigned char* data, std::size_t length) {
  const void* nul = std::memchr(data, 0, length);
  std::size_t size = nul ? static_cast<const unsigned char*>(nul) - data : length;
  return std::string(reinterpret_cast<const char*>(data), size);
}

const char kDigits[] = "0123456789abcdef";

std::string HexBytes(const unsigned char* data, std::size_t length) {
  std::string text;
  if (length == 0) return text;
  text.resize(length * 3 - 1, ' ');
  for (std::size_t i = 0; i < length; ++i) {
    text[3 * i] = kDigits[data[i] >> 4];
    text[3 * i + 1] = kDigits[data[i] & 15];
  }
  return text;
}

std::string HexBytes(std::string_view bytes) {
  return HexBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// `count` bytes of the value, most significant first. Bytes that a short
// value lacks count as zero.
std::string HexNumber(const unsigned char* data, std::size_t length, std::size_t count,
                      bool storedLittleEndian) {
  std::string text(2 + 2 * count, '0');
  text[1] = 'x';
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t index = storedLittleEndian ? count - 1 - i : i;
    unsigned char byte = index < length ? data[index] : 0;
    text[2 + 2 * i] = kDigits[byte >> 4];
    text[3 + 2 * i] = kDigits[byte & 15];
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
int HexPair(std::string_view text, std::size_t at) {
  int high = HexDigit(text[at]);
  int low = HexDigit(text[at + 1]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// "0x" and `count` pairs, most significant first, stored least significant
// first. Whatever follows (the decimal) is not looked at.
std::optional<std::string> ParseNumber(std::string_view content, std::size_t count) {
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
std::string PairLineEnds(std::string_view text) {
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
bool ContentRestoresValue(std::uint32_t type, std::string_view data, std::string_view content,
                          const UnfoldPlaceholders& unfold) {
  std::uint32_t readType = RegistryTypeFromName(RegistryTypeName(type));
  if (readType != type) return false;
  // Escaping takes out every character but the line ends at which the
  // reader would change the text, and unescaping gives it back: a Content
  // without line ends is read as it is written.
  std::string_view read = content;
  std::string readBack;
  if (content.find_first_of("\r\n") != std::string_view::npos) {
    std::optional<std::string> asRead = AttributeValueAsRead(EscapeXml(std::string(content)));
    if (!asRead) return false;
    readBack = UnescapeXml(*asRead);
    read = readBack;
  }
  // Placeholders all start with '%': a text without one stays as it is.
  std::string unfolded;
  if (read.find('%') != std::string_view::npos) {
    unfolded = unfold(std::string(read));
    read = unfolded;
  }
  std::optional<std::string> bytes = ParseValueContent(read, readType);
  // The import refuses to write a value without bytes.
  if (!bytes || bytes->empty()) return false;
  // A folded folder comes back spelled as this computer's shell spells it
  // ("C:\WINDOWS" for "C:\Windows"): the same path, and on another computer
  // the very point of the placeholder, so a difference in letter case alone
  // doesn't call for the exact form. Nothing else can differ only in case.
  return EqualNoCase(*bytes, data);
}

// Hands each attribute after the Name to `add` in writing order, not yet
// escaped.
template <typename Add>
void VisitValueAttributes(std::uint32_t type, std::string_view data, std::string_view content,
                          const UnfoldPlaceholders& unfold, Add add) {
  bool restores = ContentRestoresValue(type, data, content, unfold);
  if (restores) {
    add("Content", content);
  } else {
    add("Content", PairLineEnds(content));
  }
  if (HasTypeAttribute(type)) add("Type", RegistryTypeName(type));
  if (!restores) {
    add(kTypeCodeAttribute, std::to_string(type));
    add(kDataAttribute, HexBytes(data));
  }
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
      text += " (";
      text += std::to_string(static_cast<std::int32_t>(number));
      text += ')';
      return text;
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

std::optional<std::string> ParseValueContent(std::string_view content, std::uint32_t type) {
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
    default: {  // REG_SZ, REG_EXPAND_SZ
      std::string bytes;
      bytes.reserve(content.size() + 1);
      bytes.append(content);
      bytes += '\0';
      return bytes;
    }
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

std::uint32_t RegistryTypeFromName(std::string_view name) {
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
std::vector<std::size_t> ValueNameOrder(const std::vector<std::string_view>& names) {
  static const std::string_view kDefault = "(Default)";
  std::vector<std::vector<std::size_t>> runs(1);
  std::vector<std::size_t> barriers;
  std::vector<std::size_t> travellers;
  for (std::size_t i = 0; i < names.size(); ++i) {
    int order = CompareNoCase(names[i], kDefault);
    if (order == 0) {
      barriers.push_back(i);
      runs.emplace_back();
    } else if (order > 0) {
      travellers.push_back(i);
    } else {
      runs.back().push_back(i);
    }
  }
  runs.back().insert(runs.back().end(), travellers.begin(), travellers.end());
  auto less = [&names](std::size_t a, std::size_t b) {
    return CompareNoCase(names[a], names[b]) < 0;
  };
  std::vector<std::size_t> order;
  order.reserve(names.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    // The registry mostly hands values over in this order already.
    if (!std::is_sorted(runs[i].begin(), runs[i].end(), less))
      std::stable_sort(runs[i].begin(), runs[i].end(), less);
    order.insert(order.end(), runs[i].begin(), runs[i].end());
    if (i < barriers.size()) order.push_back(barriers[i]);
  }
  return order;
}

void OrderValueEntries(std::vector<RegistryValueEntry>& entries) {
  std::vector<std::string_view> names;
  names.reserve(entries.size());
  for (const RegistryValueEntry& entry : entries) names.push_back(entry.name);
  std::vector<std::size_t> order = ValueNameOrder(names);
  std::vector<RegistryValueEntry> ordered;
  ordered.reserve(entries.size());
  for (std::size_t index : order) ordered.push_back(std::move(entries[index]));
  entries = std::move(ordered);
}

// The reader takes the file line by line, a CR before the LF being part of
// the line end, and collects a value up to a quote, '>' or CR in the line.
// When the rest of a line is empty it goes on to the next line without
// adding the line end it adds after every other stretch.
std::optional<std::string> AttributeValueAsRead(const std::string& written) {
  std::string value;
  std::string_view text = written;
  for (std::size_t start = 0;;) {
    std::size_t lineEnd = text.find('\n', start);
    std::string_view stretch = text.substr(start, lineEnd == std::string_view::npos
                                                      ? std::string_view::npos
                                                      : lineEnd - start);
    if (lineEnd != std::string_view::npos && !stretch.empty() && stretch.back() == '\r')
      stretch.remove_suffix(1);
    if (stretch.find_first_of("\"'>\r") != std::string_view::npos) return std::nullopt;
    value += stretch;
    if (lineEnd == std::string_view::npos) return value;  // the closing quote follows
    if (!stretch.empty()) value += "\r\n";
    start = lineEnd + 1;
  }
}

std::vector<std::pair<std::string, std::string>> ValueAttributes(
    std::uint32_t type, const std::string& data, const std::string& content,
    const UnfoldPlaceholders& unfold) {
  std::vector<std::pair<std::string, std::string>> attributes;
  VisitValueAttributes(type, data, content, unfold,
                       [&attributes](const char* name, std::string_view value) {
                         attributes.emplace_back(name, std::string(value));
                       });
  return attributes;
}

void AppendValueAttributes(std::string& out, std::uint32_t type, std::string_view data,
                           std::string_view content, const UnfoldPlaceholders& unfold) {
  VisitValueAttributes(type, data, content, unfold,
                       [&out](const char* name, std::string_view value) {
                         AppendEscapedTagAttribute(out, name, value);
                       });
}

std::optional<std::pair<std::uint32_t, std::string>> ParseExactValue(const std::string& typeCode,
                                                                     const std::string& data) {
  std::optional<std::uint32_t> type = ParseDecimal(typeCode);
  std::optional<std::string> bytes = ParseHexBytes(data);
  if (!type || !bytes) return std::nullopt;
  return std::make_pair(*type, *bytes);
}
