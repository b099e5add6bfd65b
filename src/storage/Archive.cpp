#include "storage/Archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/FileReplace.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "system/Reboot.h"


// The texts users see. Keep them as they are.
const char kSelectionOver2GB[] =
    "The selected backup has more than 2GB of data. Because of limitations in the zip format, "
    "the resulting archive could be unusable. Are you sure you want to continue?";
const char kArchiveTooLarge[] = "Fatal error: archive too large! Please do an uncompressed backup.";

namespace {

const char kCouldntOpen[] = "Couldn't open file:";
const char kFileOpenError[] = "File open error";
const char kCouldntCreate[] = "Couldn't create file:";
const char kFileCreateError[] = "File create error";
const char kNoArchive[] = "No archive is open.";
const char kUnsafeName[] = "Entry name leaves the target folder: ";
const char kNoPassword[] = "No password given for ";
const char kTargetIsFolder[] = "A folder is in the way of ";

const DWORD kPackBlock = 65536;
const DWORD kUnpackBlock = 1 << 18;
const char kInUsePrefix[] = "FIU";
const char kDesktopIni[] = "desktop.ini";

std::string WithTrailingBackslash(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

std::string FileNamePart(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The absolute form of a path; empty when it can't be had.
std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return std::string();
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    char* filePart = nullptr;
    DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()),
                                    buffer.data(), &filePart);
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

bool IsDeviceName(const std::string& component) {
  // Windows maps these names to devices whatever the extension or folder.
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && (base.back() == ' ')) base.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$",
                                         "CLOCK$"};
  for (const char* device : kDevices)
    if (EqualNoCase(base, device)) return true;
  if (base.size() == 4 && (StartsWithNoCase(base, "COM") || StartsWithNoCase(base, "LPT")) &&
      base[3] >= '1' && base[3] <= '9')
    return true;
  return false;
}

bool HoldsBackupSet(const std::string& folder) {
  return GetFileAttributesA((folder + kArchiveFile).c_str()) != INVALID_FILE_ATTRIBUTES ||
         GetFileAttributesA((folder + kRestoreSettingsFile).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ShowProgress(IRunCallback* run, const std::string& text) {
  if (run != nullptr) run->SetCurrentPath(text);
}

// Entry time (local DOS time) as file time in universal time.
bool EntryFileTime(const ZipEntryInfo& entry, FILETIME& universal) {
  FILETIME local;
  return DosDateTimeToFileTime(entry.dosDate, entry.dosTime, &local) &&
         LocalFileTimeToFileTime(&local, &universal);
}

// The read-only, hidden, system and archive bits the packing stored with
// the file, as an unpacked restore keeps them. The file was just made, so
// it carries the archive bit already: only the other bits are worth the
// call, which costs as much as opening the file again.
void ApplyStoredAttributes(const ZipEntryInfo& entry, const std::string& path) {
  const DWORD kSet = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  DWORD attributes = entry.externalAttributes & (kSet | FILE_ATTRIBUTE_ARCHIVE);
  if (attributes & kSet) SetFileAttributesA(path.c_str(), attributes);
}

// A folder's desktop.ini is kept hidden and system, as Explorer keeps it.
void MarkDesktopIni(const std::string& path) {
  if (path.size() > 11 && EndsWithNoCase(path, kDesktopIni))
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
}

}  // namespace

bool IsSafeEntryName(const std::string& name) {
  if (name.empty() || name[0] == '\\' || name[0] == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    std::string component = name.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") continue;
    // Only dots and blanks: Windows trims trailing ones, so "..." or ". ."
    // can end up meaning the parent folder.
    if (component.find_first_not_of(". ") == std::string::npos) return false;
    for (char c : component) {
      unsigned char u = static_cast<unsigned char>(c);
      if (u < 32 || std::strchr(":<>\"|?*", c) != nullptr) return false;
    }
    if (IsDeviceName(component)) return false;
  }
  return true;
}

bool ArchiveFileTooLarge(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  return ExceedsArchiveLimit(CombineSize(data.nFileSizeHigh, data.nFileSizeLow));
}

// ---------------------------------------------------------------- writer

ArchiveWriter::ArchiveWriter(IRunCallback* run) : m_run(run) {}

ArchiveWriter::ArchiveWriter(const std::string& archivePath, const std::string& baseFolder,
                             bool append, const std::optional<std::string>& password, int level,
                             IRunCallback* run)
    : m_run(run) {
  if (!archivePath.empty()) Open(archivePath, baseFolder, append, password, level);
}

ArchiveWriter::~ArchiveWriter() { Close(); }

bool ArchiveWriter::Open(const std::string& archivePath, const std::string& baseFolder,
                         bool append, const std::optional<std::string>& password, int level) {
  Close();
  m_errorText.clear();
  m_level = level;
  if (password && !password->empty()) m_password = password;
  std::string path = AbsolutePath(WithBackslashes(archivePath));
  if (path.empty()) return false;

  bool exists = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  bool opened = append && exists ? m_zip.CreateAfter(path) : m_zip.Create(path);
  if (!opened) {
    m_errorText = m_zip.GetErrorText();
    return false;
  }
  m_path = path;
  m_pipeline.reset(new CPackPipeline(m_zip));
  if (baseFolder.empty())
    m_baseFolder = path.substr(0, path.find_last_of('\\') + 1);
  else
    m_baseFolder = WithTrailingBackslash(WithBackslashes(baseFolder));
  return true;
}

bool ArchiveWriter::Flush() {
  if (!m_pipeline || m_pipeline->Flush()) return true;
  m_errorText = m_pipeline->ErrorText();
  return false;
}

bool ArchiveWriter::Close() {
  if (m_password) WipeText(*m_password);
  m_password.reset();
  bool flushed = Flush();
  std::string flushError = m_errorText;
  if (m_pipeline) m_peakPieceBytes = m_pipeline->PeakBytes();
  m_pipeline.reset();
  if (!m_zip.IsOpen()) return flushed;
  bool closed = m_zip.Close();
  if (!flushed) {
    m_errorText = flushError;
    return false;
  }
  if (closed) return true;
  m_errorText = m_zip.GetErrorText();
  return false;
}

bool ArchiveWriter::AddFile(const std::string& path, bool storeBareName) {
  m_errorText.clear();
  if (!m_zip.IsOpen()) return false;
  std::string source = WithBackslashes(path);
  if (!storeBareName && source.compare(0, 3, "..\\") == 0) return false;

  std::string name;
  if (storeBareName) {
    name = FileNamePart(source);
    if (source.find(':') == std::string::npos) source = CDiskObject::JoinPath(m_baseFolder, source);
  } else if (source.find(':') != std::string::npos) {
    if (!StartsWithNoCase(source, m_baseFolder)) return false;
    name = source.substr(m_baseFolder.size());
  } else {
    name = source.compare(0, 2, ".\\") == 0 ? source.substr(2) : source;
    source = CDiskObject::JoinPath(m_baseFolder, name);
  }
  return AddEntry(source, name, true);
}

bool ArchiveWriter::AddFileAs(const std::string& path, const std::string& archiveFolder,
                              const std::string& archiveName) {
  m_errorText.clear();
  if (!m_zip.IsOpen() || archiveFolder.find(':') != std::string::npos) return false;
  std::string name = archiveFolder;
  if (!name.empty() && name.back() != '\\') name += '\\';
  name += archiveName.empty() ? FileNamePart(path) : archiveName;
  if (!name.empty() && name[0] == '\\') name.erase(0, 1);
  return AddEntry(WithBackslashes(path), name, false);
}

bool ArchiveWriter::AddFolder(const std::string& folder, const std::string& archiveFolder,
                              bool recursive, const std::string& excluded) {
  if (!m_zip.IsOpen()) return false;
  std::string path = WithTrailingBackslash(WithBackslashes(folder));
  CFind find(path + "*.*");
  if (!find.Valid()) {
    // A folder that can't be listed (access denied) is missing from the set.
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
        error != ERROR_NO_MORE_FILES)
      m_failedFiles.push_back({path, SystemMessage(error)});
    return true;
  }
  do {
    if (StopRequested()) break;  // every further add would fail anyway
    std::string name = find.Name();
    // Only the folder's own entries; ".purple" and the like are user data.
    if (name.empty() || name == "." || name == "..") continue;
    if (std::optional<std::string> why = UncopyableName(path, name)) {
      m_failedFiles.push_back({path + name + (find.IsFolder() ? "\\" : ""), *why});
      continue;
    }
    if (!find.IsFolder()) {
      // A file gone since the listing leaves no error text and isn't missed.
      if (!AddFileAs(path + name, archiveFolder) && !StopRequested() && !m_errorText.empty())
        m_failedFiles.push_back({path + name, m_errorText});
      continue;
    }
    if (!recursive) continue;
    std::string subfolder = path + name + "\\";
    if (HoldsBackupSet(subfolder)) continue;
    if (!excluded.empty() && EqualNoCase(subfolder, WithTrailingBackslash(excluded))) continue;
    std::string subArchive = archiveFolder;
    if (!subArchive.empty() && subArchive.back() != '\\') subArchive += '\\';
    AddFolder(subfolder, subArchive + name, true, excluded);
  } while (find.Next());
  return true;
}

bool ArchiveWriter::OpenSource(const std::string& path, CHandle& handle) {
  for (;;) {
    handle.Reset();
    if (StopRequested()) return false;
    handle.Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL));
    if (handle.Valid()) return true;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
    m_errorText = SystemMessage(error);
    int answer = AskFileError(m_run, kCouldntOpen + m_errorText + "\n" + path, kFileOpenError,
                     MB_ABORTRETRYIGNORE | MB_ICONERROR);
    if (answer == IDRETRY) continue;
    if (answer != IDIGNORE) m_stop->Request();
    return false;
  }
}

// The entry's name, level, attributes and time as the file has them; false
// for a folder.
bool ArchiveWriter::DescribeEntry(const std::string& source, const std::string& entryName,
                                  ZipNewEntry& entry) const {
  entry.name = entryName;
  entry.level = m_level;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(source.c_str(), GetFileExInfoStandard, &data)) return true;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  entry.externalAttributes = data.dwFileAttributes;
  FILETIME local;
  WORD date = 0, time = 0;
  if (FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) &&
      FileTimeToDosDateTime(&local, &date, &time)) {
    entry.dosDate = date;
    entry.dosTime = time;
  }
  return true;
}

// An encrypted entry's header holds the CRC of its data: read the file once
// for it, then go back to the start.
bool ArchiveWriter::ChecksumFile(HANDLE file, std::uint32_t& crc) {
  uLong sum = crc32(0L, Z_NULL, 0);
  m_block.resize(kPackBlock);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, m_block.data(), kPackBlock, &got, NULL)) {
      m_errorText = SystemMessage(GetLastError());
      return false;
    }
    if (got == 0) break;
    sum = crc32(sum, m_block.data(), got);
  }
  crc = static_cast<std::uint32_t>(sum);
  if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    m_errorText = SystemMessage(GetLastError());
    return false;
  }
  return true;
}

// Leaves the entry unlisted: what was read of it is not the whole file.
bool ArchiveWriter::StopEntry(const std::string& error) {
  m_errorText = error;
  m_pipeline->AbandonEntry();
  return false;
}

// The file's data in pieces to the compressing threads. An entry cut short
// by a failed read or a stop is not listed: its data would pass the CRC
// check and replace a whole file with a part of it.
bool ArchiveWriter::PackEntryData(HANDLE file, const ZipNewEntry& entry, bool honourCancel) {
  const std::size_t pieceSize = CPackPipeline::kPieceSize;
  std::uint64_t total = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  for (;;) {
    if (honourCancel && StopRequested()) return StopEntry(std::string());
    if (m_pipeline->Failed()) return StopEntry(m_pipeline->ErrorText());
    unsigned char* piece = m_pipeline->PieceBuffer();
    // Every piece but the last is full, so read until it is.
    std::size_t filled = 0;
    while (filled < pieceSize) {
      DWORD got = 0;
      if (!ReadFile(file, piece + filled, static_cast<DWORD>(pieceSize - filled), &got, NULL))
        return StopEntry(SystemMessage(GetLastError()));
      if (got == 0) break;
      filled += got;
    }
    total += filled;
    if (total > 0xFFFFFFFFull) return StopEntry(kZipEntryTooLarge + entry.name);
    bool last = filled < pieceSize;
    // The encryption header promised the CRC read before.
    if (entry.password) crc = crc32(crc, piece, static_cast<uInt>(filled));
    if (last && entry.password && crc != entry.crc) return StopEntry(kZipDataChanged + entry.name);
    m_pipeline->SubmitPiece(filled, last);
    if (last) return true;
  }
}

bool ArchiveWriter::AddEntry(const std::string& source, const std::string& entryName,
                             bool honourCancel) {
  // Our own reader refuses such names, so writing them would lose the file.
  if (!IsSafeEntryName(entryName)) {
    m_errorText = kUnsafeName + entryName;
    return false;
  }
  ShowProgress(m_run, source);
  ZipNewEntry entry;
  if (!DescribeEntry(source, entryName, entry)) return false;
  CHandle file;
  if (!OpenSource(source, file)) return false;
  if (m_password) {
    if (!ChecksumFile(file.Get(), entry.crc)) return false;
    entry.password = m_password;
  }
  if (!m_pipeline->BeginEntry(entry)) {
    m_errorText = m_pipeline->ErrorText();
    return false;
  }
  bool ok = PackEntryData(file.Get(), entry, honourCancel);
  if (honourCancel && StopRequested()) return false;
  return ok;
}

// ---------------------------------------------------------------- reader

ArchiveReader::ArchiveReader(IRunCallback* run) : m_run(run) {}

ArchiveReader::ArchiveReader(const std::string& archivePath, bool overwriteAll, IRunCallback* run)
    : m_run(run) {
  m_overwriteMode = overwriteAll ? OverwriteYesToAll : OverwriteNo;
  if (!archivePath.empty()) Open(archivePath, overwriteAll);
}

ArchiveReader::~ArchiveReader() { Close(); }

bool ArchiveReader::Open(const std::string& archivePath, bool overwriteAll) {
  Close();
  m_errorText.clear();
  m_overwriteMode = overwriteAll ? OverwriteYesToAll : OverwriteNo;
  std::string path = AbsolutePath(WithBackslashes(archivePath));
  if (path.empty()) return false;
  if (!m_zip.Open(path)) {
    m_errorText = m_zip.GetErrorText();
    return false;
  }
  m_defaultFolder = path.substr(0, path.find_last_of('\\') + 1);
  return true;
}

void ArchiveReader::Close() {
  m_zip.Close();
  WipeText(m_password);
}

bool ArchiveReader::HasFile(const std::string& name, bool searchAll) {
  if (!m_zip.IsOpen() || name.empty()) return false;
  if (m_zip.LocateEntry(name, false)) return true;
  if (!searchAll) return false;
  std::string wanted = WithBackslashes(name);
  if (!m_zip.GoToFirstEntry()) return false;
  do {
    const ZipEntryInfo* entry = m_zip.GetCurrentEntry();
    if (entry != nullptr && EqualNoCase(WithBackslashes(entry->name), wanted)) return true;
  } while (m_zip.GoToNextEntry());
  return false;
}

bool ArchiveReader::UnpackFile(const std::string& name, const std::string& targetPath) {
  m_errorText.clear();
  if (!HasFile(name, true)) return false;
  std::string target = WithBackslashes(targetPath);
  size_t slash = target.find_last_of('\\');
  if (slash == std::string::npos) return UnpackCurrent(std::string(), false, target);
  return UnpackCurrent(target.substr(0, slash + 1), false, target.substr(slash + 1));
}

// Most entries of a restore are new files. Making a file, filling it and
// closing it cost several round trips to the system each, so new files are
// shared out to a few threads, a batch at a time, while this thread walks
// the archive, makes the folders and shows the progress. A file that can't
// be made new (it exists, or its folder is gone) comes back and takes the
// way of every other entry, questions included, in the archive's order.
struct ArchiveReader::NewFile {
  std::size_t index = 0;  // the entry's place in the archive
  std::string name;   // below the target folder
  std::string target;
  enum class Outcome { kUnpacked, kNotMade, kFailed } outcome = Outcome::kFailed;
  std::string error;
};

struct ArchiveReader::Unpacker {
  CZipReader zip;
  std::vector<unsigned char> block;
};

namespace {

// How many (or how many bytes) one batch holds: enough to keep the threads
// busy, few enough that a failure ends the restore soon after it.
const std::size_t kBatchFiles = 32;
const std::uint64_t kBatchBytes = 32u << 20;

}  // namespace

bool ArchiveReader::UnpackFolder(const std::string& prefix, const std::string& targetFolder) {
  m_errorText.clear();
  if (!m_zip.IsOpen() || !m_zip.GoToFirstEntry()) return false;
  std::string wanted = WithBackslashes(prefix);
  // Entries of one folder share their target folders; each is made or
  // checked once for the whole walk.
  struct CFolderMemory {
    explicit CFolderMemory(ArchiveReader& reader) : m_reader(reader) { m_reader.m_rememberFolders = true; }
    ~CFolderMemory() {
      m_reader.m_rememberFolders = false;
      m_reader.m_madeFolders.clear();
    }
    ArchiveReader& m_reader;
  } memory(*this);
  std::vector<NewFile> batch;
  std::uint64_t batchBytes = 0;
  // Unpacking an entry leaves it the current one, so the walk goes on from it.
  do {
    const ZipEntryInfo* entry = m_zip.GetCurrentEntry();
    if (entry == nullptr) return false;
    std::string name = WithBackslashes(entry->name);
    if (name.size() <= wanted.size() || name.compare(0, wanted.size(), wanted) != 0) continue;
    std::string relative = name.substr(wanted.size()), target;
    std::size_t index = m_zip.GetCurrentIndex();
    if (PlanNewFile(*entry, targetFolder, relative, target)) {
      NewFile file;
      file.index = index;
      file.name = relative;
      file.target = target;
      batch.push_back(std::move(file));
      batchBytes += entry->uncompressedSize;
      if (batch.size() < kBatchFiles && batchBytes < kBatchBytes) continue;
      if (!UnpackNewFiles(batch, targetFolder)) return false;
      batchBytes = 0;
      m_zip.GoToEntry(index);
      continue;
    }
    // What this entry found wrong is told once the files before it are done.
    std::string error = m_errorText;
    if (!UnpackNewFiles(batch, targetFolder)) return false;
    batchBytes = 0;
    m_zip.GoToEntry(index);
    if (!error.empty()) {
      m_errorText = error;
      return false;
    }
    if (!UnpackCurrent(targetFolder, false, relative)) return false;
  } while (m_zip.GoToNextEntry());
  return UnpackNewFiles(batch, targetFolder);
}

// A plain file (no folder, no password) goes to the threads once its folder
// is there. False with an error text when the entry can't be unpacked at
// all; false without one for the entries this thread unpacks itself.
bool ArchiveReader::PlanNewFile(const ZipEntryInfo& entry, const std::string& targetFolder,
                                const std::string& targetName, std::string& target) {
  m_errorText.clear();
  if (entry.IsFolder() || entry.IsEncrypted()) return false;
  CDiskObject disk(false, m_run);
  if (!EntryTarget(entry, targetFolder, false, targetName, disk, target)) return false;
  while (!target.empty() && target.back() == '\\') target.pop_back();
  std::string parent = FolderPart(target);
  if (!parent.empty() && !MakeFolderTree(parent, disk)) return false;
  ShowProgress(m_run, target);
  return true;
}

// Empties the batch: its files are made and filled by the threads, then
// looked at in the archive's order. The first that failed ends the walk
// with its error; one that couldn't be made new is unpacked here.
bool ArchiveReader::UnpackNewFiles(std::vector<NewFile>& files, const std::string& targetFolder) {
  if (files.empty()) return true;
  if (!m_calls) {
    m_calls.reset(new CParallelCalls(FileThreads()));
    m_unpackers.reset(new CCallResources<Unpacker>);
  }
  m_calls->Run(files.size(), [&](std::size_t i) { UnpackNewFile(files[i]); });
  bool ok = true;
  for (NewFile& file : files) {
    if (file.outcome == NewFile::Outcome::kUnpacked) continue;
    if (file.outcome == NewFile::Outcome::kFailed || StopRequested()) {
      m_errorText = file.error;
      ok = false;
      break;
    }
    if (!m_zip.GoToEntry(file.index) || !UnpackCurrent(targetFolder, false, file.name)) {
      ok = false;
      break;
    }
  }
  files.clear();
  return ok;
}

// On one of the threads: the file is made only if it is new; an entry that
// can't be read leaves nothing behind.
void ArchiveReader::UnpackNewFile(NewFile& file) {
  CHandle output(CreateFileA(file.target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL));
  if (!output.Valid()) {
    file.outcome = NewFile::Outcome::kNotMade;
    return;
  }
  Unpacker& unpacker = m_unpackers->Take();
  CZipReader& zip = unpacker.zip;
  if ((zip.IsOpen() || zip.OpenBeside(m_zip)) && zip.GoToEntry(file.index) && zip.OpenEntry()) {
    if (FillNewFile(zip, *zip.GetCurrentEntry(), file.target, output, unpacker.block, file.error))
      file.outcome = NewFile::Outcome::kUnpacked;
  } else {
    file.error = zip.GetErrorText();
    output.Reset();
    DeleteFileA(file.target.c_str());
  }
  m_unpackers->Give(unpacker);
}

bool ArchiveReader::MakeFolderTree(const std::string& folder, CDiskObject& disk, bool* remembered) {
  if (remembered != nullptr) *remembered = false;
  std::string key;
  if (m_rememberFolders) {
    key = folder;
    CDiskObject::QualifyFolderPath(key);
    for (char& c : key) c = LowerAscii(c);
    if (m_madeFolders.count(key) != 0) {
      if (remembered != nullptr) *remembered = true;
      return true;
    }
  }
  if (!disk.CreateFolderTree(folder)) {
    m_errorText = disk.GetErrorText();
    return false;
  }
  // Every folder on the way exists now as well.
  if (m_rememberFolders)
    for (size_t end = key.find('\\', 3); end != std::string::npos; end = key.find('\\', end + 1))
      m_madeFolders.insert(key.substr(0, end + 1));
  return true;
}

// Where the current entry goes: the target folder (made if missing) and
// the entry's name, its bare file name or the name given. Whatever part of
// the name lands below the target folder must stay there.
bool ArchiveReader::EntryTarget(const ZipEntryInfo& entry, const std::string& targetFolder,
                                bool dropStoredFolders, const std::string& targetName,
                                CDiskObject& disk, std::string& target) {
  std::string name = WithBackslashes(entry.name);
  std::string folder = targetFolder.empty() ? m_defaultFolder : WithBackslashes(targetFolder);
  if (!MakeFolderTree(folder, disk)) return false;
  std::string relative;
  if (!targetName.empty())
    relative = WithBackslashes(targetName);
  else if (dropStoredFolders)
    relative = FileNamePart(name);
  else
    relative = name;
  std::string checked = relative;
  while (entry.IsFolder() && !checked.empty() && checked.back() == '\\') checked.pop_back();
  if (!IsSafeEntryName(checked)) {
    m_errorText = kUnsafeName + entry.name;
    return false;
  }
  target = CDiskObject::JoinPath(folder, relative);
  return true;
}

bool ArchiveReader::UnpackCurrent(const std::string& targetFolder, bool dropStoredFolders,
                                  const std::string& targetName) {
  m_errorText.clear();
  if (!m_zip.IsOpen()) {
    m_errorText = kNoArchive;
    return false;
  }
  const ZipEntryInfo* current = m_zip.GetCurrentEntry();
  if (current == nullptr) return false;
  ZipEntryInfo entry = *current;

  CDiskObject disk(false, m_run);
  std::string target;
  if (!EntryTarget(entry, targetFolder, dropStoredFolders, targetName, disk, target)) return false;
  if (entry.IsFolder()) return MakeFolderTree(target, disk);
  while (!target.empty() && target.back() == '\\') target.pop_back();
  std::string parent = FolderPart(target);
  bool parentRemembered = false;
  if (!parent.empty() && !MakeFolderTree(parent, disk, &parentRemembered)) return false;
  ShowProgress(m_run, target);

  // The entry is opened (and its password checked) before the target is
  // touched, so an entry that can't be read never costs the existing file.
  if (!OpenCurrentEntry(entry)) return false;

  CHandle fresh;
  TargetState state = PrepareTarget(target, fresh);
  if (state == TargetState::LeftOut && parentRemembered && m_targetError == ERROR_PATH_NOT_FOUND) {
    // A folder made earlier in this unpack has gone since: make it again
    // rather than skip every file meant for it.
    m_madeFolders.clear();
    if (!MakeFolderTree(parent, disk)) {
      m_zip.CloseEntry();
      return false;
    }
    state = PrepareTarget(target, fresh);
  }
  // A target that didn't exist is written in place: nothing is there to keep.
  if (state == TargetState::Fresh)
    return FillNewFile(m_zip, entry, target, fresh, m_block, m_errorText);
  if (state == TargetState::LeftOut) {
    m_failedFiles.push_back({target, kCouldntCreate + m_errorText});
    state = TargetState::Skip;
  }
  if (state != TargetState::Replace && state != TargetState::InUse) {
    m_zip.CloseEntry();
    return state == TargetState::Skip;
  }
  return UnpackOverExisting(entry, target, parent, state);
}

// An existing target is written beside it and swapped in only when complete
// and its CRC matched: a failed read leaves it as it was. A target in use
// takes the complete copy at the next restart.
bool ArchiveReader::UnpackOverExisting(const ZipEntryInfo& entry, const std::string& target,
                                       const std::string& parent, TargetState state) {
  CTempFile written;
  if (!written.Create(parent, kInUsePrefix)) {
    m_errorText = SystemMessage(GetLastError());
    m_zip.CloseEntry();
    return false;
  }
  {
    CHandle output(CreateFileA(written.Path().c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL));
    if (!output.Valid()) {
      m_errorText = SystemMessage(GetLastError());
      m_zip.CloseEntry();
      return false;
    }
    if (!CopyEntryTo(output.Get(), target)) return false;
    FILETIME universal;
    if (EntryFileTime(entry, universal)) SetFileTime(output.Get(), &universal, NULL, &universal);
  }
  if (StopRequested()) return false;

  if (state == TargetState::Replace &&
      MoveFileOver(written.Path(), target)) {
    written.Keep();
    ApplyStoredAttributes(entry, target);
    MarkDesktopIni(target);
    return true;
  }
  DWORD error = GetLastError();
  if (state == TargetState::Replace && !IsInUse(error)) {
    m_errorText = SystemMessage(error);
    return false;
  }
  ApplyStoredAttributes(entry, written.Path());
  if (!ReplaceOnReboot(written.Path(), target)) {
    m_errorText = SystemMessage(GetLastError());
    return false;
  }
  written.Keep();
  return true;
}

// The open entry into the new file in `output`, with the entry's time and
// attributes; a copy that fails or is cancelled is removed again.
bool ArchiveReader::FillNewFile(CZipReader& zip, const ZipEntryInfo& entry,
                                const std::string& target, CHandle& output,
                                std::vector<unsigned char>& buffer, std::string& error) {
  bool complete = CopyEntryData(zip, output.Get(), target, buffer, error) && !StopRequested();
  FILETIME universal;
  if (complete && EntryFileTime(entry, universal))
    SetFileTime(output.Get(), &universal, NULL, &universal);
  output.Reset();
  if (!complete) {
    DeleteFileA(target.c_str());
    return false;
  }
  ApplyStoredAttributes(entry, target);
  MarkDesktopIni(target);
  return true;
}

bool ArchiveReader::OpenCurrentEntry(const ZipEntryInfo& entry) {
  if (entry.IsEncrypted()) {
    m_password.clear();
    if (m_run == nullptr || !m_run->GetArchivePassword(entry.name, m_password)) {
      m_errorText = kNoPassword + entry.name;
      return false;
    }
    if (!m_zip.OpenEntry(m_password.c_str())) {
      m_errorText = m_zip.GetErrorText();
      return false;
    }
    return true;
  }
  if (!m_zip.OpenEntry()) {
    m_errorText = m_zip.GetErrorText();
    return false;
  }
  return true;
}

bool ArchiveReader::CopyEntryTo(HANDLE output, const std::string& target) {
  return CopyEntryData(m_zip, output, target, m_block, m_errorText);
}

// The open entry's data into the file, a block at a time, and the entry
// closed (which checks its CRC). False with the reason in `error`, or
// without one when the run stopped.
bool ArchiveReader::CopyEntryData(CZipReader& zip, HANDLE output, const std::string& target,
                                  std::vector<unsigned char>& buffer, std::string& error) {
  buffer.resize(kUnpackBlock);
  bool ok = true;
  for (;;) {
    long got = zip.ReadEntry(buffer.data(), buffer.size());
    if (got < 0) {
      error = zip.GetErrorText();
      ok = false;
      break;
    }
    if (got == 0) break;
    if (DWORD code = WriteAll(output, buffer.data(), static_cast<DWORD>(got))) {
      error = SystemMessage(code) + " " + target;
      ok = false;
      break;
    }
    if (StopRequested()) {
      ok = false;
      break;
    }
  }
  if (!zip.CloseEntry() && ok) {
    error = zip.GetErrorText();
    ok = false;
  }
  return ok;
}

// An existing target is only tried, never emptied: the data goes to a file
// beside it and replaces it when complete. Nothing when it can't be opened
// (the reason is in `error`).
std::optional<ArchiveReader::TargetState> ArchiveReader::ProbeExisting(const std::string& path,
                                                                       DWORD attributes,
                                                                       CHandle& fresh,
                                                                       DWORD& error) {
  // Read-only, hidden and system files can only be replaced once they are
  // plain files again.
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
  error = GetLastError();
  fresh.Reset(probe);
  if (!fresh.Valid()) return std::nullopt;
  if (error != ERROR_ALREADY_EXISTS) return TargetState::Fresh;  // gone meanwhile
  fresh.Reset();
  return TargetState::Replace;
}

// A target that can't be made or opened: in use, gone, or asked about.
// Nothing when the user chose to retry.
std::optional<ArchiveReader::TargetState> ArchiveReader::TargetFailed(const std::string& path,
                                                                      DWORD error) {
  m_targetError = error;
  m_errorText = SystemMessage(error);
  if (IsInUse(error)) return TargetState::InUse;
  if (path.find(kDesktopIni) != std::string::npos) return TargetState::Skip;
  // Its folder gone (the drive taken away, say): nothing to ask about.
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return TargetState::LeftOut;
  int answer = AskFileError(m_run, kCouldntCreate + m_errorText + "\n" + path, kFileCreateError,
                   MB_ABORTRETRYIGNORE | MB_ICONERROR);
  if (answer == IDRETRY) return std::nullopt;
  if (answer == IDIGNORE) return TargetState::LeftOut;
  m_stop->Request();
  return TargetState::Cancel;
}

ArchiveReader::TargetState ArchiveReader::PrepareTarget(const std::string& path, CHandle& fresh) {
  fresh.Reset();
  m_targetError = ERROR_SUCCESS;
  bool replace = false;
  for (;;) {
    if (StopRequested()) return TargetState::Cancel;
    DWORD error = ERROR_SUCCESS;
    if (!replace) {
      // Most targets of a restore don't exist yet; making the file is then
      // the only call the target needs.
      HANDLE created = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, NULL);
      error = GetLastError();
      fresh.Reset(created);
      if (fresh.Valid()) return TargetState::Fresh;
    }
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      m_errorText = kTargetIsFolder + path;
      return TargetState::Fail;
    }
    if (replace) {
      if (std::optional<TargetState> state = ProbeExisting(path, attributes, fresh, error))
        return *state;
    } else if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
      ExistingTarget decision =
          DecideOnExisting(path, m_overwriteMode, m_run);
      if (decision == ExistingTarget::Keep) return TargetState::Skip;
      if (decision == ExistingTarget::Cancel) {
        m_stop->Request();
        return TargetState::Cancel;
      }
      replace = true;
      continue;
    }
    if (std::optional<TargetState> state = TargetFailed(path, error)) return *state;
    replace = true;  // retry
  }
}
