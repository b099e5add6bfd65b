#include "system/SpecialItemFiles.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kHttpPrefix[] = "http://";

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// One half of an expiry time as written: a decimal number that fits in 32
// bits, signed or not.
bool ReadExpiryHalf(CharSource& source, std::uint32_t& half) {
  std::string token;
  if (ReadToken(source, token, kMaxExpiryNumber) != TokenRead::Ok) return false;
  char* end = nullptr;
  long long value = std::strtoll(token.c_str(), &end, 10);
  if (end == token.c_str() || *end != '\0') return false;
  if (value < -2147483648LL || value > 4294967295LL) return false;
  half = static_cast<std::uint32_t>(value);
  return true;
}

}  // namespace

// ------------------------------------------------------------ where bytes come from

int StreamSource::Get() {
  int c = std::getc(m_stream);
  return c == EOF ? -1 : c;
}

bool StreamSource::Failed() const { return std::ferror(m_stream) != 0; }

int StringSource::Get() {
  return m_at < m_text.size() ? static_cast<unsigned char>(m_text[m_at++]) : -1;
}

// ------------------------------------------------------------ words and lines

bool IsFieldSeparator(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

TokenRead ReadToken(CharSource& source, std::string& token, size_t limit) {
  token.clear();
  int c;
  do c = source.Get();
  while (c != -1 && IsFieldSeparator(c));
  if (c == -1) return TokenRead::End;
  bool tooLong = false;
  for (; c != -1 && !IsFieldSeparator(c); c = source.Get()) {
    if (token.size() < limit)
      token += static_cast<char>(c);
    else
      tooLong = true;
  }
  return tooLong ? TokenRead::TooLong : TokenRead::Ok;
}

bool ReadLine(CharSource& source, std::string& line) {
  line.clear();
  int c = source.Get();
  if (c == -1) return false;
  for (; c != -1 && c != '\n'; c = source.Get()) line += static_cast<char>(c);
  return true;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsFieldSeparator(static_cast<unsigned char>(line[at]))) ++at;
    size_t start = at;
    while (at < line.size() && !IsFieldSeparator(static_cast<unsigned char>(line[at]))) ++at;
    if (at > start) fields.push_back(line.substr(start, at - start));
  }
  return fields;
}

// ------------------------------------------------------------ cookies.txt

CookieFileEntry CookieFileReader::Next() {
  CookieFileEntry entry;
  if (m_ended) return entry;
  std::string token;
  if (!m_started) {
    // The first word is an address whatever it looks like.
    m_started = true;
    TokenRead read = ReadToken(m_source, token, kMaxSpecialToken);
    if (read == TokenRead::End) {
      m_ended = true;
      return entry;
    }
    return StartRecord(token, read);
  }
  for (;;) {
    TokenRead read = ReadToken(m_source, token, kMaxSpecialToken);
    if (read == TokenRead::End) {
      m_ended = true;
      return entry;
    }
    if (StartsWith(token, kHttpPrefix)) return StartRecord(token, read);
    if (m_leftOut) continue;
    if (token == ";") continue;  // an address that had no cookies left
    entry.kind = CookieFileEntry::Kind::Cookie;
    entry.text = token;
    entry.tooLong = read == TokenRead::TooLong;
    return entry;
  }
}

CookieFileEntry CookieFileReader::StartRecord(std::string address, TokenRead read) {
  CookieFileEntry entry;
  entry.tooLong = read == TokenRead::TooLong || address.size() > kMaxCookieAddress;
  entry.text = std::move(address);
  m_leftOut = entry.tooLong;
  if (!ReadExpiryHalf(m_source, entry.expiryHigh) || !ReadExpiryHalf(m_source, entry.expiryLow)) {
    entry.kind = CookieFileEntry::Kind::Damaged;
    entry.expiryHigh = entry.expiryLow = 0;
    m_ended = true;
    return entry;
  }
  entry.kind = CookieFileEntry::Kind::Record;
  return entry;
}

std::string FormatCookieRecord(const std::string& address, std::uint32_t expiryHigh,
                               std::uint32_t expiryLow, const std::string& cookies) {
  return address + " " + std::to_string(static_cast<std::int32_t>(expiryHigh)) + " " +
         std::to_string(static_cast<std::int32_t>(expiryLow)) + " " + cookies + ";\r\n";
}

// ------------------------------------------------------------ history.txt

TokenRead ReadHistoryAddress(CharSource& source, std::string& address) {
  return ReadToken(source, address, kMaxSpecialToken);
}

std::string FormatHistoryLine(const std::string& address) { return address + "\r\n"; }

// ------------------------------------------------------------ outlook.txt

StoreLineRead ReadStoreLine(CharSource& source, StoreLine& line) {
  std::string text;
  if (!ReadLine(source, text)) return StoreLineRead::End;
  std::vector<std::string> fields = SplitFields(text);
  if (fields.size() < 3) return StoreLineRead::End;
  if (!IsStoreLine(fields[0], fields[1])) return StoreLineRead::Refused;
  line.fileName = fields[0];
  line.id = fields[1];
  line.storedPath = fields[2];
  return StoreLineRead::Ok;
}

bool IsStoreLine(const std::string& fileName, const std::string& id) {
  // A NUL would cut the name short where Windows gets it, and as Windows
  // drops the dots a name ends with, a name of dots only names a folder.
  static const std::string kNotInName("\\/:\0", 4);
  if (fileName.empty() || fileName.size() > kMaxStorePath ||
      fileName.find_first_of(kNotInName) != std::string::npos ||
      fileName.find_first_not_of('.') == std::string::npos)
    return false;
  return id.size() == 2 * kStoreIdSize &&
         id.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

std::string StoreFileName(size_t position) {
  char name[32];
  std::snprintf(name, sizeof name, "Outook%d.pst", static_cast<int>(position));
  return name;
}

std::string FormatStoreLine(const StoreLine& line) {
  return line.fileName + " " + line.id + " " + line.storedPath + "\n";
}
