// The packed backup set: files from disk added to "restore.zip" under names
// relative to the set, and entries unpacked back to places on disk under the
// same conflict policy as CDiskObject (overwrite question, files in use
// replaced at the next restart, Abort/Retry/Ignore on errors).
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Interaction.h"
#include "base/Lock.h"
#include "base/ParallelCalls.h"
#include "storage/DiskObject.h"
#include "storage/PackPipeline.h"
#include "storage/Zip.h"

// Packed sets must stay within this size; the ZIP format's 32-bit offsets
// make anything beyond it unreliable.
const std::uint64_t kArchiveSizeLimit = 2147483648ULL;
// Exactly the limit still passes.
inline bool ExceedsArchiveLimit(std::uint64_t size) { return size > kArchiveSizeLimit; }
// Whether the archive file on disk is over the limit (a file that can't be
// measured is not).
bool ArchiveFileTooLarge(const std::string& path);

// What the user is told about the limit.
extern const char kSelectionOver2GB[];   // asked before a packed wizard backup
extern const char kArchiveTooLarge[];    // shown when a packed backup is too big

class ArchiveWriter {
 public:
  // The run's front end hears of the files and answers the file questions.
  explicit ArchiveWriter(IRunCallback* run = nullptr);
  // Opens the archive at once when a path is given.
  ArchiveWriter(const std::string& archivePath, const std::string& baseFolder, bool append,
                const std::optional<std::string>& password, int level,
                IRunCallback* run = nullptr);
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  // An empty base folder means the archive's own folder. An empty password
  // means none. With append, an existing archive keeps its entries.
  bool Open(const std::string& archivePath, const std::string& baseFolder, bool append,
            const std::optional<std::string>& password, int level);
  // Writes the central directory; true when that worked or nothing was open.
  bool Close();
  // Files are compressed and written behind AddFile's back: this waits
  // until everything added is in the archive file. False when a write
  // failed (the archive can't be finished then; Close says so too).
  bool Flush();
  // The most memory the compression's pieces have held.
  std::size_t PeakPieceBytes() const { return m_pipeline ? m_pipeline->PeakBytes() : m_peakPieceBytes; }
  bool IsOpen() const { return m_zip.IsOpen(); }
  // The archive file being written (absolute), or empty before Open.
  const std::string& GetPath() const { return m_path; }

  // One file under its path relative to the base folder, or under its bare
  // file name. A path without a drive is taken relative to the base folder.
  bool AddFile(const std::string& path, bool storeBareName);
  // One file as archiveFolder\archiveName (the file's own name when empty).
  bool AddFileAs(const std::string& path, const std::string& archiveFolder,
                 const std::string& archiveName = std::string());
  // The files of a folder, with recursive also its subfolders, except
  // other backup sets and the excluded folder (a path ending with "\", or
  // empty). Single files that fail don't fail the folder; they are listed in
  // FailedFiles.
  bool AddFolder(const std::string& folder, const std::string& archiveFolder, bool recursive,
                 const std::string& excluded = std::string());
  const std::vector<CFailedFile>& FailedFiles() const { return m_failedFiles; }
  void ClearFailedFiles() { m_failedFiles.clear(); }

  const std::string& GetErrorText() const { return m_errorText; }
  void SetErrorText(const std::string& text) { m_errorText = text; }
  void SetRunCallback(IRunCallback* run) { m_run = run; }
  const std::string& BaseFolder() const { return m_baseFolder; }

  // The run's stop request, read between files and blocks and set by an
  // Abort answer; without one of the run's, the writer keeps its own.
  void SetStopRequest(CStopRequest& stop) { m_stop = &stop; }
  bool StopRequested() const { return m_stop->Requested(); }

 private:
  bool AddEntry(const std::string& source, const std::string& entryName, bool honourCancel);
  bool DescribeEntry(const std::string& source, const std::string& entryName,
                     ZipNewEntry& entry) const;
  bool ChecksumFile(HANDLE file, std::uint32_t& crc);
  bool PackEntryData(HANDLE file, const ZipNewEntry& entry, bool honourCancel);
  bool StopEntry(const std::string& error);
  bool OpenSource(const std::string& path, CHandle& handle);

  CZipWriter m_zip;
  std::unique_ptr<CPackPipeline> m_pipeline;  // while the archive is open
  std::size_t m_peakPieceBytes = 0;
  std::string m_path;
  std::string m_baseFolder;  // ends with "\"
  std::optional<std::string> m_password;
  int m_level = -1;
  IRunCallback* m_run;
  std::string m_errorText;
  std::vector<unsigned char> m_block;  // one block of a source file
  std::vector<CFailedFile> m_failedFiles;
  CStopRequest m_ownStop;
  CStopRequest* m_stop = &m_ownStop;
};

class ArchiveReader {
 public:
  // The run's front end hears of the files and answers the overwrite,
  // password and file questions; without one they are refused.
  explicit ArchiveReader(IRunCallback* run = nullptr);
  ArchiveReader(const std::string& archivePath, bool overwriteAll, IRunCallback* run = nullptr);
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  bool Open(const std::string& archivePath, bool overwriteAll);
  void Close();
  bool IsOpen() const { return m_zip.IsOpen(); }

  // Makes the entry of that name (any case) the current one; with searchAll
  // also names stored with slashes are found.
  bool HasFile(const std::string& name, bool searchAll);
  // The current entry into the target folder (the archive's folder when
  // empty), under targetName when given, else under its stored name (only
  // the file name with dropStoredFolders). An existing file kept by the
  // overwrite policy, or skipped after Ignore, counts as success; a skipped
  // one, or one whose folder is gone, is listed in FailedFiles.
  bool UnpackCurrent(const std::string& targetFolder, bool dropStoredFolders,
                     const std::string& targetName = std::string());
  // The named entry to exactly that path.
  bool UnpackFile(const std::string& name, const std::string& targetPath);
  // Every entry whose name begins with the prefix (case matters), below the
  // target folder with the rest of its name. The first failure ends it.
  bool UnpackFolder(const std::string& prefix, const std::string& targetFolder);

  // The targets an unpack couldn't write and went on without.
  const std::vector<CFailedFile>& FailedFiles() const { return m_failedFiles; }
  void ClearFailedFiles() { m_failedFiles.clear(); }

  const std::string& GetErrorText() const { return m_errorText; }
  OverwriteAnswer OverwriteMode() const { return m_overwriteMode; }
  void SetOverwriteMode(OverwriteAnswer mode) { m_overwriteMode = mode; }
  void SetRunCallback(IRunCallback* run) { m_run = run; }

  // As for the writer: the run's stop request, or the reader's own.
  void SetStopRequest(CStopRequest& stop) { m_stop = &stop; }
  bool StopRequested() const { return m_stop->Requested(); }

 private:
  // Fresh: the target didn't exist and was just made, `fresh` holds it.
  // Replace: it exists and may be replaced. InUse: it exists and is open
  // elsewhere. Skip: kept, or needn't be written. LeftOut: couldn't be
  // written, and the unpack goes on without it.
  enum class TargetState { Fresh, Replace, InUse, Skip, LeftOut, Cancel, Fail };
  TargetState PrepareTarget(const std::string& path, CHandle& fresh);
  std::optional<TargetState> ProbeExisting(const std::string& path, DWORD attributes,
                                           CHandle& fresh, DWORD& error);
  std::optional<TargetState> TargetFailed(const std::string& path, DWORD error);
  bool OpenCurrentEntry(const ZipEntryInfo& entry);
  bool CopyEntryTo(HANDLE output, const std::string& target);
  bool CopyEntryData(CZipReader& zip, HANDLE output, const std::string& target,
                     std::vector<unsigned char>& buffer, std::string& error);
  bool FillNewFile(CZipReader& zip, const ZipEntryInfo& entry, const std::string& target,
                   CHandle& output, std::vector<unsigned char>& buffer, std::string& error);
  bool UnpackOverExisting(const ZipEntryInfo& entry, const std::string& target,
                          const std::string& parent, TargetState state);
  bool EntryTarget(const ZipEntryInfo& entry, const std::string& targetFolder,
                   bool dropStoredFolders, const std::string& targetName, CDiskObject& disk,
                   std::string& target);
  // CreateFolderTree, skipped for folders this unpack made or found before;
  // `remembered` says whether it was skipped.
  bool MakeFolderTree(const std::string& folder, CDiskObject& disk, bool* remembered = nullptr);

  // A file UnpackFolder hands to the threads that make new files.
  struct NewFile;
  // A reader of the archive and a block, for one thread at a time.
  struct Unpacker;
  // Whether the current entry may go to those threads, and where to.
  bool PlanNewFile(const ZipEntryInfo& entry, const std::string& targetFolder,
                   const std::string& targetName, std::string& target);
  bool UnpackNewFiles(std::vector<NewFile>& files, const std::string& targetFolder);
  void UnpackNewFile(NewFile& file);

  CZipReader m_zip;
  std::string m_defaultFolder;  // ends with "\"
  OverwriteAnswer m_overwriteMode = OverwriteNo;
  std::string m_password;
  IRunCallback* m_run;
  std::string m_errorText;
  DWORD m_targetError = ERROR_SUCCESS;  // why PrepareTarget gave no target
  std::vector<CFailedFile> m_failedFiles;
  // While UnpackFolder runs: the folders it has made or found, normalised
  // and in lower case.
  bool m_rememberFolders = false;
  std::set<std::string> m_madeFolders;
  std::vector<unsigned char> m_block;  // one block of entry data
  // Made by the first UnpackFolder with files to share out.
  std::unique_ptr<CParallelCalls> m_calls;
  std::unique_ptr<CCallResources<Unpacker>> m_unpackers;
  CStopRequest m_ownStop;
  CStopRequest* m_stop = &m_ownStop;
};

// Whether an entry name (separators already backslashes) stays inside the
// folder it is unpacked to: relative, no "..", no drive, no device names.
bool IsSafeEntryName(const std::string& name);
