// The text files a backup set keeps for the cookies, the history and a mail
// profile: "cookies.txt", "history.txt" and "outlook.txt". Their readers turn
// a file's bytes into what a restore hands on (cookies for the URL cache,
// addresses for the history, store paths for the profile), their writers make
// the lines a backup puts into the file. Portable: no Windows header, so the
// readers of this outside input are also tested and fuzzed on the host.
//
// The files are written through text-mode streams; what the readers see is
// what such a stream gives back, but they take CR LF as well as LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// Cookie addresses live in a 256-byte area, a cookie is at most 4 KB, and
// an expiry half is a decimal number of at most 32 characters. History
// addresses are read as words of at most 4095 bytes too.
const size_t kMaxCookieAddress = 255;
const size_t kMaxSpecialToken = 4095;
const size_t kMaxExpiryNumber = 32;
// A store path, and a store file's name, fit in MAX_PATH with its NUL.
const size_t kMaxStorePath = 259;
const size_t kStoreIdSize = 16;  // bytes; written as twice as many hex digits

// ------------------------------------------------------------ where bytes come from

// The bytes of one file, one at a time.
class CharSource {
 public:
  virtual ~CharSource() = default;
  // The next byte as 0..255, or -1 at the end.
  virtual int Get() = 0;
  // True when the end came from a read error rather than the file's end.
  virtual bool Failed() const { return false; }
};

class StreamSource : public CharSource {
 public:
  explicit StreamSource(std::FILE* stream) : m_stream(stream) {}
  int Get() override;
  bool Failed() const override;

 private:
  std::FILE* m_stream;
};

class StringSource : public CharSource {
 public:
  explicit StringSource(std::string text) : m_text(std::move(text)) {}
  int Get() override;

 private:
  std::string m_text;
  size_t m_at = 0;
};

// ------------------------------------------------------------ words and lines

enum class TokenRead { Ok, TooLong, End };

// Blank, tab, CR, LF, vertical tab and form feed.
bool IsFieldSeparator(int c);

// The next blank-separated word. A longer word than `limit` is read to its
// end but only its beginning is kept.
TokenRead ReadToken(CharSource& source, std::string& token, size_t limit);
// One line without its LF; false at the end of the file.
bool ReadLine(CharSource& source, std::string& line);
// The blank-separated words of a line.
std::vector<std::string> SplitFields(const std::string& line);

// ------------------------------------------------------------ cookies.txt

// Records of an address, the two halves of its expiry time and its cookies:
// "http://host/path high low name=value; name=value;". Whatever runs of
// separators lie between the words, a word beginning with "http://" starts
// the next record.
struct CookieFileEntry {
  enum class Kind {
    Record,   // a record begins: `text` is its address
    Cookie,   // one cookie of the current record, in `text`
    Damaged,  // a record whose expiry can't be read: the file is damaged
    End,      // no more words
  };
  Kind kind = Kind::End;
  std::string text;
  // Record or Damaged: the address is longer than kMaxCookieAddress (`text`
  // holds its beginning) and its cookies are read over. Cookie: the cookie
  // is longer than kMaxSpecialToken and `text` holds its beginning.
  bool tooLong = false;
  std::uint32_t expiryHigh = 0, expiryLow = 0;  // Record only
};

class CookieFileReader {
 public:
  explicit CookieFileReader(CharSource& source) : m_source(source) {}
  // After Damaged or End, End again. The ";" a record ends with and the
  // cookies of a record whose address is too long are never returned.
  CookieFileEntry Next();

 private:
  // The entry for a record whose address has just been read.
  CookieFileEntry StartRecord(std::string address, TokenRead read);

  CharSource& m_source;
  bool m_started = false;
  bool m_ended = false;
  bool m_leftOut = false;  // the current record's cookies are read over
};

// One record as a backup writes it, for `cookies` as the cache gives them
// ("name=value; name=value", or nothing). The halves are written signed.
std::string FormatCookieRecord(const std::string& address, std::uint32_t expiryHigh,
                               std::uint32_t expiryLow, const std::string& cookies);

// ------------------------------------------------------------ history.txt

// One address per word; TooLong when it exceeded kMaxSpecialToken bytes.
TokenRead ReadHistoryAddress(CharSource& source, std::string& address);
std::string FormatHistoryLine(const std::string& address);

// ------------------------------------------------------------ outlook.txt

// "Outook0.pst 000102030405060708090a0b0c0d0e0f %userprofile%\mail\my%20store.pst":
// the store's file in the set, its identifier in the profile and its path,
// folded and with its blanks as "%20" (`storedPath` is left so).
struct StoreLine {
  std::string fileName;
  std::string id;
  std::string storedPath;
};

enum class StoreLineRead {
  Ok,
  End,      // the end of the file, or a line without three words
  Refused,  // a line naming no file of the set, or no store identifier
};

StoreLineRead ReadStoreLine(CharSource& source, StoreLine& line);
// A bare file name (never a path out of the set) and 32 hex digits.
bool IsStoreLine(const std::string& fileName, const std::string& id);
// "Outook%d.pst" for the store's position in the profile's list.
std::string StoreFileName(size_t position);
std::string FormatStoreLine(const StoreLine& line);
