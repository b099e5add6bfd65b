// Deflates the files of a packed backup on worker threads, one per
// processor, while the calling thread reads the next files; the finished
// pieces go into the archive on the calling thread, in the order they were
// read. A large file is cut into pieces that are compressed side by side;
// small files each make one piece, so several are compressed at once.
// Memory stays within a fixed number of pieces whatever the file sizes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Lock.h"
#include "base/Win32Handle.h"
#include "storage/Zip.h"

class CPackPipeline {
 public:
  static const std::size_t kPieceSize = 1 << 18;

  // The archive must stay open while the pipeline lives.
  explicit CPackPipeline(CZipWriter& zip);
  // Stops the workers; what was not written by Flush is dropped.
  ~CPackPipeline();
  CPackPipeline(const CPackPipeline&) = delete;
  CPackPipeline& operator=(const CPackPipeline&) = delete;

  // Starts an entry, whose pieces follow. False when the archive would
  // refuse it, or an earlier write failed; ErrorText says which.
  bool BeginEntry(const ZipNewEntry& entry);
  // Room for the entry's next piece, kPieceSize bytes. When every piece is
  // in use this writes finished ones first, waiting for them if need be.
  unsigned char* PieceBuffer();
  // The piece in PieceBuffer holds `size` bytes. Every piece but the last
  // must be full; the last one (which may be empty) ends the entry.
  void SubmitPiece(std::size_t size, bool last);
  // Ends the entry without listing it: its data is not the whole file.
  void AbandonEntry();
  // Writes everything submitted; false when a write failed.
  bool Flush();

  // A write failed: the archive can't be finished, and nothing more is
  // taken.
  bool Failed() const { return m_failed; }
  const std::string& ErrorText() const { return m_error; }
  // How many threads compress, and the most memory the pieces held.
  std::size_t WorkerCount() const { return m_workers.size(); }
  std::size_t PeakBytes() const;

 private:
  struct Piece;

  static DWORD WINAPI WorkerMain(void* pipeline);
  void Work();
  static void Compress(Piece& piece, CDeflatePiece& deflater);
  void HandOver(Piece& piece);
  Piece& Slot(std::uint64_t number) const;
  bool IsDone(const Piece& piece);
  void WriteFinished(bool wait, std::uint64_t until);
  void WritePiece(Piece& piece);
  void Fail(const std::string& text);

  CZipWriter& m_zip;
  std::vector<std::unique_ptr<Piece>> m_ring;
  std::vector<CHandle> m_workers;
  std::unique_ptr<CDeflatePiece> m_inlineDeflater;  // when no thread could be started
  CHandle m_work;  // semaphore: pieces waiting for a worker
  CHandle m_done;  // auto-reset event: a worker finished a piece
  CCriticalSection m_lock;  // guards m_taken, m_quit and the pieces' done flags
  std::uint64_t m_submitted = 0;  // pieces handed over
  std::uint64_t m_taken = 0;      // pieces a worker has taken
  std::uint64_t m_written = 0;    // pieces written into the archive
  bool m_quit = false;

  // The entry being read: its description, kept for its first piece, and
  // whether a piece of it has gone to the workers.
  std::unique_ptr<ZipNewEntry> m_entry;
  bool m_entryActive = false;
  bool m_entrySubmitted = false;
  int m_level = -1;
  std::uint32_t m_unfinishedEntries = 0;  // handed over, not yet closed by the writer
  bool m_zipEntryOpen = false;            // the writer has an entry open in the archive
  bool m_failed = false;
  std::string m_error;
};
