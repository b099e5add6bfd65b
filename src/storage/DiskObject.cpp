#include "storage/DiskObject.h"

#include <algorithm>
#include <cstring>

#include "base/FileReplace.h"
#include "base/LocaleText.h"
#include "base/Text.h"
#include "system/Reboot.h"

namespace {

// The texts users see. Keep them as they are.
const char kInternalError[] = "CDiskObject internal error";
const char kOpenForWriting[] = "Couldn't open file for writing: ";
const char kOpenForReading[] = "Couldn't open file for reading: ";
const char kReadFrom[] = "Couldn't read from file ";
const char kWriteTo[] = "Couldn't write to file ";
const char kFileOpenError[] = "File open error";
const char kFileReadError[] = "File read error";
const char kFileWriteError[] = "File write error";
const char kNameOutsideCodePage[] =
    "The name holds characters that this computer's code page lacks; not copied.";
const char kPathTooLong[] = "The path is longer than Windows allows; not copied.";

// Room for a backslash and a name below it, as a folder's listing needs.
bool FitsInPath(std::size_t length) { return length + 2 < MAX_PATH; }

// Beside a target in use, swapped in at the next restart.
const char kInUsePrefix[] = "FIU";
// A copy that replaces an existing file once it is complete.
const char kCopyPrefix[] = "QMC";
// Explorer keeps these locked in odd ways; never worth a question.
const char kDesktopIni[] = "desktop.ini";
const char kDriveGone[] = "The drive or network folder of this file is no longer there: ";
// Large blocks: under Wine every read and write is a round trip to the
// server, and fewer of them make a copy near the system's own speed.
const DWORD kBlockSize = 1 << 20;
// Read-only, hidden and system files can only be replaced once they are
// plain files again.
const DWORD kProtectingAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

// What a copy's create call gives a target it makes new: the source's hidden
// and system bits, where that makes the target's attributes the source's
// (a new file always has the archive bit), so no call by path follows. A
// read-only target waits for the complete copy: a failed one is removed.
DWORD CreateAttributesFor(DWORD source) {
  const DWORD kAtCreation = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if ((source & ~kAtCreation) != FILE_ATTRIBUTE_ARCHIVE || (source & kAtCreation) == 0)
    return FILE_ATTRIBUTE_NORMAL;
  return source & kAtCreation;
}

// The attributes of a file that a create call with `createAttributes` made.
DWORD AttributesOfNewFile(DWORD createAttributes) {
  return createAttributes == FILE_ATTRIBUTE_NORMAL ? FILE_ATTRIBUTE_ARCHIVE
                                                    : createAttributes | FILE_ATTRIBUTE_ARCHIVE;
}

// A search that matched nothing is an empty listing, not a failure.
bool IsEmptySearch(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
}

bool IsNetworkPath(const std::string& path) {
  return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

bool HasDriveLetter(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}


// Where a drive or network path starts: "C:" or "\\server\share".
size_t RootLength(const std::string& path) {
  if (HasDriveLetter(path)) return 2;
  if (IsNetworkPath(path)) {
    size_t server = path.find('\\', 2);
    if (server == std::string::npos) return path.size();
    size_t share = path.find('\\', server + 1);
    return share == std::string::npos ? path.size() : share;
  }
  return 0;
}

// The current directory without a trailing backslash ("C:" for a root).
std::string CurrentFolder() {
  DWORD size = GetCurrentDirectoryA(0, NULL);
  std::string folder;
  while (size > 0) {
    folder.resize(size);
    DWORD length = GetCurrentDirectoryA(size, &folder[0]);
    if (length < size) {
      folder.resize(length);
      break;
    }
    size = length;  // it changed under us; try with the size now asked for
  }
  if (size == 0) folder.clear();
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

}  // namespace

ExistingTarget DecideOnExisting(const std::string& path, OverwriteAnswer& mode, IRunCallback* run) {
  if (mode == OverwriteNoToAll) return ExistingTarget::Keep;
  if (mode == OverwriteYesToAll) return ExistingTarget::Replace;
  OverwriteAnswer answer = mode;
  if (run == nullptr || !run->AskOverwrite(path, answer)) return ExistingTarget::Cancel;
  mode = answer;
  return answer == OverwriteNo || answer == OverwriteNoToAll ? ExistingTarget::Keep
                                                               : ExistingTarget::Replace;
}

int AskFileError(IRunCallback* run, const std::string& text, const std::string& caption,
                 UINT style) {
  return run != nullptr ? run->AskFileError(text, caption, style) : Ask(NULL, text, caption, style);
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsInUse(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

std::optional<std::string> UncopyableName(const std::string& folder, const std::string& name) {
  if (name.find('?') != std::string::npos) return std::string(kNameOutsideCodePage);
  if (!FitsInPath(folder.size() + name.size())) return std::string(kPathTooLong);
  return std::nullopt;
}

DWORD WriteAll(HANDLE file, const void* data, DWORD size) {
  DWORD put = 0;
  if (!WriteFile(file, data, size, &put, NULL)) {
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT;
  }
  return put == size ? 0 : ERROR_DISK_FULL;
}

std::string SystemMessage(DWORD code) {
  char* buffer = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<char*>(&buffer), 0, NULL);
  std::string text;
  if (length > 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) LocalFree(buffer);
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "Error " + std::to_string(code);
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

CDiskObject::CDiskObject(bool overwriteAll, IRunCallback* run)
    : m_run(run),
      m_overwriteMode(overwriteAll ? OverwriteYesToAll : OverwriteNo) {}


// ---------------------------------------------------------------- paths

std::string CDiskObject::JoinPath(const std::string& first, const std::string& second) {
  if (first.empty()) return second;
  bool firstHas = first.back() == '\\' || first.back() == '/';
  bool secondHas = !second.empty() && (second[0] == '\\' || second[0] == '/');
  if (firstHas && secondHas) return first + second.substr(1);
  if (firstHas || secondHas) return first + second;
  return first + "\\" + second;
}

void CDiskObject::QualifyPath(std::string& path) {
  path = WithBackslashes(path);
  // A network path is as absolute as a drive path; a drive would break it.
  if (HasDriveLetter(path) || IsNetworkPath(path)) return;

  std::string current = CurrentFolder();
  if (path.compare(0, 3, "..\\") == 0) {
    size_t rootLength = RootLength(current);
    size_t rest = 0;
    while (path.compare(rest, 3, "..\\") == 0) {
      rest += 3;
      size_t slash = current.find_last_of('\\');
      if (slash != std::string::npos && slash >= rootLength) current.erase(slash);
    }
    path = current + "\\" + path.substr(rest);
  } else if (!path.empty() && path[0] == '\\') {
    path = current.substr(0, RootLength(current)) + path;
  } else {
    path = current + "\\" + path;
  }
}

void CDiskObject::QualifyFolderPath(std::string& path) {
  path = WithBackslashes(path);
  if (!path.empty() && path.back() != '\\') path += '\\';
  if (!IsNetworkPath(path)) QualifyPath(path);
}

std::string CDiskObject::FolderOf(const std::string& path) {
  std::string qualified = path;
  QualifyPath(qualified);
  size_t slash = qualified.find_last_of('\\');
  return slash == std::string::npos ? std::string() : qualified.substr(0, slash);
}

std::string CDiskObject::FileNameOf(const std::string& path) {
  std::string qualified = path;
  QualifyPath(qualified);
  size_t slash = qualified.find_last_of('\\');
  return slash == std::string::npos ? std::string() : qualified.substr(slash + 1);
}

// ---------------------------------------------------------------- errors

void CDiskObject::SetSystemError(DWORD code, const std::string& context) {
  m_errorText = SystemMessage(code);
  if (!context.empty()) m_errorText += " " + context;
}

void CDiskObject::SetInternalError() { m_errorText = kInternalError; }

void CDiskObject::ShowProgress(const std::string& text) const {
  if (m_run != nullptr) m_run->SetCurrentPath(text);
}

// ---------------------------------------------------------------- queries

bool CDiskObject::FileExists(const std::string& path) {
  m_errorText.clear();
  if (path.empty()) {
    SetInternalError();
    return false;
  }
  std::string qualified = path;
  QualifyPath(qualified);
  CHandle file(CreateFileA(qualified.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
  return file.Valid();
}

std::uint64_t CDiskObject::FileSize(const std::string& path) {
  m_errorText.clear();
  if (path.empty()) return 0;
  CFind find(path);
  if (!find.Valid()) return 0;
  return CombineSize(find.Data().nFileSizeHigh, find.Data().nFileSizeLow);
}

std::uint64_t CDiskObject::FolderSize(const std::string& folder, bool recursive) {
  m_errorText.clear();
  std::string path = folder;
  QualifyFolderPath(path);
  CFind find(path + "*.*");
  if (!find.Valid()) return 0;
  std::uint64_t total = 0;
  do {
    std::string name = find.Name();
    if (!find.IsFolder()) {
      total += CombineSize(find.Data().nFileSizeHigh, find.Data().nFileSizeLow);
    } else if (recursive && !name.empty() && name[0] != '.') {
      total += FolderSize(path + name, true);
    }
  } while (find.Next());
  return total;
}

// ---------------------------------------------------------------- listing

bool CDiskObject::ListFiles(const std::string& pattern, const std::string& folder,
                            std::vector<std::string>& list) {
  m_errorText.clear();
  std::string path = folder;
  QualifyFolderPath(path);
  std::string search = path + pattern;
  CFind find(search);
  if (!find.Valid()) {
    DWORD error = GetLastError();
    if (IsEmptySearch(error)) return true;
    SetSystemError(error, search);
    return false;
  }
  do {
    if (find.IsFolder()) continue;
    list.push_back(find.Name());
    ShowProgress(list.back());
  } while (find.Next());
  return true;
}

bool CDiskObject::ListAllFiles(const std::string& folder, std::vector<std::string>& list) {
  return ListFiles("*.*", folder, list);
}

bool CDiskObject::ListSubfolders(const std::string& folder, std::vector<std::string>& list) {
  m_errorText.clear();
  std::string path = folder;
  QualifyFolderPath(path);
  return ListSubfoldersOf(path, list);
}

bool CDiskObject::ListSubfoldersOf(const std::string& folder, std::vector<std::string>& list,
                                   std::vector<CFailedFile>* leftOut,
                                   std::vector<std::string>* links) {
  std::string search = folder + "*.*";
  CFind find(search);
  if (!find.Valid()) {
    DWORD error = GetLastError();
    if (IsEmptySearch(error)) return true;
    SetSystemError(error, search);
    return false;
  }
  do {
    std::string name = find.Name();
    if (!find.IsFolder() || IsDotEntry(name)) continue;
    if (leftOut != nullptr) {
      if (std::optional<std::string> why = UncopyableName(folder, name)) {
        leftOut->push_back({folder + name + "\\", *why});
        continue;
      }
    }
    std::string subfolder = folder + name + "\\";
    if (links != nullptr && (find.Data().dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      links->push_back(subfolder);
      continue;
    }
    list.push_back(subfolder);
    ShowProgress(name);
    if (!ListSubfoldersOf(subfolder, list, leftOut, links)) return false;
  } while (find.Next());
  return true;
}

// ---------------------------------------------------------------- creating

bool CDiskObject::CreateFolderTree(const std::string& folder) {
  m_errorText.clear();
  if (folder.empty()) {
    SetInternalError();
    return false;
  }
  std::string path = folder;
  QualifyFolderPath(path);

  // For a network path the root is "\\server" and the share is the first
  // folder, which exists or can't be made.
  size_t rootLength = 0;
  if (IsNetworkPath(path)) {
    size_t server = path.find('\\', 2);
    rootLength = server == std::string::npos ? path.size() : server;
  } else if (HasDriveLetter(path)) {
    rootLength = 2;
  }
  // Each folder along the way, from the first below the root.
  std::vector<std::string> steps;
  std::string reached = path.substr(0, rootLength);
  size_t position = rootLength;
  while (position < path.size()) {
    size_t end = path.find('\\', position);
    if (end == std::string::npos) end = path.size();
    std::string name = path.substr(position, end - position);
    position = end + 1;
    if (name.empty()) continue;
    reached += "\\" + name;
    steps.push_back(reached);
    ShowProgress(reached);
  }
  // Mostly the folder exists, or only its last step is missing: one call
  // settles either, where a walk would look up every step, and a missing
  // name costs Wine a scan of its folder.
  if (steps.empty() || CreateDirectoryA(steps.back().c_str(), NULL) || IsFolder(steps.back()))
    return true;
  for (const std::string& step : steps) {
    if (IsFolder(step)) continue;
    if (!CreateDirectoryA(step.c_str(), NULL)) {
      DWORD error = GetLastError();
      if (IsFolder(step)) continue;  // someone else made it meanwhile
      SetSystemError(error, step);
      return false;
    }
  }
  return true;
}

bool CDiskObject::CreateEmptyFile(const std::string& path) {
  m_errorText.clear();
  if (path.empty()) {
    SetInternalError();
    return false;
  }
  std::string qualified = path;
  QualifyPath(qualified);
  if (!CreateFolderTree(FolderOf(qualified))) return false;
  ShowProgress(qualified);
  CHandle file(CreateFileA(qualified.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL));
  if (!file.Valid()) {
    SetSystemError(GetLastError(), qualified);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- copying

bool CDiskObject::TryOpen(const std::string& path, bool forWriting, bool replace,
                          CHandle& handle) {
  if (!forWriting) {
    handle.Reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_NORMAL,
                             NULL));
    return handle.Valid();
  }
  DWORD disposition = !replace ? CREATE_NEW : m_keepExisting ? OPEN_ALWAYS : CREATE_ALWAYS;
  return OpenAtOnce(path, disposition, handle) || OpenAfterLooking(path, disposition, handle);
}

// Nearly every target is new, and looking for a name that isn't there costs
// Wine a scan of its folder: the create call goes first. It settles the
// open when it made the file, or when it opened (without emptying) a plain
// file that may be replaced as it is. Anything else - a folder or a
// protected file of that name, or an error - is left, with nothing open and
// nothing changed, to OpenAfterLooking.
bool CDiskObject::OpenAtOnce(const std::string& path, DWORD disposition, CHandle& handle) {
  DWORD first = disposition == OPEN_ALWAYS ? OPEN_ALWAYS : CREATE_NEW;
  SetLastError(ERROR_SUCCESS);  // not every Windows clears it for a file made new
  handle.Reset(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, first,
                           FILE_FLAG_BACKUP_SEMANTICS | m_createAttributes, NULL));
  if (!handle.Valid()) return false;
  bool existed = first == OPEN_ALWAYS && GetLastError() == ERROR_ALREADY_EXISTS;
  if (existed) {
    DWORD existing = GetFileAttributesA(path.c_str());
    if (existing == INVALID_FILE_ATTRIBUTES ||
        (existing & (FILE_ATTRIBUTE_DIRECTORY | kProtectingAttributes))) {
      handle.Reset();
      return false;
    }
  }
  m_createdNew = !existed;
  m_openedExisting = existed;
  return true;
}

// The open that looks at the target first: a folder of that name is refused
// (opening without emptying would open it), and a protected file becomes a
// plain one before it is replaced.
bool CDiskObject::OpenAfterLooking(const std::string& path, DWORD disposition, CHandle& handle) {
  DWORD existing = GetFileAttributesA(path.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY)) {
    handle.Reset();
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (disposition != CREATE_NEW && existing != INVALID_FILE_ATTRIBUTES &&
      (existing & kProtectingAttributes))
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  handle.Reset(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, disposition,
                           FILE_FLAG_BACKUP_SEMANTICS | m_createAttributes, NULL));
  m_createdNew = handle.Valid() && existing == INVALID_FILE_ATTRIBUTES;
  m_openedExisting = handle.Valid() && disposition == OPEN_ALWAYS &&
                     GetLastError() == ERROR_ALREADY_EXISTS;
  return handle.Valid();
}

bool CDiskObject::OpenFile(const std::string& path, bool forWriting, CHandle& handle) {
  handle.Reset();
  m_lastOpenError = ERROR_SUCCESS;
  if (Cancelled()) return false;

  bool replace = forWriting && m_overwriteMode == OverwriteYesToAll;
  for (;;) {
    if (TryOpen(path, forWriting, replace, handle)) return true;
    DWORD error = GetLastError();

    if (forWriting && !replace && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)) {
      m_lastOpenError = error;
      // The mode may have been set to replace by the owner since this call began.
      ExistingTarget decision = DecideOnExisting(path, m_overwriteMode, m_run);
      if (decision == ExistingTarget::Keep) return true;
      if (decision == ExistingTarget::Cancel) {
        m_stop->Request();
        return false;
      }
      replace = true;
      continue;
    }

    m_lastOpenError = error;
    SetSystemError(error, std::string(forWriting ? kOpenForWriting : kOpenForReading) + path + ".");
    // A target in use is replaced at the next restart; a source in use is a
    // file the copy would silently lack, so it gets the question like any
    // other file that can't be read.
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
        (forWriting && IsInUse(error)) || EndsWithNoCase(path, kDesktopIni))
      return true;

    // Retry opens the same way again, so a file that has appeared in the
    // meantime still goes through the overwrite question.
    int answer = AskFileError(m_run, m_errorText, kFileOpenError, MB_ABORTRETRYIGNORE | MB_ICONERROR);
    if (answer == IDRETRY) continue;
    if (answer == IDIGNORE) return true;
    m_stop->Request();
    return false;
  }
}

// The source is opened and its first block read before the target is
// touched, so a source that can't be read never empties a target. Nothing
// when the copy goes on, else the copy's result.
std::optional<bool> CDiskObject::ReadFirstBlock(const std::string& source, CHandle& input,
                                                std::vector<char>& buffer, DWORD& got) {
  if (!OpenFile(source, false, input)) return false;
  if (!input.Valid()) {
    // Gone meanwhile, or a desktop.ini: nothing worth reporting. Anything
    // else was ignored by the user and is missing from the copy.
    if (m_lastOpenError == ERROR_FILE_NOT_FOUND || m_lastOpenError == ERROR_PATH_NOT_FOUND ||
        EndsWithNoCase(source, kDesktopIni))
      return true;
    m_leftOut = true;
    return false;
  }
  if (!ReadFile(input.Get(), buffer.data(), kBlockSize, &got, NULL)) {
    SetSystemError(GetLastError(), kReadFrom + source + ".");
    AskFileError(m_run, m_errorText, kFileReadError, MB_OK | MB_ICONERROR);
    m_leftOut = true;
    return false;
  }
  return std::nullopt;
}

// An existing target is opened without emptying it: it only gives way to a
// complete copy, made beside it, since any later read or any write may fail.
// Nothing when the copy goes on (by `route`), else its result.
std::optional<bool> CDiskObject::OpenTarget(const std::string& target, DWORD createAttributes,
                                            CHandle& output, CopyRoute& route) {
  m_keepExisting = true;
  m_createAttributes = createAttributes;
  bool opened = OpenFile(target, true, output);
  m_keepExisting = false;
  m_createAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!opened) return false;
  route = CopyRoute::Direct;
  if (!output.Valid()) {
    // Kept at the user's word, or a desktop.ini that needn't be replaced.
    if (m_lastOpenError == ERROR_FILE_EXISTS || m_lastOpenError == ERROR_ALREADY_EXISTS ||
        EndsWithNoCase(target, kDesktopIni))
      return true;
    // A target that couldn't be written and was let go is missing from the
    // copy, the same as a source that couldn't be read.
    if (!IsInUse(m_lastOpenError)) {
      m_leftOut = true;
      return false;
    }
    route = CopyRoute::AtRestart;
  } else if (m_openedExisting) {
    route = CopyRoute::Swap;
  }
  return std::nullopt;
}

// Points `output` at a temporary file beside the target. For a swap the
// target stays open, and so locked, in `held` until the copy is complete.
bool CDiskObject::WriteBeside(const std::string& target, CopyRoute route, CHandle& output,
                              CHandle& held, CTempFile& temporary) {
  if (!temporary.Create(FolderOf(target), route == CopyRoute::AtRestart ? kInUsePrefix : kCopyPrefix)) {
    SetSystemError(GetLastError(), target);
    return false;
  }
  CHandle file(CreateFileA(temporary.Path().c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL));
  if (!file.Valid()) {
    SetSystemError(GetLastError(), kOpenForWriting + temporary.Path() + ".");
    return false;
  }
  held = std::move(output);
  if (route == CopyRoute::AtRestart) held.Reset();
  output = std::move(file);
  return true;
}

// Writes the block already read and every one after it.
bool CDiskObject::CopyBlocks(HANDLE input, HANDLE output, std::vector<char>& buffer, DWORD got,
                             const std::string& source, const std::string& target) {
  for (;;) {
    DWORD error = got > 0 ? WriteAll(output, buffer.data(), got) : 0;
    if (error != 0) {
      SetSystemError(error, kWriteTo + target + ".");
      AskFileError(m_run, m_errorText, kFileWriteError, MB_OK | MB_ICONERROR);
      return false;
    }
    if (got < kBlockSize || Cancelled()) return true;
    if (!ReadFile(input, buffer.data(), kBlockSize, &got, NULL)) {
      SetSystemError(GetLastError(), kReadFrom + source + ".");
      AskFileError(m_run, m_errorText, kFileReadError, MB_OK | MB_ICONERROR);
      m_leftOut = true;
      return false;
    }
  }
}

// Only a complete copy may take the target's place; a partial one would
// replace good data with a fragment.
bool CDiskObject::PlaceCopy(CopyRoute route, CTempFile& temporary, const std::string& target,
                            DWORD attributes, DWORD createAttributes) {
  if (route != CopyRoute::Direct && Cancelled()) return false;
  if (route == CopyRoute::AtRestart) {
    SetFileAttributesA(temporary.Path().c_str(), attributes);
    if (!ReplaceOnReboot(temporary.Path(), target)) {
      SetSystemError(GetLastError(), target);
      return false;
    }
    temporary.Keep();
    return true;
  }
  if (route == CopyRoute::Swap) {
    if (!MoveFileOver(temporary.Path(), target)) {
      SetSystemError(GetLastError(), kWriteTo + target + ".");
      return false;
    }
    temporary.Keep();
  }
  // A file made new has the attributes its create call gave it already.
  if (route != CopyRoute::Direct || !m_createdNew ||
      attributes != AttributesOfNewFile(createAttributes))
    SetFileAttributesA(target.c_str(), attributes);
  return !Cancelled();
}

namespace {

// The root of a path's drive ("C:\\") or network share ("\\\\server\\share\\");
// empty for a path that names neither.
std::string VolumeRoot(const std::string& path) {
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') return path.substr(0, 3);
  if (path.compare(0, 2, "\\\\") != 0) return std::string();
  size_t share = path.find('\\', 2);
  if (share == std::string::npos) return std::string();
  size_t end = path.find('\\', share + 1);
  return end == std::string::npos ? path + '\\' : path.substr(0, end + 1);
}

// Whether the drive or network share of the path can no longer be read.
bool VolumeGone(const std::string& path) {
  std::string root = VolumeRoot(path);
  return !root.empty() &&
         !GetVolumeInformationA(root.c_str(), NULL, 0, NULL, NULL, NULL, NULL, 0);
}

}  // namespace

bool CDiskObject::CopyOneFile(const std::string& source, const std::string& target) {
  m_leftOut = false;
  m_sourceGone = false;
  if (Cancelled()) return false;
  DWORD attributes = GetFileAttributesA(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = GetLastError();
    m_errorText.clear();
    // A file deleted since the listing isn't missed; one whose whole drive
    // went (a set on a disk taken away) is.
    if (VolumeGone(source)) {
      SetSystemError(error, kDriveGone + source);
      return false;
    }
    m_sourceGone = true;
    return false;
  }

  std::vector<char>& buffer = m_block;
  if (buffer.size() != kBlockSize) buffer.resize(kBlockSize);
  DWORD got = 0;
  CTempFile temporary;  // declared first: the handles on it close before it goes
  CHandle input, output, held;
  if (std::optional<bool> done = ReadFirstBlock(source, input, buffer, got)) return *done;
  CopyRoute route;
  DWORD createAttributes = CreateAttributesFor(attributes);
  if (std::optional<bool> done = OpenTarget(target, createAttributes, output, route)) return *done;
  if (route != CopyRoute::Direct && !WriteBeside(target, route, output, held, temporary))
    return false;

  // Written in place only when the target is new: a part of it, after a
  // failure or a stop, is no file worth keeping.
  bool copied = CopyBlocks(input.Get(), output.Get(), buffer, got, source, target);
  if (route == CopyRoute::Direct && (!copied || Cancelled())) {
    output.Reset();
    DeleteFileA(target.c_str());
    return false;
  }
  if (!copied) return false;
  input.Reset();
  output.Reset();
  held.Reset();
  return PlaceCopy(route, temporary, target, attributes, createAttributes);
}

bool CDiskObject::CopyFileAs(const std::string& source, const std::string& target) {
  m_errorText.clear();
  if (source.empty() || target.empty()) {
    SetInternalError();
    return false;
  }
  std::string from = source;
  std::string to = target;
  QualifyPath(from);
  QualifyPath(to);
  if (!CreateFolderTree(FolderOf(to))) return false;
  ShowProgress(from);
  return CopyOneFile(from, to);
}

bool CDiskObject::CopyFileToFolder(const std::string& file, const std::string& folder) {
  m_errorText.clear();
  if (file.empty() || folder.empty()) {
    SetInternalError();
    return false;
  }
  std::string from = file;
  std::string to = folder;
  QualifyPath(from);
  QualifyFolderPath(to);
  if (!CreateFolderTree(to)) return false;
  ShowProgress(from);
  return CopyOneFile(from, to + FileNameOf(from));
}

namespace {

// A folder's files are copied a batch at a time: most go to targets that
// don't exist yet, which the file threads make and fill side by side.
const std::size_t kBatchFiles = 32;

// The copy of a file to a target that doesn't exist yet, made on a file
// thread where no question can be asked: false at the first thing in the
// way (the target exists, the source can't be read, a write fails, the run
// stops), with nothing left behind, so that the usual copy can take over
// and ask what it asks.
bool CopyToNewFile(const std::string& source, const std::string& target,
                   std::vector<char>& buffer, const CStopRequest& stop) {
  DWORD attributes = GetFileAttributesA(source.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      stop.Requested())
    return false;
  CHandle input(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            NULL, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_NORMAL, NULL));
  if (!input.Valid()) return false;
  DWORD createAttributes = CreateAttributesFor(attributes);
  CHandle output(CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                             FILE_FLAG_BACKUP_SEMANTICS | createAttributes, NULL));
  if (!output.Valid()) return false;
  buffer.resize(kBlockSize);
  bool copied = true;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(input.Get(), buffer.data(), kBlockSize, &got, NULL) ||
        (got > 0 && WriteAll(output.Get(), buffer.data(), got) != 0) ||
        stop.Requested()) {
      copied = false;
      break;
    }
    if (got < kBlockSize) break;
  }
  output.Reset();
  if (!copied) {
    DeleteFileA(target.c_str());
    return false;
  }
  if (attributes != AttributesOfNewFile(createAttributes))
    SetFileAttributesA(target.c_str(), attributes);
  return true;
}

}  // namespace

void CDiskObject::CopyToNewFiles(const std::vector<std::string>& sources,
                                 const std::vector<std::string>& targets,
                                 std::vector<char>& copied) {
  copied.assign(sources.size(), 0);
  if (sources.size() < 2) return;  // nothing to share out
  if (!m_calls) {
    m_calls.reset(new CParallelCalls(FileThreads()));
    m_blocks.reset(new CCallResources<std::vector<char>>);
  }
  m_calls->Run(sources.size(), [&](std::size_t i) {
    if (sources[i].empty()) return;  // left out
    std::vector<char>& block = m_blocks->Take();
    copied[i] = CopyToNewFile(sources[i], targets[i], block, *m_stop) ? 1 : 0;
    m_blocks->Give(block);
  });
}

bool CDiskObject::CopyFolderFiles(const std::string& sourceFolder,
                                  const std::string& targetFolder) {
  m_errorText.clear();
  if (sourceFolder.empty() || targetFolder.empty()) {
    SetInternalError();
    return false;
  }
  std::string from = sourceFolder;
  std::string to = targetFolder;
  QualifyFolderPath(from);
  QualifyFolderPath(to);
  std::vector<std::string> names;
  if (!ListAllFiles(from, names)) return false;
  if (!CreateFolderTree(to)) return false;
  std::vector<std::string> sources, targets;
  std::vector<char> copied;
  for (std::size_t first = 0; first < names.size(); first += kBatchFiles) {
    std::size_t end = std::min(names.size(), first + kBatchFiles);
    sources.clear();
    targets.clear();
    for (std::size_t i = first; i < end; ++i) {
      // Left out and named, not copied under a name that isn't its own.
      std::optional<std::string> why = UncopyableName(from, names[i]);
      if (!why) why = UncopyableName(to, names[i]);
      if (why) {
        m_failedFiles.push_back({from + names[i], *why});
        names[i].clear();
      }
      sources.push_back(names[i].empty() ? std::string() : from + names[i]);
      targets.push_back(names[i].empty() ? std::string() : to + names[i]);
    }
    CopyToNewFiles(sources, targets, copied);
    // What the threads didn't copy takes the usual way, in the list's order.
    for (std::size_t i = 0; i < sources.size(); ++i) {
      if (sources[i].empty()) continue;
      ShowProgress(names[first + i]);
      if (copied[i]) continue;
      if (CopyOneFile(sources[i], targets[i])) continue;
      if (m_sourceGone && !Cancelled()) continue;  // gone since the listing
      if (!m_leftOut || Cancelled()) return false;
      m_failedFiles.push_back({sources[i], m_errorText});
    }
  }
  m_errorText.clear();
  return true;
}

bool CDiskObject::CopyFolder(const std::string& sourceFolder, const std::string& targetFolder) {
  m_errorText.clear();
  if (sourceFolder.empty() || targetFolder.empty()) {
    SetInternalError();
    return false;
  }
  std::string to = targetFolder;
  QualifyFolderPath(to);
  CreateDirectoryA(to.c_str(), NULL);  // CopyFolderFiles makes the whole tree if this fails
  return CopyFolderFiles(sourceFolder, to);
}

bool CDiskObject::CopyFolderTree(const std::string& sourceFolder, const std::string& targetFolder,
                                 const std::string& excluded) {
  m_errorText.clear();
  if (sourceFolder.empty() || targetFolder.empty()) {
    SetInternalError();
    return false;
  }
  std::string from = sourceFolder;
  std::string to = targetFolder;
  std::string skip = excluded;
  QualifyFolderPath(from);
  QualifyFolderPath(to);
  if (!skip.empty()) QualifyFolderPath(skip);

  std::vector<std::string> folders(1, from);
  if (!ListSubfoldersOf(from, folders, &m_failedFiles)) return false;
  for (const std::string& folder : folders) {
    // The excluded folder (a set inside the folder being saved) goes with
    // everything below it, or the set would be copied into itself.
    if (!skip.empty() && StartsWithText(folder, skip)) continue;
    std::string target = to + folder.substr(from.size());
    // A target deeper than Windows allows leaves that folder out, not the tree.
    if (!FitsInPath(target.size())) {
      m_failedFiles.push_back({folder, kPathTooLong});
      continue;
    }
    if (!CopyFolderFiles(folder, target)) return false;
  }
  return true;
}

// ---------------------------------------------------------------- removing

bool CDiskObject::RemoveFile(const std::string& path) {
  m_errorText.clear();
  if (path.empty()) {
    SetInternalError();
    return false;
  }
  std::string qualified = path;
  QualifyPath(qualified);
  if (!DeleteFileA(qualified.c_str())) {
    SetSystemError(GetLastError(), qualified);
    return false;
  }
  return true;
}

bool CDiskObject::RemoveFolderFiles(const std::string& folder) {
  m_errorText.clear();
  // An empty path would mean the current directory: refuse it.
  if (folder.empty()) {
    SetInternalError();
    return false;
  }
  std::string path = folder;
  QualifyFolderPath(path);
  std::vector<std::string> names;
  if (!ListAllFiles(path, names)) return false;
  for (const std::string& name : names) {
    ShowProgress(name);
    std::string file = path + name;
    if (!DeleteFileA(file.c_str())) {
      SetSystemError(GetLastError(), file);
      return false;
    }
  }
  return true;
}

bool CDiskObject::RemoveFolder(const std::string& folder) {
  m_errorText.clear();
  if (folder.empty()) {
    SetInternalError();
    return false;
  }
  std::string path = folder;
  QualifyFolderPath(path);
  if (!RemoveFolderFiles(path)) return false;
  ShowProgress(path);
  if (!RemoveDirectoryA(path.c_str())) {
    SetSystemError(GetLastError(), path);
    return false;
  }
  return true;
}

bool CDiskObject::RemoveFolderTree(const std::string& folder) {
  m_errorText.clear();
  if (folder.empty()) {
    SetInternalError();
    return false;
  }
  std::string path = folder;
  QualifyFolderPath(path);
  std::vector<std::string> folders, links;
  if (!ListSubfoldersOf(path, folders, nullptr, &links)) return false;
  // A junction or folder link is taken away itself: what it leads to
  // belongs elsewhere and is never emptied.
  for (const std::string& link : links) {
    ShowProgress(link);
    if (!RemoveDirectoryA(link.substr(0, link.size() - 1).c_str())) {
      SetSystemError(GetLastError(), link);
      return false;
    }
  }
  // Deeper folders were listed after their parents.
  for (auto it = folders.rbegin(); it != folders.rend(); ++it)
    if (!RemoveFolder(*it)) return false;
  return RemoveFolder(path);
}
