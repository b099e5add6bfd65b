// The ZIP container under the backup archive: entries streamed through
// deflate into a file and read back through inflate, optionally protected
// with the traditional ZIP password encryption. No ZIP64: anything that
// would need more than 32 bits fails with an error instead of producing an
// archive other tools can't read.
// Portable: C stdio and zlib only, so it also runs under the host's
// sanitizers and fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Why an entry was refused, followed by its name; a caller that makes the
// same checks itself says the same.
extern const char kZipEntryTooLarge[];
extern const char kZipDataChanged[];

// One entry as the central directory describes it.
struct ZipEntryInfo {
  std::string name;  // as stored: backslashes or slashes, ANSI text
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;  // including a 12-byte encryption header
  std::uint32_t uncompressedSize = 0;
  std::uint16_t method = 0;  // 0 stored, 8 deflated; others can't be read
  std::uint16_t flags = 0;   // general purpose bits
  std::uint16_t dosDate = 0;
  std::uint16_t dosTime = 0;
  std::uint32_t externalAttributes = 0;
  std::uint32_t localHeaderOffset = 0;

  bool IsEncrypted() const { return (flags & 1) != 0; }
  // A name ending in a separator, or the folder attribute bit.
  bool IsFolder() const;
};

// What the caller says about an entry it is about to write.
struct ZipNewEntry {
  std::string name;  // stored exactly as given
  std::uint16_t dosDate = 0;
  std::uint16_t dosTime = 0;
  std::uint32_t externalAttributes = 0;
  int level = -1;  // zlib level: -1 default, 0 no compression (still method 8), 1-9
  // With a password the entry is encrypted; its header needs the CRC-32 of
  // the data that will be written, so the caller computes it first.
  std::optional<std::string> password;
  std::uint32_t crc = 0;
  // The caller compresses the data itself, in pieces made by CDeflatePiece
  // at the entry's level, and hands them in with WriteDeflated.
  bool deflatedByCaller = false;
};

// One piece of an entry's data deflated on its own, so that the pieces of a
// large file can be compressed side by side: it is primed with up to 32 KiB
// of the data just before it and ends on a byte boundary, or as the end of
// the stream for the entry's last piece. An entry's pieces, written in
// order, make one deflate stream. One object per thread; it keeps its
// compressor from piece to piece.
class CDeflatePiece {
 public:
  static constexpr std::size_t kHistorySize = 32768;

  CDeflatePiece();
  ~CDeflatePiece();
  CDeflatePiece(const CDeflatePiece&) = delete;
  CDeflatePiece& operator=(const CDeflatePiece&) = delete;

  // The deflated piece replaces the contents of `out`; `crc` gets the
  // CRC-32 of the piece's data alone.
  bool Compress(int level, const unsigned char* history, std::size_t historySize,
                const unsigned char* data, std::size_t size, bool last,
                std::vector<unsigned char>& out, std::uint32_t& crc);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

class CZipWriter {
 public:
  CZipWriter();
  ~CZipWriter();  // finishes the archive when it is still open
  CZipWriter(const CZipWriter&) = delete;
  CZipWriter& operator=(const CZipWriter&) = delete;

  // A new, empty archive; an existing file is replaced.
  bool Create(const std::string& path);
  // Keeps the entries of an existing archive and adds new ones after them;
  // the central directory is written again on Close. A missing or empty
  // file starts a new archive. A file that isn't a ZIP archive this module
  // can extend is refused and left untouched.
  bool CreateAfter(const std::string& path);

  bool OpenEntry(const ZipNewEntry& entry);
  bool WriteEntry(const void* data, std::size_t size);
  // For an entry opened with deflatedByCaller: the next piece, encrypted in
  // place when the entry has a password, with the size and CRC-32 of the
  // data it holds.
  bool WriteDeflated(unsigned char* data, std::size_t size, std::uint64_t uncompressed,
                     std::uint32_t crc);
  // A whole entry of one piece (its last), written with its sizes in place
  // so that nothing is patched afterwards.
  bool AddDeflatedEntry(const ZipNewEntry& entry, unsigned char* data, std::size_t size,
                        std::uint64_t uncompressed, std::uint32_t crc);
  // Whether OpenEntry would take the entry once `before` more entries have
  // been added; only the archive's size can still refuse it then.
  bool CanAddEntry(const ZipNewEntry& entry, std::uint32_t before);
  // Completes the entry. A failed entry leaves unused bytes behind but no
  // directory record, so the archive stays readable.
  bool CloseEntry();
  // Ends the open entry without listing it: what was written of it is not
  // the whole file (a read failed, or the run stopped).
  void AbandonEntry();
  // Writes the central directory and closes the file; true when nothing
  // was open.
  bool Close();

  bool IsOpen() const { return m_file != nullptr; }
  // Hands what is buffered to the file, so that its size on disk is the
  // archive's so far.
  bool FlushFile();
  const std::string& GetErrorText() const { return m_error; }

 private:
  struct EntryState;
  struct Compressor;

  bool Fail(const std::string& text);
  bool Start(const std::string& path, bool append);
  bool StartCompressor(int level);
  bool StartEntry(const ZipNewEntry& entry, std::uint32_t crc, std::uint64_t compressed,
                  std::uint64_t uncompressed);
  void AddDirectoryRecord();
  bool WriteBytes(const void* data, std::size_t size);
  bool WriteCompressed(unsigned char* data, std::size_t size);
  bool Deflate(int flush);
  void DropEntry();

  std::FILE* m_file = nullptr;
  std::uint64_t m_position = 0;  // where the next byte goes
  bool m_broken = false;         // a write failed: the file can't be finished
  std::string m_directory;       // central directory records so far
  std::uint32_t m_entryCount = 0;
  std::string m_comment;  // an appended-to archive's comment, kept
  std::unique_ptr<EntryState> m_entry;
  std::unique_ptr<Compressor> m_compressor;  // kept from entry to entry
  std::string m_error;
};

class CZipReader {
 public:
  CZipReader();
  ~CZipReader();
  CZipReader(const CZipReader&) = delete;
  CZipReader& operator=(const CZipReader&) = delete;

  // Reads the central directory; the first entry becomes the current one.
  bool Open(const std::string& path);
  // Opens the archive that `other` has open a second time, for reading its
  // entries beside it (on another thread); the list of entries is shared,
  // not read again.
  bool OpenBeside(const CZipReader& other);
  void Close();
  bool IsOpen() const { return m_file != nullptr; }

  std::size_t GetEntryCount() const { return Entries().size(); }
  bool GoToFirstEntry();
  // Makes the entry at that place in the list the current one.
  bool GoToEntry(std::size_t index);
  std::size_t GetCurrentIndex() const { return m_current; }
  // False at the end of the list (or when no entry is current).
  bool GoToNextEntry();
  // Makes the entry of that name the current one. Without case sensitivity
  // ASCII letters compare equal in either case; separators compare as stored.
  bool LocateEntry(const std::string& name, bool caseSensitive);
  // The current entry; null when there is none.
  const ZipEntryInfo* GetCurrentEntry() const;

  // Opens the current entry for reading. An encrypted entry needs the
  // password; a wrong one fails here (or, one time in 256, at the end of
  // the data with a CRC error).
  bool OpenEntry(const char* password = nullptr);
  // Bytes read into the buffer, 0 at the end of the entry, -1 on an error.
  // Reaching the end checks the size and CRC-32 of what was read.
  long ReadEntry(void* buffer, std::size_t size);
  // False when reading failed, including a CRC mismatch at the end.
  bool CloseEntry();
  // Ends the open entry without listing it: what was written of it is not
  // the whole file (a read failed, or the run stopped).
  void AbandonEntry();

  const std::string& GetErrorText() const { return m_error; }

 private:
  struct ReadState;
  struct Decompressor;

  bool Fail(const std::string& text);
  bool StartDecompressor();
  long FailRead(const std::string& text);
  long FinishRead();
  bool FillInput();

  const std::vector<ZipEntryInfo>& Entries() const;

  std::FILE* m_file = nullptr;
  std::string m_path;
  std::uint64_t m_directoryOffset = 0;  // entry data must end before it
  // Never changed once read: readers opened beside this one share it.
  std::shared_ptr<const std::vector<ZipEntryInfo>> m_entries;
  std::size_t m_current = 0;
  std::unique_ptr<ReadState> m_read;
  std::unique_ptr<Decompressor> m_decompressor;  // kept from entry to entry
  std::string m_error;
};
