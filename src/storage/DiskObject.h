// The one way the program copies, creates, lists and removes files and
// folders, with its conflict policy: existing targets (the overwrite
// question), targets in use (replaced at the next restart) and files that
// can't be opened (skipped silently, or Abort/Retry/Ignore).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Interaction.h"
#include "base/Lock.h"
#include "base/ParallelCalls.h"
#include "base/RunCallback.h"
#include "base/StopRequest.h"
#include "base/TempFile.h"
#include "base/Win32Handle.h"

// What becomes of a target that exists: decided by the overwrite mode, or,
// while that leaves the choice open, by the question, whose answer becomes
// the mode. No question, or a cancelled one, cancels.
enum class ExistingTarget { Keep, Replace, Cancel };
ExistingTarget DecideOnExisting(const std::string& path, OverwriteAnswer& mode, IRunCallback* run);

// A file error put to the run's front end, or, without one, to the user
// directly.
int AskFileError(IRunCallback* run, const std::string& text, const std::string& caption,
                 UINT style);

// A 64-bit size from the two halves the file system reports.
inline std::uint64_t CombineSize(DWORD high, DWORD low) {
  return (static_cast<std::uint64_t>(high) << 32) | low;
}

// A file a folder copy had to leave out, and why.
struct CFailedFile {
  std::string path;
  std::string error;
};

// Whether the path names a folder that is there.
bool IsFolder(const std::string& path);
// Whether an open failed because another program holds the file.
bool IsInUse(DWORD error);
// The system's text for an error code, trimmed; "Error <code>" without one.
std::string SystemMessage(DWORD code);
// Why a listed name can't be copied, or nothing when it can: the system
// gives "?" for each character of a name that this computer's code page
// lacks, which names no file (or, as a pattern, others), and a path must
// stay within MAX_PATH.
std::optional<std::string> UncopyableName(const std::string& folder, const std::string& name);

// Writes all `size` bytes; 0, or why not. A write that takes fewer bytes
// than asked without failing means the disk is full: what GetLastError
// holds then is left from an earlier call.
DWORD WriteAll(HANDLE file, const void* data, DWORD size);

class CDiskObject {
 public:
  // The run's front end hears of the paths and answers the questions;
  // without one the overwrite question cancels and file errors are asked
  // directly.
  explicit CDiskObject(bool overwriteAll, IRunCallback* run = nullptr);
  CDiskObject(const CDiskObject&) = delete;
  CDiskObject& operator=(const CDiskObject&) = delete;

  // Paths. Folder paths in normalised form are absolute and end with "\".
  static std::string JoinPath(const std::string& first, const std::string& second);
  static void QualifyPath(std::string& path);
  static void QualifyFolderPath(std::string& path);
  static std::string FolderOf(const std::string& path);
  static std::string FileNameOf(const std::string& path);
  std::string GetErrorText() const { return m_errorText; }

  // Queries.
  bool FileExists(const std::string& path);
  std::uint64_t FileSize(const std::string& path);
  std::uint64_t FolderSize(const std::string& folder, bool recursive);

  // Listings append to the list, in the order the file system gives.
  bool ListFiles(const std::string& pattern, const std::string& folder,
                 std::vector<std::string>& list);
  bool ListAllFiles(const std::string& folder, std::vector<std::string>& list);
  bool ListSubfolders(const std::string& folder, std::vector<std::string>& list);

  // Creating.
  bool CreateFolderTree(const std::string& folder);
  bool CreateEmptyFile(const std::string& path);

  // Copying. OpenFile: true with a handle, go on; true without one, skip
  // this file; false, the run is cancelled.
  bool OpenFile(const std::string& path, bool forWriting, CHandle& handle);
  bool CopyOneFile(const std::string& source, const std::string& target);
  bool CopyFileAs(const std::string& source, const std::string& target);
  bool CopyFileToFolder(const std::string& file, const std::string& folder);
  bool CopyFolderFiles(const std::string& sourceFolder, const std::string& targetFolder);
  bool CopyFolder(const std::string& sourceFolder, const std::string& targetFolder);
  // `excluded` is a normalised folder path (or empty): that folder and
  // everything below it are left out.
  bool CopyFolderTree(const std::string& sourceFolder, const std::string& targetFolder,
                      const std::string& excluded);

  // The files the folder copies since the last clear left out because they
  // couldn't be read (held by another program, say, and not retried); the
  // rest of each folder was still copied.
  const std::vector<CFailedFile>& FailedFiles() const { return m_failedFiles; }
  void ClearFailedFiles() { m_failedFiles.clear(); }

  // Removing.
  bool RemoveFile(const std::string& path);
  bool RemoveFolderFiles(const std::string& folder);
  bool RemoveFolder(const std::string& folder);
  bool RemoveFolderTree(const std::string& folder);

  // The run's stop request: set by Abort or Cancel, or by another thread to
  // stop a running copy; the owner clears it before the next run. Without
  // one of the run's, the object keeps its own.
  bool Cancelled() const { return m_stop->Requested(); }
  void SetCancelled(bool cancelled) {
    if (cancelled)
      m_stop->Request();
    else
      m_stop->Clear();
  }
  void SetStopRequest(CStopRequest& stop) { m_stop = &stop; }

  OverwriteAnswer OverwriteMode() const { return m_overwriteMode; }
  void SetOverwriteMode(OverwriteAnswer mode) { m_overwriteMode = mode; }
  void SetRunCallback(IRunCallback* run) { m_run = run; }

 private:
  bool TryOpen(const std::string& path, bool forWriting, bool replace, CHandle& handle);
  bool OpenAtOnce(const std::string& path, DWORD disposition, CHandle& handle);
  bool OpenAfterLooking(const std::string& path, DWORD disposition, CHandle& handle);
  // With `leftOut`, a folder that can't be listed or named is put there and
  // the walk goes on; without, the walk fails. With `links`, junctions and
  // folder links go there instead of into the list, and aren't entered.
  bool ListSubfoldersOf(const std::string& folder, std::vector<std::string>& list,
                        std::vector<CFailedFile>* leftOut = nullptr,
                        std::vector<std::string>* links = nullptr);
  // How a copy reaches its target: written in place, written beside it and
  // swapped in when complete, or swapped in at the next restart (in use).
  enum class CopyRoute { Direct, Swap, AtRestart };
  std::optional<bool> ReadFirstBlock(const std::string& source, CHandle& input,
                                     std::vector<char>& buffer, DWORD& got);
  std::optional<bool> OpenTarget(const std::string& target, DWORD createAttributes,
                                 CHandle& output, CopyRoute& route);
  bool WriteBeside(const std::string& target, CopyRoute route, CHandle& output, CHandle& held,
                   CTempFile& temporary);
  bool CopyBlocks(HANDLE input, HANDLE output, std::vector<char>& buffer, DWORD got,
                  const std::string& source, const std::string& target);
  bool PlaceCopy(CopyRoute route, CTempFile& temporary, const std::string& target,
                 DWORD attributes, DWORD createAttributes);
  // Copies the files of a folder's list that go to new targets on the
  // file threads; `copied` says which did.
  void CopyToNewFiles(const std::vector<std::string>& sources,
                      const std::vector<std::string>& targets, std::vector<char>& copied);
  void SetSystemError(DWORD code, const std::string& context);
  void SetInternalError();
  void ShowProgress(const std::string& text) const;

  IRunCallback* m_run;
  CStopRequest m_ownStop;
  CStopRequest* m_stop = &m_ownStop;
  OverwriteAnswer m_overwriteMode;
  std::string m_errorText;
  // Why the last OpenFile gave no handle; Ask and logging may change the
  // thread's last error before the caller looks.
  DWORD m_lastOpenError = ERROR_SUCCESS;
  // While copying: open an existing target without emptying it, and whether
  // the last open found one.
  bool m_keepExisting = false;
  bool m_openedExisting = false;
  // The last CopyOneFile failed only because its source couldn't be read or
  // its target couldn't be opened, and the user let it go: a folder copy
  // leaves that file out, names it and goes on.
  bool m_leftOut = false;
  // The last CopyOneFile found its source gone (since a listing, say).
  bool m_sourceGone = false;
  std::vector<char> m_block;  // one block of the file being copied
  bool m_createdNew = false;  // the last target opened for writing was made new
  // What a target made new gets from the create call: while copying, the
  // source's hidden and system bits where that gives the source's attributes.
  DWORD m_createAttributes = FILE_ATTRIBUTE_NORMAL;
  std::vector<CFailedFile> m_failedFiles;
  // Made by the first folder copy with files to share out, with a block
  // for each thread at a time.
  std::unique_ptr<CParallelCalls> m_calls;
  std::unique_ptr<CCallResources<std::vector<char>>> m_blocks;
};
