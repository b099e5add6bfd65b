#include "storage/PackPipeline.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

const std::size_t kMaxWorkers = 8;

std::size_t ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return std::max<std::size_t>(1, std::min<std::size_t>(info.dwNumberOfProcessors, kMaxWorkers));
}

}  // namespace

struct CPackPipeline::Piece {
  // The history (up to 32 KiB of the data before the piece), then the data.
  std::vector<unsigned char> input;
  std::size_t historySize = 0;
  std::size_t dataSize = 0;
  int level = -1;
  bool last = false;
  bool abandon = false;  // no data: the entry ends unlisted
  std::unique_ptr<ZipNewEntry> entry;  // on an entry's first piece
  std::vector<unsigned char> output;
  std::uint32_t crc = 0;
  bool compressed = false;
  bool done = false;  // under the lock
};

CPackPipeline::CPackPipeline(CZipWriter& zip) : m_zip(zip) {
  std::size_t workers = ProcessorCount();
  // Enough pieces for every worker to have one in hand and one waiting,
  // with the reader filling the next.
  m_ring.resize(3 * workers + 2);
  for (auto& piece : m_ring) piece.reset(new Piece);
  m_work.Reset(CreateSemaphoreA(NULL, 0, 0x7FFFFFFF, NULL));
  m_done.Reset(CreateEventA(NULL, FALSE, FALSE, NULL));
  if (!m_work.Valid() || !m_done.Valid()) return;  // compress on the caller's thread
  for (std::size_t i = 0; i < workers; ++i) {
    DWORD id = 0;
    CHandle thread(CreateThread(NULL, 0, &CPackPipeline::WorkerMain, this, 0, &id));
    if (!thread.Valid()) break;
    m_workers.push_back(std::move(thread));
  }
}

CPackPipeline::~CPackPipeline() {
  {
    CLockScope hold(m_lock);
    m_quit = true;
  }
  if (m_workers.empty()) return;
  ReleaseSemaphore(m_work.Get(), static_cast<LONG>(m_workers.size()), NULL);
  for (CHandle& thread : m_workers) WaitForSingleObject(thread.Get(), INFINITE);
}

DWORD WINAPI CPackPipeline::WorkerMain(void* pipeline) {
  static_cast<CPackPipeline*>(pipeline)->Work();
  return 0;
}

void CPackPipeline::Work() {
  CDeflatePiece deflater;
  for (;;) {
    WaitForSingleObject(m_work.Get(), INFINITE);
    Piece* piece = nullptr;
    {
      CLockScope hold(m_lock);
      if (m_quit) return;
      piece = &Slot(m_taken++);
    }
    Compress(*piece, deflater);
    {
      CLockScope hold(m_lock);
      piece->done = true;
    }
    SetEvent(m_done.Get());
  }
}

void CPackPipeline::Compress(Piece& piece, CDeflatePiece& deflater) {
  if (piece.abandon) return;
  try {
    const unsigned char* input = piece.input.data();
    piece.compressed = deflater.Compress(piece.level, input, piece.historySize,
                                         input + piece.historySize, piece.dataSize, piece.last,
                                         piece.output, piece.crc);
  } catch (const std::bad_alloc&) {
    piece.compressed = false;
  }
}

CPackPipeline::Piece& CPackPipeline::Slot(std::uint64_t number) const {
  return *m_ring[static_cast<std::size_t>(number % m_ring.size())];
}

bool CPackPipeline::IsDone(const Piece& piece) {
  CLockScope hold(m_lock);
  return piece.done;
}

void CPackPipeline::Fail(const std::string& text) {
  if (m_failed) return;
  m_failed = true;
  m_error = text;
}

bool CPackPipeline::BeginEntry(const ZipNewEntry& entry) {
  if (m_entryActive) AbandonEntry();
  if (m_failed) return false;
  // Every check but the archive's size can be made now, so a file that was
  // taken is never refused later.
  if (!m_zip.CanAddEntry(entry, m_unfinishedEntries)) {
    m_error = m_zip.GetErrorText();
    return false;
  }
  m_entry.reset(new ZipNewEntry(entry));
  m_entry->deflatedByCaller = true;
  m_level = entry.level;
  m_entryActive = true;
  m_entrySubmitted = false;
  return true;
}

unsigned char* CPackPipeline::PieceBuffer() {
  // Finished pieces go out as soon as they can, whatever else waits.
  WriteFinished(false, m_submitted);
  if (m_submitted - m_written >= m_ring.size()) WriteFinished(true, m_submitted - m_ring.size() + 1);
  Piece& piece = Slot(m_submitted);
  std::size_t history = 0;
  if (m_entrySubmitted) {
    const Piece& before = Slot(m_submitted - 1);
    std::size_t available = before.historySize + before.dataSize;
    history = std::min(available, CDeflatePiece::kHistorySize);
    piece.input.resize(history + kPieceSize);
    std::memcpy(piece.input.data(), before.input.data() + available - history, history);
  } else {
    piece.input.resize(kPieceSize);
  }
  piece.historySize = history;
  return piece.input.data() + history;
}

void CPackPipeline::SubmitPiece(std::size_t size, bool last) {
  if (!m_entryActive) return;
  Piece& piece = Slot(m_submitted);
  piece.dataSize = std::min(size, kPieceSize);
  piece.level = m_level;
  piece.last = last;
  piece.abandon = false;
  piece.compressed = false;
  piece.entry = std::move(m_entry);
  if (!m_entrySubmitted) ++m_unfinishedEntries;
  m_entrySubmitted = true;
  if (last) m_entryActive = false;
  {
    CLockScope hold(m_lock);
    piece.done = false;
  }
  HandOver(piece);
}

// Every piece, an abandoning one too, is finished by a worker in its turn:
// a slot must not come round again before the worker that takes it has.
void CPackPipeline::HandOver(Piece& piece) {
  ++m_submitted;
  if (!m_workers.empty()) {
    ReleaseSemaphore(m_work.Get(), 1, NULL);
    return;
  }
  if (!m_inlineDeflater) m_inlineDeflater.reset(new CDeflatePiece);
  ++m_taken;
  Compress(piece, *m_inlineDeflater);
  CLockScope hold(m_lock);
  piece.done = true;
}

void CPackPipeline::AbandonEntry() {
  if (!m_entryActive) return;
  m_entryActive = false;
  m_entry.reset();
  if (!m_entrySubmitted) return;  // nothing of it went anywhere
  PieceBuffer();
  Piece& piece = Slot(m_submitted);
  piece.dataSize = 0;
  piece.historySize = 0;
  piece.abandon = true;
  piece.last = true;
  {
    CLockScope hold(m_lock);
    piece.done = false;
  }
  HandOver(piece);
}

bool CPackPipeline::Flush() {
  if (m_entryActive) AbandonEntry();
  WriteFinished(true, m_submitted);
  if (!m_failed && !m_zip.FlushFile()) Fail(m_zip.GetErrorText());
  return !m_failed;
}

// Writes pieces in their order up to (not including) `until`; without
// waiting, only those already finished.
void CPackPipeline::WriteFinished(bool wait, std::uint64_t until) {
  while (m_written < until) {
    Piece& piece = Slot(m_written);
    if (!IsDone(piece)) {
      if (!wait) return;
      WaitForSingleObject(m_done.Get(), INFINITE);
      continue;
    }
    WritePiece(piece);
    piece.entry.reset();
    ++m_written;
  }
}

void CPackPipeline::WritePiece(Piece& piece) {
  if (piece.last && m_unfinishedEntries > 0) --m_unfinishedEntries;
  if (m_failed) return;  // the archive can't be finished; drop the rest
  if (piece.abandon) {
    if (m_zipEntryOpen) m_zip.AbandonEntry();
    m_zipEntryOpen = false;
    return;
  }
  bool ok = piece.compressed;
  if (ok && piece.entry && piece.last) {
    ok = m_zip.AddDeflatedEntry(*piece.entry, piece.output.data(), piece.output.size(),
                                piece.dataSize, piece.crc);
  } else if (ok) {
    if (piece.entry) {
      ok = m_zip.OpenEntry(*piece.entry);
      m_zipEntryOpen = ok;
    }
    ok = ok && m_zip.WriteDeflated(piece.output.data(), piece.output.size(), piece.dataSize, piece.crc);
    if (ok && piece.last) {
      m_zipEntryOpen = false;
      ok = m_zip.CloseEntry();
    }
  }
  if (ok) return;
  std::string text = piece.compressed ? m_zip.GetErrorText() : "Compressing the entry failed (out of memory?).";
  if (m_zipEntryOpen) m_zip.AbandonEntry();
  m_zipEntryOpen = false;
  Fail(text);
}

std::size_t CPackPipeline::PeakBytes() const {
  std::size_t bytes = 0;
  for (const auto& piece : m_ring) bytes += piece->input.capacity() + piece->output.capacity();
  return bytes;
}
