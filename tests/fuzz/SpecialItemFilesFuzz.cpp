// Feeds arbitrary bytes to the readers of "cookies.txt", "history.txt" and
// "outlook.txt" alike, walks everything they return, and checks what a
// restore relies on: no word beyond its limit, cookies only inside a record
// that is kept, only bare file names of the set and real store identifiers,
// an end that stays the end, and for what was read, that the backup's lines
// for it read back the same (with LF and with CR LF line ends).
#include "system/SpecialItemFiles.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Kind = CookieFileEntry::Kind;

bool HasSeparator(const std::string& word) {
  for (char c : word)
    if (IsFieldSeparator(static_cast<unsigned char>(c))) return true;
  return false;
}

bool IsWord(const std::string& word, size_t limit) {
  return !word.empty() && word.size() <= limit && !HasSeparator(word);
}

bool IsHttp(const std::string& word) { return word.compare(0, 7, "http://") == 0; }

struct Record {
  std::string address;
  std::uint32_t high, low;
  std::vector<std::string> cookies;
};

std::vector<CookieFileEntry> ReadCookies(const std::string& text) {
  StringSource source(text);
  CookieFileReader reader(source);
  std::vector<CookieFileEntry> entries;
  for (;;) {
    CookieFileEntry entry = reader.Next();
    if (entry.kind == Kind::End) break;
    entries.push_back(entry);
    // Every entry takes at least one byte of the file.
    if (entries.size() > text.size()) __builtin_trap();
  }
  if (reader.Next().kind != Kind::End) __builtin_trap();
  return entries;
}

void CheckCookies(const std::string& text) {
  std::vector<CookieFileEntry> entries = ReadCookies(text);
  std::vector<Record> kept;
  bool leftOut = false;
  bool keeping = false;  // the current record is one a backup could write
  for (size_t i = 0; i < entries.size(); ++i) {
    const CookieFileEntry& entry = entries[i];
    switch (entry.kind) {
      case Kind::Damaged:
        if (i + 1 != entries.size()) __builtin_trap();
        [[fallthrough]];
      case Kind::Record:
        if (!IsWord(entry.text, kMaxSpecialToken)) __builtin_trap();
        if (!entry.tooLong && entry.text.size() > kMaxCookieAddress) __builtin_trap();
        // Only the file's first word may be an address of another kind.
        if (i > 0 && !IsHttp(entry.text)) __builtin_trap();
        leftOut = entry.tooLong;
        keeping = entry.kind == Kind::Record && !entry.tooLong && IsHttp(entry.text);
        if (keeping) kept.push_back({entry.text, entry.expiryHigh, entry.expiryLow, {}});
        break;
      case Kind::Cookie:
        if (i == 0 || leftOut) __builtin_trap();
        if (!IsWord(entry.text, kMaxSpecialToken) || entry.text == ";" || IsHttp(entry.text))
          __builtin_trap();
        if (entry.tooLong && entry.text.size() != kMaxSpecialToken) __builtin_trap();
        if (keeping && !entry.tooLong) kept.back().cookies.push_back(entry.text);
        break;
      case Kind::End:
        __builtin_trap();
    }
  }

  // The backup writes the cookies the cache gives as "a=1; b=2" and ends
  // the record with ";", which the last cookie keeps.
  std::string written;
  std::vector<Record> expected;
  for (const Record& record : kept) {
    if (!record.cookies.empty() && record.cookies.back().size() + 1 > kMaxSpecialToken) continue;
    std::string cookies;
    for (const std::string& cookie : record.cookies)
      cookies += (cookies.empty() ? "" : " ") + cookie;
    written += FormatCookieRecord(record.address, record.high, record.low, cookies);
    expected.push_back(record);
    if (!record.cookies.empty()) expected.back().cookies.back() += ";";
  }
  std::vector<CookieFileEntry> again = ReadCookies(written);
  size_t at = 0;
  for (const Record& record : expected) {
    if (at >= again.size() || again[at].kind != Kind::Record || again[at].tooLong ||
        again[at].text != record.address || again[at].expiryHigh != record.high ||
        again[at].expiryLow != record.low)
      __builtin_trap();
    ++at;
    for (const std::string& cookie : record.cookies) {
      if (at >= again.size() || again[at].kind != Kind::Cookie || again[at].tooLong ||
          again[at].text != cookie)
        __builtin_trap();
      ++at;
    }
  }
  if (at != again.size()) __builtin_trap();
}

void CheckHistory(const std::string& text) {
  StringSource source(text);
  std::vector<std::string> addresses;
  std::string address;
  size_t count = 0;
  for (TokenRead read; (read = ReadHistoryAddress(source, address)) != TokenRead::End;) {
    if (++count > text.size()) __builtin_trap();
    if (!IsWord(address, kMaxSpecialToken)) __builtin_trap();
    if (read == TokenRead::TooLong && address.size() != kMaxSpecialToken) __builtin_trap();
    if (read == TokenRead::Ok) addresses.push_back(address);
  }
  if (ReadHistoryAddress(source, address) != TokenRead::End || !address.empty()) __builtin_trap();

  std::string written;
  for (const std::string& each : addresses) written += FormatHistoryLine(each);
  StringSource again(written);
  for (const std::string& each : addresses)
    if (ReadHistoryAddress(again, address) != TokenRead::Ok || address != each) __builtin_trap();
  if (ReadHistoryAddress(again, address) != TokenRead::End) __builtin_trap();
}

bool IsBareName(const std::string& name) {
  if (name.empty() || name.size() > kMaxStorePath) return false;
  if (name.find_first_not_of('.') == std::string::npos) return false;
  for (char c : name)
    if (c == '\\' || c == '/' || c == ':' || c == '\0') return false;
  return true;
}

bool IsStoreId(const std::string& id) {
  if (id.size() != 2 * kStoreIdSize) return false;
  for (char c : id)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
      return false;
  return true;
}

void CheckStores(const std::string& text) {
  StringSource source(text);
  std::vector<StoreLine> lines;
  StoreLine line;
  StoreLineRead read;
  while ((read = ReadStoreLine(source, line)) == StoreLineRead::Ok) {
    if (lines.size() > text.size()) __builtin_trap();
    if (!IsBareName(line.fileName) || !IsStoreId(line.id)) __builtin_trap();
    if (line.storedPath.empty() || HasSeparator(line.storedPath)) __builtin_trap();
    lines.push_back(line);
  }

  for (const char* end : {"\n", "\r\n"}) {
    std::string written;
    for (const StoreLine& each : lines) {
      std::string one = FormatStoreLine(each);
      written += one.substr(0, one.size() - 1) + end;
    }
    StringSource again(written);
    for (const StoreLine& each : lines) {
      if (ReadStoreLine(again, line) != StoreLineRead::Ok || line.fileName != each.fileName ||
          line.id != each.id || line.storedPath != each.storedPath)
        __builtin_trap();
    }
    if (ReadStoreLine(again, line) != StoreLineRead::End) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  CheckCookies(text);
  CheckHistory(text);
  CheckStores(text);
  return 0;
}
