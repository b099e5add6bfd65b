// What the installer test can't see from outside the computer:
//   setup_probe shortcut <file.lnk>       prints the shortcut's "target=" and "folder="
//   setup_probe short <path>              prints the path's short form
//   setup_probe run <command line>        runs it as written and waits for it
//                                         and every program it starts
//   setup_probe answer <IDYES|IDNO> <command line>
//                                         the same, pressing the dialog's default
//                                         button on each page and answering each
//                                         message box; prints the boxes' texts
// "run" and "answer" exit with the started program's status, or 124 when
// the programs were still running after a minute. The command line is taken
// as one argument, so an uninstaller's "_?=" folder can go unquoted.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/ComHandle.h"
#include "base/Win32Handle.h"

namespace {

const DWORD kPatience = 60000;
const DWORD kPoll = 100;
const int kTimedOut = 124;
const int kFailed = 2;
// The text of a message box is the static control with this id.
const int kMessageBoxText = 0xFFFF;

std::wstring Wide(const std::string& text) {
  int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(length > 0 ? length : 1, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
  wide.resize(wide.size() - 1);
  return wide;
}

int ShowShortcut(const std::string& path) {
  CComSession com;
  CComRef<IShellLinkA> link;
  CComRef<IPersistFile> file;
  if (!com.Ready() ||
      FAILED(CreateComObject(CLSID_ShellLink, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                             link.ReceiveVoid())) ||
      FAILED(link->QueryInterface(IID_IPersistFile, file.ReceiveVoid())) ||
      FAILED(file->Load(Wide(path).c_str(), STGM_READ))) {
    std::printf("can't read the shortcut %s\n", path.c_str());
    return kFailed;
  }
  char target[MAX_PATH] = "";
  char folder[MAX_PATH] = "";
  WIN32_FIND_DATAA found;
  if (FAILED(link->GetPath(target, MAX_PATH, &found, SLGP_RAWPATH)) ||
      FAILED(link->GetWorkingDirectory(folder, MAX_PATH)))
    return kFailed;
  std::printf("target=%s\nfolder=%s\n", target, folder);
  return 0;
}

int ShowShortPath(const std::string& path) {
  char shortPath[MAX_PATH];
  DWORD length = GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return kFailed;
  std::printf("%s\n", shortPath);
  return 0;
}

// The programs started for one command line: an uninstaller hands its work
// to a copy of itself in the temporary folder and ends at once, and the
// copy must be waited for as well. A job holds the started program and
// whatever it starts.
class CProgramRun {
 public:
  bool Start(std::string commandLine) {
    m_job.Reset(CreateJobObjectA(nullptr, nullptr));
    if (!m_job.Valid()) return false;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &started))
      return false;
    m_process.Reset(started.hProcess);
    CHandle thread(started.hThread);
    if (!AssignProcessToJobObject(m_job.Get(), m_process.Get())) {
      TerminateProcess(m_process.Get(), kFailed);
      return false;
    }
    ResumeThread(thread.Get());
    return true;
  }
  bool Running() const {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job = {};
    if (!QueryInformationJobObject(m_job.Get(), JobObjectBasicAccountingInformation, &job,
                                   sizeof job, nullptr))
      return WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT;
    return job.ActiveProcesses > 0;
  }
  int Status() const {
    DWORD status = kFailed;
    GetExitCodeProcess(m_process.Get(), &status);
    return static_cast<int>(status);
  }
  void Stop() { TerminateJobObject(m_job.Get(), kTimedOut); }

 private:
  CHandle m_job;
  CHandle m_process;
};

// The top-level dialogs of processes other than this one: the installer's
// window and its message boxes.
BOOL CALLBACK CollectDialog(HWND window, LPARAM context) {
  char name[16] = "";
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() && IsWindowVisible(window) &&
      GetClassNameA(window, name, sizeof name) && std::strcmp(name, "#32770") == 0)
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
  return TRUE;
}

bool Shown(HWND control) { return control != nullptr && IsWindowVisible(control); }

// A message box gets the answer, or OK when it doesn't offer that answer;
// any other dialog a press of its default button when that is enabled.
// Returns whether something was pressed.
bool Answer(HWND dialog, int reply) {
  HWND text = GetDlgItem(dialog, kMessageBoxText);
  if (text != nullptr) {
    char message[1024] = "";
    GetWindowTextA(text, message, sizeof message);
    std::printf("asked: %s\n", message);
    std::fflush(stdout);
    int button = Shown(GetDlgItem(dialog, reply)) ? reply : IDOK;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    return true;
  }
  HWND button = GetDlgItem(dialog, IDOK);
  if (!Shown(button) || !IsWindowEnabled(button)) return false;
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  return true;
}

int Run(const std::string& commandLine, int reply) {
  // Wine starts its desktop process from the first program that needs the
  // desktop, and that process outlives it: asking for the desktop here
  // keeps it out of the job.
  GetDesktopWindow();
  CProgramRun run;
  if (!run.Start(commandLine)) {
    std::printf("can't start %s (error %lu)\n", commandLine.c_str(), GetLastError());
    return kFailed;
  }
  for (DWORD waited = 0; run.Running(); waited += kPoll) {
    if (waited >= kPatience) {
      run.Stop();
      std::printf("still running after %lu s: %s\n", kPatience / 1000, commandLine.c_str());
      return kTimedOut;
    }
    Sleep(kPoll);
    if (reply == 0) continue;
    std::vector<HWND> dialogs;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&dialogs));
    bool pressed = false;
    for (HWND dialog : dialogs) pressed = Answer(dialog, reply) || pressed;
    // Give the page time to change before looking again.
    if (pressed) Sleep(5 * kPoll);
  }
  return run.Status();
}

int Usage() {
  std::printf("usage: setup_probe shortcut <file.lnk> | short <path> | run <command line> |\n"
              "       answer <IDYES|IDNO> <command line>\n");
  return kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string verb = argv[1];
  if (verb == "shortcut") return ShowShortcut(argv[2]);
  if (verb == "short") return ShowShortPath(argv[2]);
  if (verb == "run") return Run(argv[2], 0);
  if (verb == "answer" && argc == 4) {
    std::string reply = argv[2];
    if (reply == "IDYES") return Run(argv[3], IDYES);
    if (reply == "IDNO") return Run(argv[3], IDNO);
  }
  return Usage();
}
