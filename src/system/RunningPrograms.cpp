#include "system/RunningPrograms.h"

#include <tlhelp32.h>

#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/LocaleText.h"
#include "base/Win32Handle.h"
#include "catalogue/Catalogue.h"

namespace {

// What the user sees; the program's fixed wording, keep it as it is.
const char kRunningNotice[] =
    "Quillmark has detected that the following programs are running on your system. It is "
    "strongly recommended to close them before you continue.\n";
const char kClosing[] =
    "Closing all windows of %s. Waiting 10 seconds for process to end...";
const char kSuccess[] = "Success!\n";
const char kCouldNotWait[] = "Couldn't wait for process!\n";
const char kForcing[] = "Failed!\nForcing shutdown...";
const char kFailed[] = "Failed!\n";

const std::size_t kWindowCapacity = 1024;
const DWORD kCloseTimeout = 10000;
const char kNtvdm[] = "NTVDM.EXE";

// The first id buffer of the NT 4.0 walk, doubled while it comes back full.
const DWORD kFirstIdBufferSize = 1024;

#if defined(_WIN32) && !defined(_WIN64)
// The structure sizes the 95 family and NT 4.0 expect of callers.
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32");
#endif

typedef BOOL(WINAPI* EnumProcessesFunction)(DWORD*, DWORD, DWORD*);
typedef BOOL(WINAPI* EnumProcessModulesFunction)(HANDLE, HMODULE*, DWORD, DWORD*);
typedef DWORD(WINAPI* GetModuleBaseNameFunction)(HANDLE, HMODULE, LPSTR, DWORD);
typedef HANDLE(WINAPI* CreateSnapshotFunction)(DWORD, DWORD);
typedef BOOL(WINAPI* ProcessWalkFunction)(HANDLE, PROCESSENTRY32*);
// A 16-bit task inside NTVDM; returning TRUE ends the task walk.
typedef BOOL(WINAPI* TaskVisitor)(DWORD threadId, WORD module16, WORD task16, LPSTR moduleName,
                                  LPSTR fileName, LPARAM context);
typedef INT(WINAPI* EnumTasksFunction)(DWORD processId, TaskVisitor visitor, LPARAM context);

typedef CHeapBlock<DWORD> CIdBuffer;

// Carried through the task walk of one NTVDM process.
struct TaskContext {
  DWORD processId;
  ProcessVisitor visitor;
  LPARAM value;
  DWORD stop;
};

BOOL WINAPI VisitTask(DWORD, WORD, WORD task16, LPSTR, LPSTR fileName, LPARAM context) {
  TaskContext& tasks = *reinterpret_cast<TaskContext*>(context);
  if (tasks.visitor(tasks.processId, task16, fileName != nullptr ? fileName : "", tasks.value))
    return FALSE;
  tasks.stop = 1;
  return TRUE;
}

bool IsNtvdm(const char* name) { return SameText(name, kNtvdm); }

// Hands the 16-bit tasks of an NTVDM process to the visitor; false when
// the visitor asked to stop.
bool VisitTasks(EnumTasksFunction enumTasks, DWORD processId, ProcessVisitor visitor,
                LPARAM value) {
  TaskContext tasks = {processId, visitor, value, 0};
  enumTasks(processId, VisitTask, reinterpret_cast<LPARAM>(&tasks));
  return tasks.stop == 0;
}

// The process ids from PSAPI, in a buffer grown until the list fits. Empty
// when memory or the call fails.
CIdBuffer ReadProcessIds(EnumProcessesFunction enumProcesses, DWORD& count) {
  count = 0;
  for (DWORD size = kFirstIdBufferSize;; size *= 2) {
    CIdBuffer ids(static_cast<DWORD*>(HeapAlloc(GetProcessHeap(), 0, size)));
    if (!ids) return nullptr;
    DWORD returned = 0;
    if (!enumProcesses(ids.get(), size, &returned)) return nullptr;
    // A full buffer may have cut the list short.
    if (returned < size) {
      count = returned / sizeof(DWORD);
      return ids;
    }
  }
}

// The base name of a process's first module; empty when the process can't
// be opened or read.
std::string ModuleBaseName(DWORD processId, EnumProcessModulesFunction enumModules,
                           GetModuleBaseNameFunction baseName) {
  CHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process.Valid()) return std::string();
  HMODULE module;
  DWORD needed;
  if (!enumModules(process.Get(), &module, sizeof module, &needed)) return std::string();
  char name[MAX_PATH];
  DWORD length = baseName(process.Get(), module, name, sizeof name);
  // A name that filled the buffer may lack its terminator: trust the length.
  if (length == 0 || length > sizeof name) return std::string();
  return std::string(name, length);
}

// Windows NT 4.0 has no ToolHelp: the process list comes from PSAPI.
bool WalkWithProcessStatus(ProcessVisitor visitor, LPARAM value) {
  CLibrary processStatus("PSAPI.DLL");
  CLibrary vdm("VDMDBG.DLL");
  auto enumProcesses = processStatus.Find<EnumProcessesFunction>("EnumProcesses");
  auto enumModules = processStatus.Find<EnumProcessModulesFunction>("EnumProcessModules");
  auto baseName = processStatus.Find<GetModuleBaseNameFunction>("GetModuleBaseNameA");
  auto enumTasks = vdm.Find<EnumTasksFunction>("VDMEnumTaskWOWEx");
  if (!enumProcesses || !enumModules || !baseName || !enumTasks) return true;

  DWORD count;
  CIdBuffer ids = ReadProcessIds(enumProcesses, count);
  for (DWORD i = 0; i < count; ++i) {
    DWORD processId = ids.get()[i];
    // A process we may not open is still visited, with an empty name that
    // no entry can match.
    std::string name = ModuleBaseName(processId, enumModules, baseName);
    if (!visitor(processId, 0, name.c_str(), value)) break;
    if (IsNtvdm(name.c_str()) && !VisitTasks(enumTasks, processId, visitor, value)) break;
  }
  return true;
}

// On NT the walk leaves out processes without a user token it may read:
// the system's own, which no catalogue entry describes.
bool HasReadableUser(DWORD processId) {
  CHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
  if (!process.Valid()) return false;
  HANDLE rawToken;
  if (!OpenProcessToken(process.Get(), TOKEN_QUERY, &rawToken)) return false;
  CHandle token(rawToken);
  union {
    TOKEN_USER user;
    BYTE bytes[256];
  } buffer = {};
  DWORD length = 0;
  if (!GetTokenInformation(token.Get(), TokenUser, &buffer, sizeof buffer, &length))
    return false;
  return buffer.user.User.Sid != NULL;
}

// Windows 95/98/ME and NT 5.0 or later: a ToolHelp snapshot.
bool WalkWithToolHelp(bool nt, ProcessVisitor visitor, LPARAM value) {
  CLibrary kernel("Kernel32.DLL");
  CLibrary vdm(nt ? "VDMDBG.DLL" : nullptr);
  auto createSnapshot = kernel.Find<CreateSnapshotFunction>("CreateToolhelp32Snapshot");
  auto first = kernel.Find<ProcessWalkFunction>("Process32First");
  auto next = kernel.Find<ProcessWalkFunction>("Process32Next");
  auto enumTasks = nt ? vdm.Find<EnumTasksFunction>("VDMEnumTaskWOWEx") : nullptr;
  if (!createSnapshot || !first || !next || (nt && !enumTasks)) return true;

  CHandle snapshot(createSnapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return false;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = first(snapshot.Get(), &entry); more; more = next(snapshot.Get(), &entry)) {
    if (nt && !HasReadableUser(entry.th32ProcessID)) continue;
    entry.szExeFile[MAX_PATH - 1] = '\0';
    if (!visitor(entry.th32ProcessID, 0, entry.szExeFile, value)) break;
    if (nt && IsNtvdm(entry.szExeFile) &&
        !VisitTasks(enumTasks, entry.th32ProcessID, visitor, value))
      break;
  }
  return true;
}

BOOL CALLBACK AddWindow(HWND window, LPARAM list) {
  return reinterpret_cast<CWindowList*>(list)->Add(window);
}

// The part after the last backslash, so that the 95 family's full paths
// and NT's bare names read the same. Steps by characters: in a double-byte
// code page a trail byte may have the backslash's value.
std::string FileNameOf(const char* path) {
  const char* name = path;
  for (const char* at = path; *at != '\0'; at = CharNextA(at))
    if (*at == '\\') name = at + 1;
  return name;
}

std::string Format(const char* pattern, const std::string& text) {
  std::string out = pattern;
  std::string::size_type at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, text);
  return out;
}

// The process name with " - " and the entry's name, or nothing. The
// process running the check is never a candidate: it would warn the user
// about itself or, closing, wait for itself and end itself in mid-run.
bool MatchProcess(const Catalogue& catalogue, DWORD processId, const char* name,
                  bool selectedOnly, std::string& line) {
  if (processId == GetCurrentProcessId()) return false;
  line = FileNameOf(name);
  return FindRunningItem(catalogue, line, selectedOnly);
}

// Asks the program to close its windows and ends it when it hasn't gone
// within ten seconds.
void CloseProgram(DWORD processId, const std::string& line) {
  PrintMessage(Format(kClosing, line));
  CProcessWindowList windows(processId, kWindowCapacity);
  for (HWND window = windows.First(); window != NULL; window = windows.Next())
    PostMessageA(window, WM_CLOSE, 0, 0);

  HANDLE opened = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId);
  DWORD error = GetLastError();
  CHandle process(opened);
  if (!process.Valid()) {
    // An id that no longer names a process: it has ended already.
    PrintMessage(error == ERROR_INVALID_PARAMETER ? kSuccess : kCouldNotWait);
    return;
  }
  if (WaitForSingleObject(process.Get(), kCloseTimeout) == WAIT_OBJECT_0) {
    PrintMessage(kSuccess);
    return;
  }
  PrintMessage(kForcing);
  PrintMessage(TerminateProcess(process.Get(), 1) ? kSuccess : kFailed);
}

// The console's list of running programs, one line each.
std::string g_runningPrograms;

struct WizardPage {
  const Catalogue* catalogue;
  HWND listBox;
};

int VisitProcessForWizard(DWORD processId, WORD, const char* name, LPARAM value) {
  const WizardPage& page = *reinterpret_cast<const WizardPage*>(value);
  std::string line;
  // Nothing is chosen yet on this page: every valid entry counts.
  if (MatchProcess(*page.catalogue, processId, name, false, line))
    SendMessageA(page.listBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  return 1;
}

}  // namespace

bool EnumerateProcesses(ProcessVisitor visitor, LPARAM value) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return false;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 4)
    return WalkWithProcessStatus(visitor, value);
  if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)
    return WalkWithToolHelp(false, visitor, value);
  if (version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5)
    return WalkWithToolHelp(true, visitor, value);
  return false;
}

bool FindRunningItem(const Catalogue& catalogue, std::string& processName, bool selectedOnly) {
  // The code page's own lowercasing, which leaves double-byte characters whole.
  if (!processName.empty())
    CharLowerBuffA(&processName[0], static_cast<DWORD>(processName.size()));
  for (const auto& entry : catalogue.Entries()) {
    if (!entry->valid || (selectedOnly && !entry->selected) || entry->detect.empty()) continue;
    if (processName.find(entry->detect) == std::string::npos) continue;
    processName += " - ";
    processName += entry->name;
    return true;
  }
  return false;
}

BOOL CWindowList::Add(HWND window) {
  if (m_windows.size() < m_capacity && Accept(window)) m_windows.push_back(window);
  return TRUE;
}

HWND CWindowList::Next() {
  if (m_cursor >= m_windows.size()) return NULL;
  return m_windows[m_cursor++];
}

bool CProcessWindowList::Accept(HWND window) {
  if ((GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) == 0) return false;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  return owner == m_processId;
}

HWND CProcessWindowList::First() {
  m_windows.clear();
  EnumWindows(AddWindow, reinterpret_cast<LPARAM>(static_cast<CWindowList*>(this)));
  m_cursor = 1;
  return m_windows.empty() ? NULL : m_windows.front();
}

int VisitProcessForConsole(DWORD processId, WORD, const char* name, LPARAM catalogue) {
  std::string line;
  // Only the entries the run will process count.
  if (!MatchProcess(*reinterpret_cast<const Catalogue*>(catalogue), processId, name, true, line))
    return 1;
  if (CloseRunningPrograms()) {
    CloseProgram(processId, line);
  } else {
    g_runningPrograms += line;
    g_runningPrograms += '\n';
  }
  // A failed close doesn't stop the walk either.
  return 1;
}

namespace {

// Whether any entry the run will process names a program to look for; the
// process walk costs a few calls per running process.
bool AnySelectedProgram(const Catalogue& catalogue) {
  for (const auto& entry : catalogue.Entries())
    if (entry->valid && entry->selected && !entry->detect.empty()) return true;
  return false;
}

}  // namespace

void CheckRunningPrograms(Catalogue& catalogue) {
  g_runningPrograms.clear();
  if (AnySelectedProgram(catalogue))
    EnumerateProcesses(VisitProcessForConsole, reinterpret_cast<LPARAM>(&catalogue));
  // A warning only: the run goes on whatever the answer. With /k every
  // match has been closed and the list stays empty.
  if (!g_runningPrograms.empty())
    Ask(NULL, kRunningNotice + g_runningPrograms, "", MB_OK);
}

void FillRunningProgramsList(const Catalogue& catalogue, HWND listBox) {
  SendMessageA(listBox, LB_RESETCONTENT, 0, 0);
  WizardPage page = {&catalogue, listBox};
  EnumerateProcesses(VisitProcessForWizard, reinterpret_cast<LPARAM>(&page));
}
