// What each step a copy or a restore takes per file costs, beside the bytes.
// Makes a tree of small files in the temporary folder, runs each step over
// all of them (the fastest of three passes counts) and prints one table:
// microseconds per file and the share of the bare copy of one file (the
// copy floor_copy makes: open the source, read it, create the target, write
// it, close both). Whatever the steps make goes with the tree at the end,
// also after a failure.
//   file_steps [files]        default 2000 files of 4 KiB
// Exits with 0 when every step ran, 1 at the first call that failed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/Win32Handle.h"
#include "support/TestSupport.h"

namespace {

const DWORD kBlock = 1024 * 1024;  // the copy's buffer, as floor_copy and the project use
const DWORD kFileSize = 4 * 1024;
const size_t kFolders = 8;
const int kPasses = 3;
const size_t kOpenBatch = 200;  // copies the steps on open handles keep open at once
const size_t kLogLine = 100;
const size_t kLogBuffer = 64 * 1024;

// A stop from the console ends the run at the next pass, so the tree still goes.
volatile LONG g_stopAsked = 0;

BOOL WINAPI OnConsoleStop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  InterlockedExchange(&g_stopAsked, 1);
  return TRUE;
}

[[noreturn]] void Fail(const char* what, const std::string& path) {
  throw std::runtime_error(std::string("can't ") + what + " " + path + " (" + std::to_string(GetLastError()) +
                           ")");
}

inline void Check(bool done, const char* what, const std::string& path) {
  if (!done) Fail(what, path);
}

// Adds up the time between each Start and the Stop after it.
class CTimer {
 public:
  void Start() { QueryPerformanceCounter(&m_started); }
  void Stop() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    m_ticks += now.QuadPart - m_started.QuadPart;
  }
  double Seconds() const {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(m_ticks) / double(frequency.QuadPart);
  }

 private:
  LARGE_INTEGER m_started = {};
  LONGLONG m_ticks = 0;
};

// One file of the tree and the names the steps give it elsewhere. The
// "existing" copy stays for the whole run, "fresh" is made new by each pass
// of the steps that need a new target, and neither "temporary" nor
// "missing" exists between steps.
struct CFileNames {
  std::string source;
  std::string existing;
  std::string temporary;  // beside `existing`
  std::string missing;    // beside `existing`
  std::string fresh;
  std::string freshFolder;
};

CHandle OpenSource(const std::string& path) {
  CHandle input(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL));
  Check(input.Valid(), "open", path);
  return input;
}

CHandle OpenTarget(const std::string& path, DWORD disposition) {
  CHandle output(CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL));
  Check(output.Valid(), "open for writing", path);
  return output;
}

void CopyBytes(HANDLE input, HANDLE output, std::vector<char>& block, const std::string& target) {
  for (;;) {
    DWORD read = 0, written = 0;
    Check(ReadFile(input, block.data(), kBlock, &read, NULL), "read the source of", target);
    if (read == 0) return;
    Check(WriteFile(output, block.data(), read, &written, NULL) && written == read, "write", target);
  }
}

void CopyByBlocks(const std::string& source, const std::string& target, DWORD disposition,
                  std::vector<char>& block) {
  CHandle input = OpenSource(source);
  CHandle output = OpenTarget(target, disposition);
  CopyBytes(input.Get(), output.Get(), block, target);
}

// The tree the steps work on: sources, an existing copy of each, and a
// folder for new copies, each with the same subfolders.
class CBenchTree {
 public:
  CBenchTree(const std::string& root, size_t count) : m_block(kBlock) {
    for (const char* side : {"source", "existing", "fresh"}) MakeFolder(root + side);
    for (size_t folder = 0; folder < std::min(count, kFolders); ++folder) {
      std::string name = "\\folder" + std::to_string(folder) + "\\";
      m_sourceFolders.push_back(root + "source" + name);
      m_existingFolders.push_back(root + "existing" + name);
      m_freshFolders.push_back(root + "fresh" + name);
      MakeFolder(m_sourceFolders.back());
      MakeFolder(m_existingFolders.back());
      MakeFolder(m_freshFolders.back());
    }
    for (size_t i = 0; i < count; ++i) m_files.push_back(Names(i));
    std::fill(m_block.begin(), m_block.begin() + kFileSize, 'q');
    for (const CFileNames& file : m_files) {
      WriteSource(file.source);
      CopyByBlocks(file.source, file.existing, CREATE_NEW, m_block);
    }
  }

  const std::vector<CFileNames>& Files() const { return m_files; }
  const std::vector<std::string>& SourceFolders() const { return m_sourceFolders; }
  std::vector<char>& Block() { return m_block; }

  // Takes away what the last pass copied, so a new one makes new files.
  void EmptyFresh() {
    for (const CFileNames& file : m_files)
      Check(DeleteFileA(file.fresh.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND, "delete", file.fresh);
  }

 private:
  static void MakeFolder(const std::string& path) {
    Check(CreateDirectoryA(path.c_str(), NULL), "create", path);
  }

  CFileNames Names(size_t i) const {
    size_t folder = i % m_sourceFolders.size();
    std::string name = "file" + std::to_string(i);
    CFileNames names;
    names.source = m_sourceFolders[folder] + name + ".dat";
    names.existing = m_existingFolders[folder] + name + ".dat";
    names.temporary = m_existingFolders[folder] + "~" + name + ".tmp";
    names.missing = m_existingFolders[folder] + name + ".new";
    names.fresh = m_freshFolders[folder] + name + ".dat";
    names.freshFolder = m_freshFolders[folder];
    names.freshFolder.pop_back();  // CreateDirectoryA is given the folder's own name
    return names;
  }

  void WriteSource(const std::string& path) {
    CHandle output = OpenTarget(path, CREATE_NEW);
    DWORD written = 0;
    Check(WriteFile(output.Get(), m_block.data(), kFileSize, &written, NULL) && written == kFileSize, "write",
          path);
  }

  std::vector<char> m_block;
  std::vector<std::string> m_sourceFolders, m_existingFolders, m_freshFolders;
  std::vector<CFileNames> m_files;
};

// ---------------------------------------------------------------- steps

using CPass = std::function<void(CBenchTree&, CTimer&)>;

struct CStep {
  const char* name;
  CPass pass;
};

// A step timed over every file of the tree, nothing else in the time.
template <typename Each>
CPass EveryFile(Each each) {
  return [each](CBenchTree& tree, CTimer& timer) {
    const std::vector<CFileNames>& files = tree.Files();
    timer.Start();
    for (const CFileNames& file : files) each(tree, file);
    timer.Stop();
  };
}

// A step on the handles of a copy just made, as the copy would take it
// before closing them: the copies are made and closed outside the time, a
// batch at a time so that no more than a few hundred files are open.
template <typename Each>
CPass OnOpenCopies(Each each) {
  return [each](CBenchTree& tree, CTimer& timer) {
    tree.EmptyFresh();
    const std::vector<CFileNames>& files = tree.Files();
    for (size_t begin = 0; begin < files.size(); begin += kOpenBatch) {
      size_t end = std::min(files.size(), begin + kOpenBatch);
      std::vector<CHandle> inputs, outputs;
      for (size_t i = begin; i < end; ++i) {
        inputs.push_back(OpenSource(files[i].source));
        outputs.push_back(OpenTarget(files[i].fresh, CREATE_NEW));
        CopyBytes(inputs.back().Get(), outputs.back().Get(), tree.Block(), files[i].fresh);
      }
      timer.Start();
      for (size_t i = begin; i < end; ++i) each(inputs[i - begin].Get(), outputs[i - begin].Get(), files[i]);
      timer.Stop();
    }
  };
}

void ListFolders(CBenchTree& tree, CTimer& timer) {
  size_t listed = 0;
  timer.Start();
  for (const std::string& folder : tree.SourceFolders()) {
    CFind find(folder + "*");
    Check(find.Valid(), "list", folder);
    do ++listed;
    while (find.Next());
    Check(GetLastError() == ERROR_NO_MORE_FILES, "list", folder);
  }
  timer.Stop();
  if (listed != tree.Files().size() + 2 * tree.SourceFolders().size())
    throw std::runtime_error("the listing missed files");
}

FILETIME SourceTime(const CBenchTree& tree) {
  FILETIME written;
  CHandle input = OpenSource(tree.Files().front().source);
  Check(GetFileTime(input.Get(), NULL, NULL, &written), "read the time of", tree.Files().front().source);
  return written;
}

CHandle OpenLog(const CBenchTree& tree) {
  std::string path = tree.Files().front().existing + ".log";
  return OpenTarget(path, CREATE_ALWAYS);  // goes with the tree; a later pass empties it again
}

std::string LogLine() {
  std::string line = "Copied C:\\Documents and Settings\\user\\Application Data\\Program\\settings.dat";
  line.resize(kLogLine - 2, ' ');
  return line + "\r\n";
}

void LogUnbuffered(CBenchTree& tree, CTimer& timer) {
  CHandle log = OpenLog(tree);
  const std::string line = LogLine();
  timer.Start();
  for (size_t i = 0; i < tree.Files().size(); ++i) {
    DWORD written = 0;
    Check(WriteFile(log.Get(), line.data(), kLogLine, &written, NULL) && written == kLogLine, "write",
          "the log");
  }
  timer.Stop();
}

// Lines gather in memory and go out a buffer at a time, the last one too.
void LogBuffered(CBenchTree& tree, CTimer& timer) {
  CHandle log = OpenLog(tree);
  const std::string line = LogLine();
  std::vector<char> buffer(kLogBuffer);
  size_t used = 0;
  auto flush = [&] {
    DWORD written = 0;
    Check(WriteFile(log.Get(), buffer.data(), DWORD(used), &written, NULL) && written == used, "write",
          "the log");
    used = 0;
  };
  timer.Start();
  for (size_t i = 0; i < tree.Files().size(); ++i) {
    if (used + kLogLine > buffer.size()) flush();
    std::copy(line.begin(), line.end(), buffer.begin() + used);
    used += kLogLine;
  }
  flush();
  timer.Stop();
}

// `written` is the time the steps that set one by path give the files.
std::vector<CStep> Steps(FILETIME written) {
  return {
      {"bare copy (open, read, create, write, close)",
       [](CBenchTree& tree, CTimer& timer) {
         tree.EmptyFresh();
         EveryFile([](CBenchTree& tree, const CFileNames& file) {
           CopyByBlocks(file.source, file.fresh, CREATE_NEW, tree.Block());
         })(tree, timer);
       }},
      {"CreateFileA + CloseHandle, source, no read",
       EveryFile([](CBenchTree&, const CFileNames& file) { OpenSource(file.source); })},
      {"GetFileAttributesA, source", EveryFile([](CBenchTree&, const CFileNames& file) {
         Check(GetFileAttributesA(file.source.c_str()) != INVALID_FILE_ATTRIBUTES, "find", file.source);
       })},
      {"GetFileAttributesExA, source", EveryFile([](CBenchTree&, const CFileNames& file) {
         WIN32_FILE_ATTRIBUTE_DATA data;
         Check(GetFileAttributesExA(file.source.c_str(), GetFileExInfoStandard, &data), "find", file.source);
       })},
      {"FindFirstFileA/FindNextFileA listing", ListFolders},
      {"GetFileAttributesA, target that doesn't exist", EveryFile([](CBenchTree&, const CFileNames& file) {
         Check(GetFileAttributesA(file.missing.c_str()) == INVALID_FILE_ATTRIBUTES &&
                   GetLastError() == ERROR_FILE_NOT_FOUND,
               "miss", file.missing);
       })},
      {"GetFileAttributesA, target that exists", EveryFile([](CBenchTree&, const CFileNames& file) {
         Check(GetFileAttributesA(file.existing.c_str()) != INVALID_FILE_ATTRIBUTES, "find", file.existing);
       })},
      {"GetFileTime + SetFileTime on open handles",
       OnOpenCopies([](HANDLE input, HANDLE output, const CFileNames& file) {
         FILETIME created, changed;
         Check(GetFileTime(input, &created, NULL, &changed), "read the times of", file.source);
         Check(SetFileTime(output, &created, NULL, &changed), "set the times of", file.fresh);
       })},
      {"SetFileTime by path (open, set, close)", EveryFile([written](CBenchTree&, const CFileNames& file) {
         CHandle output = OpenTarget(file.existing, OPEN_EXISTING);
         Check(SetFileTime(output.Get(), NULL, NULL, &written), "set the time of", file.existing);
       })},
      {"GetFileInformationByHandle on open handle",
       OnOpenCopies([](HANDLE input, HANDLE, const CFileNames& file) {
         BY_HANDLE_FILE_INFORMATION information;
         Check(GetFileInformationByHandle(input, &information), "read about", file.source);
       })},
      {"SetFileAttributesA by path", EveryFile([](CBenchTree&, const CFileNames& file) {
         Check(SetFileAttributesA(file.existing.c_str(), FILE_ATTRIBUTE_ARCHIVE), "set the attributes of",
               file.existing);
       })},
      {"CreateDirectoryA of an existing folder", EveryFile([](CBenchTree&, const CFileNames& file) {
         Check(!CreateDirectoryA(file.freshFolder.c_str(), NULL) && GetLastError() == ERROR_ALREADY_EXISTS,
               "find", file.freshFolder);
       })},
      {"copy to temporary name, MoveFileExA over target",
       EveryFile([](CBenchTree& tree, const CFileNames& file) {
         CopyByBlocks(file.source, file.temporary, CREATE_NEW, tree.Block());
         Check(MoveFileExA(file.temporary.c_str(), file.existing.c_str(), MOVEFILE_REPLACE_EXISTING),
               "replace", file.existing);
       })},
      {"copy over existing target, CREATE_ALWAYS", EveryFile([](CBenchTree& tree, const CFileNames& file) {
         CopyByBlocks(file.source, file.existing, CREATE_ALWAYS, tree.Block());
       })},
      {"copy over existing target, TRUNCATE_EXISTING",
       EveryFile([](CBenchTree& tree, const CFileNames& file) {
         CopyByBlocks(file.source, file.existing, TRUNCATE_EXISTING, tree.Block());
       })},
      {"CopyFileA to a new target",
       [](CBenchTree& tree, CTimer& timer) {
         tree.EmptyFresh();
         EveryFile([](CBenchTree&, const CFileNames& file) {
           Check(CopyFileA(file.source.c_str(), file.fresh.c_str(), TRUE), "copy to", file.fresh);
         })(tree, timer);
       }},
      {"GetFullPathNameA", EveryFile([](CBenchTree&, const CFileNames& file) {
         char full[MAX_PATH];
         char* name = NULL;
         DWORD length = GetFullPathNameA(file.source.c_str(), sizeof full, full, &name);
         Check(length > 0 && length < sizeof full, "qualify", file.source);
       })},
      {"QueryPerformanceCounter (a progress check)", EveryFile([](CBenchTree&, const CFileNames&) {
         LARGE_INTEGER now;
         QueryPerformanceCounter(&now);
       })},
      {"100-byte log line, WriteFile each", LogUnbuffered},
      {"100-byte log line, into a 64 KiB buffer", LogBuffered},
  };
}

double FastestPass(const CStep& step, CBenchTree& tree) {
  double fastest = 0;
  for (int pass = 0; pass < kPasses; ++pass) {
    if (g_stopAsked) throw std::runtime_error("stopped");
    CTimer timer;
    step.pass(tree, timer);
    if (pass == 0 || timer.Seconds() < fastest) fastest = timer.Seconds();
  }
  return fastest;
}

std::string WineVersion() {
  CLibrary ntdll("ntdll.dll");
  auto version = ntdll.Find<const char*(CDECL*)()>("wine_get_version");
  return version != nullptr ? std::string(", Wine ") + version() : std::string();
}

void PrintTable(CBenchTree& tree) {
  const size_t files = tree.Files().size(), folders = tree.SourceFolders().size();
  // Looking up a name that isn't there costs more the more the folder holds,
  // so the title says how full the folders are.
  std::printf("%zu files of %lu KiB, %zu to a folder, fastest of %d passes%s\n", files, kFileSize / 1024,
              (files + folders - 1) / folders, kPasses, WineVersion().c_str());
  double copy = 0;
  for (const CStep& step : Steps(SourceTime(tree))) {
    double perFile = FastestPass(step, tree) / double(files) * 1e6;
    if (copy == 0) copy = perFile;  // the bare copy comes first
    // The table is read where Wine runs, in a UTF-8 terminal.
    std::printf("%-50s %8.2f \xC2\xB5s  %6.3f of copy\n", step.name, perFile, perFile / copy);
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  long count = 2000;
  if (argc > 2 || (argc == 2 && (count = std::strtol(argv[1], NULL, 10)) <= 0)) {
    std::fprintf(stderr, "usage: file_steps [files]\n");
    return 2;
  }
  SetConsoleCtrlHandler(OnConsoleStop, TRUE);
  try {
    CTemporaryFolder folder;  // declared first: everything in it is closed before it goes
    CBenchTree tree(folder.Path(), size_t(count));
    PrintTable(tree);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "file_steps: %s\n", error.what());
    return 1;
  }
  return 0;
}
