#include "storage/Zip.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>

#include "base/Text.h"

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::size_t kEncryptionHeaderSize = 12;

constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDescriptor = 0x0008;
constexpr std::uint16_t kFlagStrongEncryption = 0x0040;

// Version 2.0 (deflate, traditional encryption); made on a FAT host, so
// readers take the low byte of the external attributes as DOS attributes.
constexpr std::uint16_t kVersion = 20;
constexpr std::uint64_t kMax32 = 0xFFFFFFFFull;
constexpr std::size_t kBufferSize = 65536;

std::uint16_t Get16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t Get32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Put16(std::string& out, std::uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// Archives stay below 4 GB, which a 32-bit long can't address.
bool SeekTo(std::FILE* file, std::uint64_t position) {
#if defined(_MSC_VER)
  return _fseeki64(file, static_cast<__int64>(position), SEEK_SET) == 0;
#elif defined(__MINGW32__)
  return fseeko64(file, static_cast<_off64_t>(position), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

bool SizeOf(std::FILE* file, std::uint64_t& size) {
#if defined(_MSC_VER)
  if (_fseeki64(file, 0, SEEK_END) != 0) return false;
  __int64 end = _ftelli64(file);
#elif defined(__MINGW32__)
  if (fseeko64(file, 0, SEEK_END) != 0) return false;
  _off64_t end = ftello64(file);
#else
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  off_t end = ftello(file);
#endif
  if (end < 0) return false;
  size = static_cast<std::uint64_t>(end);
  return true;
}

bool ReadAt(std::FILE* file, std::uint64_t position, void* buffer, std::size_t size) {
  return SeekTo(file, position) && std::fread(buffer, 1, size, file) == size;
}

// The CRC-32 step without the pre- and post-inversion that zlib's crc32
// applies; the encryption keys are updated with exactly this step.
class CCrcTable {
 public:
  CCrcTable() {
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      m_table[n] = c;
    }
  }
  std::uint32_t Step(std::uint32_t crc, unsigned char byte) const {
    return m_table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  }

 private:
  std::uint32_t m_table[256];
};

const CCrcTable& CrcTable() {
  static const CCrcTable table;
  return table;
}

// The three keys of the traditional ZIP encryption.
class CZipCryptKeys {
 public:
  explicit CZipCryptKeys(const std::string& password) {
    for (unsigned char c : password) Update(c);
  }
  unsigned char Encrypt(unsigned char plain) {
    unsigned char cipher = static_cast<unsigned char>(plain ^ StreamByte());
    Update(plain);
    return cipher;
  }
  unsigned char Decrypt(unsigned char cipher) {
    unsigned char plain = static_cast<unsigned char>(cipher ^ StreamByte());
    Update(plain);
    return plain;
  }

 private:
  unsigned char StreamByte() const {
    std::uint32_t temp = (m_keys[2] | 2) & 0xFFFF;
    return static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
  }
  void Update(unsigned char plain) {
    const CCrcTable& table = CrcTable();
    m_keys[0] = table.Step(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
    m_keys[2] = table.Step(m_keys[2], static_cast<unsigned char>(m_keys[1] >> 24));
  }

  std::uint32_t m_keys[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

// Filler for the encryption header. It only has to differ between entries
// and runs; a weak generator costs nothing here, and the platform's random
// sources aren't there on every Windows this runs on.
unsigned char HeaderFillerByte() {
  static std::uint32_t state = static_cast<std::uint32_t>(std::time(nullptr)) ^
                               static_cast<std::uint32_t>(std::clock()) * 2654435761u;
  state = state * 1103515245u + 12345u;
  return static_cast<unsigned char>(state >> 16);
}

std::uint32_t UpdateCrc(std::uint32_t crc, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    uInt piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    crc = static_cast<std::uint32_t>(crc32(crc, data, piece));
    data += piece;
    size -= piece;
  }
  return crc;
}

// A raw deflate stream kept from entry to entry, or piece to piece.
// Starting a stream allocates and clears several hundred kilobytes, which
// adds up over the thousands of small files of a set; a reset stream starts
// from the same state as a new one. Another level needs a new stream.
class CDeflateStream {
 public:
  CDeflateStream() = default;
  CDeflateStream(const CDeflateStream&) = delete;
  CDeflateStream& operator=(const CDeflateStream&) = delete;
  ~CDeflateStream() {
    if (m_ready) deflateEnd(&m_stream);
  }
  // Ready for new data at that level.
  bool Start(int level) {
    if (m_ready && m_level == level && deflateReset(&m_stream) == Z_OK) return true;
    if (m_ready) deflateEnd(&m_stream);
    m_stream = z_stream{};
    m_ready = deflateInit2(&m_stream, level, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) == Z_OK;
    m_level = level;
    return m_ready;
  }
  // Goes on at another level; what was given so far must have been
  // flushed (Z_BLOCK) first.
  bool SetLevel(int level) {
    if (level == m_level) return true;
    if (deflateParams(&m_stream, level, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    m_level = level;
    return true;
  }
  z_stream& Stream() { return m_stream; }

 private:
  z_stream m_stream{};
  int m_level = 0;
  bool m_ready = false;
};

bool SameName(const std::string& a, const std::string& b, bool caseSensitive) {
  if (a.size() != b.size()) return false;
  return caseSensitive ? a == b : EqualNoCase(a, b);
}

// An archive's central directory, read whole: it can't be larger than the
// file, so hostile counts and lengths can't make anything allocate more.
struct CentralDirectory {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t endPosition = 0;  // of the end record
  std::uint64_t archiveEnd = 0;   // end record plus comment
  std::string comment;
  std::string records;  // the raw records, for rewriting
  std::vector<ZipEntryInfo> entries;
};

bool FindEndRecord(std::FILE* file, std::uint64_t fileSize, CentralDirectory& directory,
                   unsigned char* end, std::string& error) {
  if (fileSize < kEndSize) {
    error = "The file is not a ZIP archive (too short).";
    return false;
  }
  std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndSize + kMaxCommentSize));
  std::vector<unsigned char> tail(tailSize);
  std::uint64_t tailStart = fileSize - tailSize;
  if (!ReadAt(file, tailStart, tail.data(), tailSize)) {
    error = "The archive could not be read.";
    return false;
  }
  // Prefer a record whose comment reaches exactly to the end of the file;
  // a signature inside a comment rarely manages that too.
  std::size_t found = tailSize;
  for (int pass = 0; pass < 2 && found == tailSize; ++pass) {
    for (std::size_t i = tailSize - kEndSize + 1; i-- > 0;) {
      if (Get32(&tail[i]) != kEndSignature) continue;
      std::size_t reach = i + kEndSize + Get16(&tail[i + 20]);
      if (pass == 0 ? reach == tailSize : reach <= tailSize) {
        found = i;
        break;
      }
    }
  }
  if (found == tailSize) {
    error = "The file is not a ZIP archive (no end of central directory record).";
    return false;
  }
  std::memcpy(end, &tail[found], kEndSize);
  std::size_t commentSize = Get16(&tail[found + 20]);
  directory.endPosition = tailStart + found;
  directory.archiveEnd = directory.endPosition + kEndSize + commentSize;
  directory.comment.assign(reinterpret_cast<const char*>(&tail[found + kEndSize]), commentSize);
  return true;
}

bool ReadCentralDirectory(std::FILE* file, std::uint64_t fileSize, CentralDirectory& directory,
                          std::string& error) {
  unsigned char end[kEndSize];
  if (!FindEndRecord(file, fileSize, directory, end, error)) return false;
  std::uint16_t disk = Get16(end + 4), directoryDisk = Get16(end + 6);
  std::uint16_t entriesHere = Get16(end + 8), entriesTotal = Get16(end + 10);
  directory.size = Get32(end + 12);
  directory.offset = Get32(end + 16);
  if (disk != 0 || directoryDisk != 0 || entriesHere != entriesTotal) {
    error = "Archives that span several disks are not supported.";
    return false;
  }
  if (directory.offset + directory.size > directory.endPosition) {
    error = "The archive's central directory lies outside the file.";
    return false;
  }
  if (static_cast<std::uint64_t>(entriesTotal) * kCentralHeaderSize > directory.size) {
    error = "The archive's central directory is too short for its entries.";
    return false;
  }
  std::string& raw = directory.records;
  raw.resize(static_cast<std::size_t>(directory.size));
  if (!raw.empty() && !ReadAt(file, directory.offset, &raw[0], raw.size())) {
    error = "The archive's central directory could not be read.";
    return false;
  }
  const unsigned char* data = reinterpret_cast<const unsigned char*>(raw.data());
  std::size_t position = 0;
  directory.entries.reserve(entriesTotal);
  for (std::uint16_t i = 0; i < entriesTotal; ++i) {
    const unsigned char* record = data + position;
    if (raw.size() - position < kCentralHeaderSize || Get32(record) != kCentralSignature) {
      error = "The archive's central directory is damaged.";
      return false;
    }
    std::size_t nameSize = Get16(record + 28);
    std::size_t recordSize = kCentralHeaderSize + nameSize + Get16(record + 30) + Get16(record + 32);
    if (raw.size() - position < recordSize) {
      error = "The archive's central directory is damaged.";
      return false;
    }
    ZipEntryInfo info;
    info.flags = Get16(record + 8);
    info.method = Get16(record + 10);
    info.dosTime = Get16(record + 12);
    info.dosDate = Get16(record + 14);
    info.crc = Get32(record + 16);
    info.compressedSize = Get32(record + 20);
    info.uncompressedSize = Get32(record + 24);
    info.externalAttributes = Get32(record + 38);
    info.localHeaderOffset = Get32(record + 42);
    info.name.assign(reinterpret_cast<const char*>(record + kCentralHeaderSize), nameSize);
    directory.entries.push_back(std::move(info));
    position += recordSize;
  }
  raw.resize(position);
  return true;
}

}  // namespace

const char kZipEntryTooLarge[] = "The entry would be larger than 4 GB: ";
const char kZipDataChanged[] = "The data changed while it was added, so the entry can't be decrypted: ";

bool ZipEntryInfo::IsFolder() const {
  if (!name.empty() && (name.back() == '/' || name.back() == '\\')) return true;
  return (externalAttributes & 0x10) != 0;
}

// ---------------------------------------------------------------- writing

struct CZipWriter::EntryState {
  explicit EntryState(const ZipNewEntry& newEntry) : entry(newEntry) {}
  ZipNewEntry entry;
  std::uint16_t flags = 0;
  std::uint64_t headerOffset = 0;
  std::uint64_t compressed = 0;
  std::uint64_t uncompressed = 0;
  std::uint32_t crc = 0;
  std::unique_ptr<CZipCryptKeys> keys;
  bool failed = false;
};

// One deflate stream serves every entry of the archive.
struct CZipWriter::Compressor {
  CDeflateStream deflater;
  std::vector<unsigned char> output = std::vector<unsigned char>(kBufferSize * 4);
};

CZipWriter::CZipWriter() = default;

CZipWriter::~CZipWriter() { Close(); }

bool CZipWriter::Fail(const std::string& text) {
  m_error = text;
  return false;
}

bool CZipWriter::Create(const std::string& path) { return Start(path, false); }

bool CZipWriter::CreateAfter(const std::string& path) { return Start(path, true); }

bool CZipWriter::Start(const std::string& path, bool append) {
  Close();
  m_error.clear();
  m_position = 0;
  m_broken = false;
  m_directory.clear();
  m_entryCount = 0;
  m_comment.clear();
  if (path.empty()) return Fail("No archive name was given.");

  std::FILE* existing = append ? std::fopen(path.c_str(), "r+b") : nullptr;
  std::uint64_t size = 0;
  if (existing && (!SizeOf(existing, size))) {
    std::fclose(existing);
    return Fail("The archive could not be read: " + path);
  }
  if (existing && size > 0) {
    CentralDirectory directory;
    std::string error;
    if (!ReadCentralDirectory(existing, size, directory, error)) {
      std::fclose(existing);
      return Fail(error);
    }
    // New entries overwrite the old central directory. The rewritten one
    // repeats every old record, so the file never ends up shorter and no
    // stale tail can follow the new end record. That only holds when the
    // old directory and end record are the last things in the file.
    // Records beyond the end record's count would be dropped, and the
    // shorter new directory would leave the old end record behind it.
    if (directory.offset + directory.size != directory.endPosition || directory.archiveEnd != size ||
        directory.records.size() != directory.size) {
      std::fclose(existing);
      return Fail("New entries can't be added to this archive: it holds data the writer would overwrite.");
    }
    if (!SeekTo(existing, directory.offset)) {
      std::fclose(existing);
      return Fail("The archive could not be read: " + path);
    }
    m_file = existing;
    m_position = directory.offset;
    m_directory = std::move(directory.records);
    m_entryCount = static_cast<std::uint32_t>(directory.entries.size());
    m_comment = std::move(directory.comment);
    return true;
  }
  if (existing) std::fclose(existing);
  m_file = std::fopen(path.c_str(), "wb");
  if (!m_file) return Fail("The archive could not be created: " + path);
  // The headers of small entries are short writes; gather them.
  std::setvbuf(m_file, nullptr, _IOFBF, kBufferSize * 4);
  return true;
}

bool CZipWriter::StartCompressor(int level) {
  if (!m_compressor) m_compressor.reset(new Compressor);
  return m_compressor->deflater.Start(level);
}

bool CZipWriter::WriteBytes(const void* data, std::size_t size) {
  if (m_broken) return Fail("An earlier write to the archive failed.");
  if (size > 0 && std::fwrite(data, 1, size, m_file) != size) {
    m_broken = true;
    return Fail("Writing to the archive failed (disk full?).");
  }
  m_position += size;
  return true;
}

bool CZipWriter::CanAddEntry(const ZipNewEntry& entry, std::uint32_t before) {
  m_error.clear();
  if (!m_file) return Fail("No archive is open.");
  if (entry.name.empty()) return Fail("An entry needs a name.");
  if (entry.name.size() > 0xFFFF) return Fail("The entry name is too long: " + entry.name);
  if (entry.level < -1 || entry.level > 9) return Fail("The compression level must lie between -1 and 9.");
  if (static_cast<std::uint64_t>(m_entryCount) + before >= 0xFFFF)
    return Fail("The archive can't hold more than 65535 entries.");
  return true;
}

bool CZipWriter::OpenEntry(const ZipNewEntry& entry) {
  m_error.clear();
  if (!m_file) return Fail("No archive is open.");
  if (m_entry && !CloseEntry()) return false;
  if (!CanAddEntry(entry, 0)) return false;
  if (!entry.deflatedByCaller && !StartCompressor(entry.level))
    return Fail("The compressor could not be started.");
  return StartEntry(entry, 0, 0, 0);
}

// The local header and, with a password, the encryption header. Unknown
// CRC and sizes are written as zero and filled in by CloseEntry; the file is
// seekable, so no data descriptor is needed.
bool CZipWriter::StartEntry(const ZipNewEntry& entry, std::uint32_t crc, std::uint64_t compressed,
                            std::uint64_t uncompressed) {
  if (m_position > kMax32) return Fail("The archive would grow beyond 4 GB.");
  std::unique_ptr<EntryState> state(new EntryState(entry));
  // Bits 1 and 2 tell readers which deflate effort was used.
  if (entry.level == 8 || entry.level == 9) state->flags |= 0x0002;
  if (entry.level == 2) state->flags |= 0x0004;
  if (entry.level == 1) state->flags |= 0x0006;
  if (entry.password) state->flags |= kFlagEncrypted;
  state->headerOffset = m_position;

  std::string header;
  Put32(header, kLocalSignature);
  Put16(header, kVersion);
  Put16(header, state->flags);
  Put16(header, Z_DEFLATED);
  Put16(header, entry.dosTime);
  Put16(header, entry.dosDate);
  Put32(header, crc);
  Put32(header, static_cast<std::uint32_t>(compressed));
  Put32(header, static_cast<std::uint32_t>(uncompressed));
  Put16(header, static_cast<std::uint32_t>(entry.name.size()));
  Put16(header, 0);
  header += entry.name;
  if (!WriteBytes(header.data(), header.size())) return false;

  if (entry.password) {
    state->keys.reset(new CZipCryptKeys(*entry.password));
    unsigned char check[kEncryptionHeaderSize];
    for (std::size_t i = 0; i + 1 < kEncryptionHeaderSize; ++i) check[i] = HeaderFillerByte();
    check[kEncryptionHeaderSize - 1] = static_cast<unsigned char>(entry.crc >> 24);
    for (unsigned char& c : check) c = state->keys->Encrypt(c);
    if (!WriteBytes(check, sizeof check)) return false;
    state->compressed = kEncryptionHeaderSize;
  }

  m_entry = std::move(state);
  return true;
}

bool CZipWriter::WriteDeflated(unsigned char* data, std::size_t size, std::uint64_t uncompressed,
                               std::uint32_t crc) {
  m_error.clear();
  if (!m_entry || !m_entry->entry.deflatedByCaller) return Fail("No entry is open for deflated pieces.");
  EntryState& state = *m_entry;
  if (state.failed) return Fail("Writing the entry failed earlier.");
  state.uncompressed += uncompressed;
  if (state.uncompressed > kMax32 || uncompressed > 0x7FFFFFFF) {
    state.failed = true;
    return Fail(kZipEntryTooLarge + state.entry.name);
  }
  state.crc = static_cast<std::uint32_t>(crc32_combine(state.crc, crc, static_cast<z_off_t>(uncompressed)));
  if (!WriteCompressed(data, size)) {
    state.failed = true;
    return false;
  }
  return true;
}

bool CZipWriter::AddDeflatedEntry(const ZipNewEntry& entry, unsigned char* data, std::size_t size,
                                  std::uint64_t uncompressed, std::uint32_t crc) {
  m_error.clear();
  if (!m_file) return Fail("No archive is open.");
  if (m_entry && !CloseEntry()) return false;
  if (!CanAddEntry(entry, 0)) return false;
  std::uint64_t compressed = size + (entry.password ? kEncryptionHeaderSize : 0);
  if (uncompressed > kMax32 || compressed > kMax32)
    return Fail(kZipEntryTooLarge + entry.name);
  if (entry.password && crc != entry.crc)
    return Fail(kZipDataChanged + entry.name);
  if (!StartEntry(entry, crc, compressed, uncompressed)) return false;
  m_entry->crc = crc;
  m_entry->uncompressed = uncompressed;
  bool ok = WriteCompressed(data, size);
  if (ok) AddDirectoryRecord();
  DropEntry();
  return ok;
}

// Encrypts in place: the data is the compressor's own output buffer.
bool CZipWriter::WriteCompressed(unsigned char* data, std::size_t size) {
  EntryState& state = *m_entry;
  state.compressed += size;
  if (state.compressed > kMax32) return Fail("The compressed entry would be larger than 4 GB: " + state.entry.name);
  if (state.keys)
    for (std::size_t i = 0; i < size; ++i) data[i] = state.keys->Encrypt(data[i]);
  return WriteBytes(data, size);
}

bool CZipWriter::Deflate(int flush) {
  z_stream& stream = m_compressor->deflater.Stream();
  std::vector<unsigned char>& output = m_compressor->output;
  for (;;) {
    stream.next_out = output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    int result = deflate(&stream, flush);
    if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
      return Fail("Compressing the entry failed.");
    std::size_t produced = output.size() - stream.avail_out;
    if (!WriteCompressed(output.data(), produced)) return false;
    if (flush == Z_FINISH ? result == Z_STREAM_END : stream.avail_in == 0 && stream.avail_out > 0)
      return true;
    if (produced == 0 && result == Z_BUF_ERROR) return Fail("Compressing the entry failed.");
  }
}

bool CZipWriter::WriteEntry(const void* data, std::size_t size) {
  m_error.clear();
  if (!m_entry) return Fail("No entry is open for writing.");
  EntryState& state = *m_entry;
  if (state.entry.deflatedByCaller) return Fail("The entry takes deflated pieces only.");
  if (state.failed) return Fail("Writing the entry failed earlier.");
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  state.uncompressed += size;
  if (state.uncompressed > kMax32) {
    state.failed = true;
    return Fail(kZipEntryTooLarge + state.entry.name);
  }
  state.crc = UpdateCrc(state.crc, bytes, size);
  while (size > 0) {
    uInt piece = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    m_compressor->deflater.Stream().next_in = const_cast<Bytef*>(bytes);
    m_compressor->deflater.Stream().avail_in = piece;
    if (!Deflate(Z_NO_FLUSH)) {
      state.failed = true;
      return false;
    }
    bytes += piece;
    size -= piece;
  }
  return true;
}

// The compressor stays for the next entry, which resets it.
void CZipWriter::DropEntry() { m_entry.reset(); }

bool CZipWriter::CloseEntry() {
  if (!m_entry) return Fail("No entry is open for writing.");
  EntryState& state = *m_entry;
  bool ok = !state.failed;
  if (ok && !state.entry.deflatedByCaller) {
    m_compressor->deflater.Stream().next_in = nullptr;
    m_compressor->deflater.Stream().avail_in = 0;
    ok = Deflate(Z_FINISH);
  }
  // The encryption header already carries the CRC the caller promised; an
  // entry whose data came out different would be refused as having a wrong
  // password, so it must not be listed.
  if (ok && state.keys && state.crc != state.entry.crc) {
    ok = Fail(kZipDataChanged + state.entry.name);
  }
  if (ok) {
    std::string sizes;
    Put32(sizes, state.crc);
    Put32(sizes, static_cast<std::uint32_t>(state.compressed));
    Put32(sizes, static_cast<std::uint32_t>(state.uncompressed));
    std::uint64_t resume = m_position;
    if (!SeekTo(m_file, state.headerOffset + 14) || std::fwrite(sizes.data(), 1, sizes.size(), m_file) != sizes.size() ||
        !SeekTo(m_file, resume)) {
      m_broken = true;
      ok = Fail("Writing to the archive failed.");
    }
  }
  if (ok) AddDirectoryRecord();
  DropEntry();
  return ok;
}

void CZipWriter::AddDirectoryRecord() {
  const EntryState& state = *m_entry;
  const ZipNewEntry& entry = state.entry;
  std::string& record = m_directory;
  Put32(record, kCentralSignature);
  Put16(record, kVersion);
  Put16(record, kVersion);
  Put16(record, state.flags);
  Put16(record, Z_DEFLATED);
  Put16(record, entry.dosTime);
  Put16(record, entry.dosDate);
  Put32(record, state.crc);
  Put32(record, static_cast<std::uint32_t>(state.compressed));
  Put32(record, static_cast<std::uint32_t>(state.uncompressed));
  Put16(record, static_cast<std::uint32_t>(entry.name.size()));
  Put16(record, 0);  // extra field
  Put16(record, 0);  // comment
  Put16(record, 0);  // disk
  Put16(record, 0);  // internal attributes
  Put32(record, entry.externalAttributes);
  Put32(record, static_cast<std::uint32_t>(state.headerOffset));
  record += entry.name;
  ++m_entryCount;
}

void CZipWriter::AbandonEntry() {
  if (!m_entry) return;
  m_entry->failed = true;
  CloseEntry();
}

bool CZipWriter::FlushFile() {
  if (!m_file || m_broken) return !m_broken;
  if (std::fflush(m_file) == 0) return true;
  m_broken = true;
  return Fail("Writing to the archive failed (disk full?).");
}

bool CZipWriter::Close() {
  if (!m_file) return true;
  std::string savedError;
  bool ok = true;
  if (m_entry) {
    ok = CloseEntry();
    savedError = m_error;
  }
  if (m_position > kMax32 || m_position + m_directory.size() > kMax32) {
    ok = Fail("The archive would grow beyond 4 GB, so its directory can't be written.");
    savedError = m_error;
  } else {
    std::string end;
    Put32(end, kEndSignature);
    Put16(end, 0);
    Put16(end, 0);
    Put16(end, m_entryCount);
    Put16(end, m_entryCount);
    Put32(end, static_cast<std::uint32_t>(m_directory.size()));
    Put32(end, static_cast<std::uint32_t>(m_position));
    Put16(end, static_cast<std::uint32_t>(m_comment.size()));
    end += m_comment;
    if (!WriteBytes(m_directory.data(), m_directory.size()) || !WriteBytes(end.data(), end.size())) {
      ok = false;
      savedError = m_error;
    }
  }
  if (std::fclose(m_file) != 0 && ok) {
    ok = false;
    savedError = "Closing the archive failed (disk full?).";
  }
  m_file = nullptr;
  m_directory.clear();
  m_compressor.reset();
  m_error = savedError;
  return ok;
}

// ---------------------------------------------------------------- pieces

struct CDeflatePiece::State {
  CDeflateStream deflater;
  CDeflateStream probe;
  std::vector<unsigned char> probeOut;
};

namespace {

// Data that deflate can't shrink (already compressed or random) costs it
// three times as long per byte as text, and ends up in stored blocks all
// the same. Each stretch of a piece whose samples a quick deflate can't
// shrink by 3 % is stored at once: still one deflate stream, of nearly the
// size the level would have made.
const std::size_t kStretch = 65536;
const std::size_t kProbeSample = 4096;
const std::size_t kProbeFrom = 4 * kProbeSample;

bool SampleShrinks(CDeflateStream& probe, std::vector<unsigned char>& out,
                   const unsigned char* data, std::size_t size) {
  if (!probe.Start(1)) return true;
  z_stream& stream = probe.Stream();
  out.resize(deflateBound(&stream, static_cast<uLong>(size)) + 16);
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) return true;
  return stream.total_out < size - size * 3 / 100;
}

// Whether a stretch is worth deflating: a sample at its start or its end
// shrinks. Short ones always are.
bool WorthDeflating(CDeflateStream& probe, std::vector<unsigned char>& out,
                    const unsigned char* data, std::size_t size) {
  if (size < kProbeFrom) return true;
  return SampleShrinks(probe, out, data, kProbeSample) ||
         SampleShrinks(probe, out, data + size - kProbeSample, kProbeSample);
}

// Deflates the data with that flush into `out` from `produced` on, growing
// it as needed: the input is all taken, and with a flush all written.
bool DeflateInto(z_stream& stream, const unsigned char* data, std::size_t size, int flush,
                 std::vector<unsigned char>& out, std::size_t& produced) {
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  for (;;) {
    if (out.size() - produced < 64) out.resize(out.size() * 2 + 64);
    stream.next_out = out.data() + produced;
    stream.avail_out = static_cast<uInt>(out.size() - produced);
    int result = deflate(&stream, flush);
    if (result == Z_STREAM_ERROR) return false;
    produced = out.size() - stream.avail_out;
    if (flush == Z_FINISH ? result == Z_STREAM_END
                          : stream.avail_in == 0 && (flush == Z_NO_FLUSH || stream.avail_out > 0))
      return true;
    if (stream.avail_out == 0)
      out.resize(out.size() * 2);
    else if (result == Z_BUF_ERROR)
      return false;
  }
}

}  // namespace

CDeflatePiece::CDeflatePiece() = default;
CDeflatePiece::~CDeflatePiece() = default;

bool CDeflatePiece::Compress(int level, const unsigned char* history, std::size_t historySize,
                             const unsigned char* data, std::size_t size, bool last,
                             std::vector<unsigned char>& out, std::uint32_t& crc) {
  out.clear();
  if (size > (1u << 30) || level < -1 || level > 9) return false;
  if (!m_state) m_state.reset(new State);
  State& state = *m_state;
  auto levelOf = [&](std::size_t at) {
    std::size_t length = std::min(kStretch, size - at);
    return level != 0 && WorthDeflating(state.probe, state.probeOut, data + at, length) ? level : 0;
  };
  int current = levelOf(0);
  if (!state.deflater.Start(current)) return false;
  z_stream& stream = state.deflater.Stream();
  if (historySize > kHistorySize) {
    history += historySize - kHistorySize;
    historySize = kHistorySize;
  }
  if (historySize > 0 &&
      deflateSetDictionary(&stream, history, static_cast<uInt>(historySize)) != Z_OK)
    return false;
  crc = UpdateCrc(0, data, size);
  // A sync flush adds an empty stored block to what the bound allows for.
  out.resize(deflateBound(&stream, static_cast<uLong>(size)) + 16);
  std::size_t produced = 0;
  for (std::size_t at = 0; at < size; at += kStretch) {
    if (at > 0) {
      int wanted = levelOf(at);
      if (wanted != current) {
        if (!DeflateInto(stream, nullptr, 0, Z_BLOCK, out, produced) ||
            !state.deflater.SetLevel(wanted))
          return false;
        produced = out.size() - stream.avail_out;  // in case the change wrote anything
        current = wanted;
      }
    }
    std::size_t length = std::min(kStretch, size - at);
    if (!DeflateInto(stream, data + at, length, Z_NO_FLUSH, out, produced)) return false;
  }
  if (!DeflateInto(stream, nullptr, 0, last ? Z_FINISH : Z_SYNC_FLUSH, out, produced))
    return false;
  out.resize(produced);
  return true;
}

// ---------------------------------------------------------------- reading

struct CZipReader::ReadState {
  const ZipEntryInfo* entry = nullptr;
  std::uint64_t position = 0;   // next raw byte in the file
  std::uint64_t remaining = 0;  // raw bytes not yet read
  std::uint64_t produced = 0;
  std::uint32_t crc = 0;
  std::unique_ptr<CZipCryptKeys> keys;
  bool inflating = false;
  bool streamEnded = false;
  bool finished = false;
  bool failed = false;
};

// Like the writer's compressor, one inflate stream and input buffer serve
// every entry read from the archive.
struct CZipReader::Decompressor {
  Decompressor() = default;
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  ~Decompressor() {
    if (ready) inflateEnd(&stream);
  }
  z_stream stream{};
  bool ready = false;
  std::vector<unsigned char> input = std::vector<unsigned char>(kBufferSize);
};

bool CZipReader::StartDecompressor() {
  if (m_decompressor && inflateReset(&m_decompressor->stream) == Z_OK) {
    m_decompressor->stream.next_in = nullptr;
    m_decompressor->stream.avail_in = 0;
    return true;
  }
  m_decompressor.reset();
  std::unique_ptr<Decompressor> fresh(new Decompressor);
  if (inflateInit2(&fresh->stream, -MAX_WBITS) != Z_OK) return false;
  fresh->ready = true;
  m_decompressor = std::move(fresh);
  return true;
}

CZipReader::CZipReader() = default;

CZipReader::~CZipReader() { Close(); }

bool CZipReader::Fail(const std::string& text) {
  m_error = text;
  return false;
}

bool CZipReader::Open(const std::string& path) {
  Close();
  m_error.clear();
  if (path.empty()) return Fail("No archive name was given.");
  m_file = std::fopen(path.c_str(), "rb");
  if (!m_file) return Fail("The archive could not be opened: " + path);
  std::uint64_t size = 0;
  CentralDirectory directory;
  std::string error = "The archive could not be read: " + path;
  if (!SizeOf(m_file, size) || !ReadCentralDirectory(m_file, size, directory, error)) {
    Close();
    return Fail(error);
  }
  m_directoryOffset = directory.offset;
  m_entries = std::make_shared<const std::vector<ZipEntryInfo>>(std::move(directory.entries));
  m_path = path;
  m_current = 0;
  return true;
}

bool CZipReader::OpenBeside(const CZipReader& other) {
  Close();
  m_error.clear();
  if (!other.m_file) return Fail("No archive is open.");
  m_file = std::fopen(other.m_path.c_str(), "rb");
  if (!m_file) return Fail("The archive could not be opened: " + other.m_path);
  m_path = other.m_path;
  m_directoryOffset = other.m_directoryOffset;
  m_entries = other.m_entries;
  m_current = 0;
  return true;
}

const std::vector<ZipEntryInfo>& CZipReader::Entries() const {
  static const std::vector<ZipEntryInfo> kNone;
  return m_entries ? *m_entries : kNone;
}

bool CZipReader::GoToEntry(std::size_t index) {
  if (m_read) CloseEntry();
  m_error.clear();
  if (!m_file) return Fail("No archive is open.");
  if (index >= Entries().size()) return Fail("There are no more entries.");
  m_current = index;
  return true;
}

void CZipReader::Close() {
  if (m_read) CloseEntry();
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
  m_entries.reset();
  m_path.clear();
  m_current = 0;
  m_decompressor.reset();
}

bool CZipReader::GoToFirstEntry() {
  if (m_read) CloseEntry();
  m_error.clear();
  if (!m_file) return Fail("No archive is open.");
  if (Entries().empty()) return Fail("The archive has no entries.");
  m_current = 0;
  return true;
}

bool CZipReader::GoToNextEntry() {
  if (m_read) CloseEntry();
  m_error.clear();
  if (!m_file) return Fail("No archive is open.");
  if (m_current + 1 >= Entries().size()) {
    m_current = Entries().size();
    return Fail("There are no more entries.");
  }
  ++m_current;
  return true;
}

bool CZipReader::LocateEntry(const std::string& name, bool caseSensitive) {
  if (m_read) CloseEntry();
  m_error.clear();
  if (!m_file) return Fail("No archive is open.");
  const std::vector<ZipEntryInfo>& entries = Entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (SameName(entries[i].name, name, caseSensitive)) {
      m_current = i;
      return true;
    }
  }
  return Fail("The archive holds no entry named " + name);
}

const ZipEntryInfo* CZipReader::GetCurrentEntry() const {
  return m_file && m_current < Entries().size() ? &Entries()[m_current] : nullptr;
}

bool CZipReader::OpenEntry(const char* password) {
  if (m_read) CloseEntry();
  m_error.clear();
  const ZipEntryInfo* entry = GetCurrentEntry();
  if (!entry) return Fail("No entry is selected.");
  const std::string& name = entry->name;
  if (entry->flags & kFlagStrongEncryption) return Fail("The entry uses an unsupported encryption: " + name);
  if (entry->method != 0 && entry->method != Z_DEFLATED)
    return Fail("The entry uses an unsupported compression method: " + name);
  if (entry->IsEncrypted() && !password) return Fail("The entry is encrypted and needs a password: " + name);

  unsigned char header[kLocalHeaderSize];
  std::uint64_t offset = entry->localHeaderOffset;
  if (offset + kLocalHeaderSize > m_directoryOffset || !ReadAt(m_file, offset, header, sizeof header) ||
      Get32(header) != kLocalSignature)
    return Fail("The entry's local header is missing or damaged: " + name);
  std::uint64_t dataStart = offset + kLocalHeaderSize + Get16(header + 26) + Get16(header + 28);
  if (dataStart + entry->compressedSize > m_directoryOffset)
    return Fail("The entry's data runs past the end of the archive: " + name);

  std::uint64_t encryption = entry->IsEncrypted() ? kEncryptionHeaderSize : 0;
  if (entry->compressedSize < encryption) return Fail("The entry is too short for its encryption header: " + name);
  if (entry->method == 0 && entry->compressedSize - encryption != entry->uncompressedSize)
    return Fail("The stored entry's sizes disagree: " + name);

  std::unique_ptr<ReadState> state(new ReadState);
  state->entry = entry;
  state->position = dataStart;
  state->remaining = entry->compressedSize;
  if (entry->IsEncrypted()) {
    unsigned char check[kEncryptionHeaderSize];
    if (!ReadAt(m_file, dataStart, check, sizeof check)) return Fail("The archive is truncated: " + name);
    state->keys.reset(new CZipCryptKeys(password));
    for (unsigned char& c : check) c = state->keys->Decrypt(c);
    // The last header byte repeats the CRC's high byte. Writers that stream
    // (bit 3) don't know the CRC yet and put the time's high byte there;
    // some put the CRC anyway, so with bit 3 either is taken.
    unsigned char last = check[kEncryptionHeaderSize - 1];
    bool matches = last == static_cast<unsigned char>(entry->crc >> 24);
    if (!matches && (entry->flags & kFlagDescriptor)) matches = last == static_cast<unsigned char>(entry->dosTime >> 8);
    if (!matches) return Fail("Wrong password for " + name);
    state->position += kEncryptionHeaderSize;
    state->remaining -= kEncryptionHeaderSize;
  }
  if (entry->method == Z_DEFLATED) {
    if (!StartDecompressor()) return Fail("The decompressor could not be started.");
    state->inflating = true;
  }
  m_read = std::move(state);
  return true;
}

long CZipReader::FailRead(const std::string& text) {
  m_read->failed = true;
  m_error = text;
  return -1;
}

bool CZipReader::FillInput() {
  ReadState& state = *m_read;
  std::vector<unsigned char>& input = m_decompressor->input;
  std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(state.remaining, input.size()));
  if (!ReadAt(m_file, state.position, input.data(), piece)) return false;
  if (state.keys)
    for (std::size_t i = 0; i < piece; ++i) input[i] = state.keys->Decrypt(input[i]);
  state.position += piece;
  state.remaining -= piece;
  m_decompressor->stream.next_in = input.data();
  m_decompressor->stream.avail_in = static_cast<uInt>(piece);
  return true;
}

long CZipReader::FinishRead() {
  ReadState& state = *m_read;
  const ZipEntryInfo& entry = *state.entry;
  if (state.produced != entry.uncompressedSize)
    return FailRead("The entry's data is shorter than its recorded size: " + entry.name);
  if (state.crc != entry.crc)
    return FailRead(entry.IsEncrypted() ? "CRC error (wrong password?) in " + entry.name : "CRC error in " + entry.name);
  state.finished = true;
  return 0;
}

long CZipReader::ReadEntry(void* buffer, std::size_t size) {
  if (!m_read) {
    m_error = "No entry is open for reading.";
    return -1;
  }
  ReadState& state = *m_read;
  if (state.failed) return -1;
  if (state.finished) return 0;
  const ZipEntryInfo& entry = *state.entry;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  size = std::min<std::size_t>(size, 1u << 30);
  if (size == 0) return 0;

  std::size_t produced = 0;
  if (!state.inflating) {
    std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(state.remaining, size));
    if (piece == 0) return FinishRead();
    if (!ReadAt(m_file, state.position, out, piece)) return FailRead("The archive is truncated: " + entry.name);
    if (state.keys)
      for (std::size_t i = 0; i < piece; ++i) out[i] = state.keys->Decrypt(out[i]);
    state.position += piece;
    state.remaining -= piece;
    produced = piece;
  } else {
    if (state.streamEnded) return FinishRead();
    z_stream& stream = m_decompressor->stream;
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(size);
    // Every pass reads input or lets inflate consume or produce, so the
    // loop ends; inflate reports when it can do neither.
    while (stream.avail_out == size) {
      if (stream.avail_in == 0 && state.remaining > 0 && !FillInput())
        return FailRead("The archive is truncated: " + entry.name);
      int result = inflate(&stream, Z_NO_FLUSH);
      if (result == Z_STREAM_END) {
        state.streamEnded = true;
        break;
      }
      if (result == Z_BUF_ERROR && stream.avail_in == 0 && state.remaining == 0)
        return FailRead("The entry's data is shorter than its recorded size: " + entry.name);
      if (result != Z_OK)
        return FailRead(entry.IsEncrypted() ? "The entry's data is damaged (wrong password?): " + entry.name
                                            : "The entry's data is damaged: " + entry.name);
    }
    produced = size - stream.avail_out;
    if (produced == 0) return FinishRead();
  }
  if (state.produced + produced > entry.uncompressedSize)
    return FailRead("The entry's data is longer than its recorded size: " + entry.name);
  state.produced += produced;
  state.crc = UpdateCrc(state.crc, out, produced);
  return static_cast<long>(produced);
}

bool CZipReader::CloseEntry() {
  if (!m_read) return true;
  ReadState& state = *m_read;
  bool ok = !state.failed;
  // A caller that stops after exactly the recorded size never sees the end
  // of the entry from ReadEntry, so the CRC is checked here as well.
  if (ok && !state.finished && state.produced == state.entry->uncompressedSize && state.crc != state.entry->crc) {
    ok = Fail(state.entry->IsEncrypted() ? "CRC error (wrong password?) in " + state.entry->name
                                         : "CRC error in " + state.entry->name);
  }
  m_read.reset();
  return ok;
}
