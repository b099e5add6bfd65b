#include "system/RunningPrograms.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/Flags.h"
#include "base/Win32Handle.h"
#include "catalogue/Catalogue.h"
#include "support/TestSupport.h"

namespace {

const char kNotice[] =
    "Quillmark has detected that the following programs are running on your system. It is "
    "strongly recommended to close them before you continue.\n";
const char kProbe[] = "window_probe.exe";
// An entry whose condition fails on every computer the tests run on.
const char kNowhere[] = "HKEY_CURRENT_USER\\Software\\QmRunningProgramsNowhere";

std::string Closing(const std::string& line) {
  return "Closing all windows of " + line + ". Waiting 10 seconds for process to end...";
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), ::tolower);
  return text;
}

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// The lines of a text, sorted: the walk's order is the system's.
std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  std::sort(lines.begin(), lines.end());
  return lines;
}

// A started program, ended (if it hasn't ended) when the object goes.
class CProbe {
 public:
  CProbe(const std::string& program, const std::string& arguments) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    std::string line = "\"" + program + "\" " + arguments;
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started))
      throw std::runtime_error("can't start " + program);
    CloseHandle(started.hThread);
    m_process.Reset(started.hProcess);
    m_id = started.dwProcessId;
  }
  ~CProbe() { End(); }

  DWORD Id() const { return m_id; }
  // True once the program shows its window.
  bool WaitForWindow() {
    for (int tries = 0; tries < 200; ++tries) {
      if (CProcessWindowList(m_id, 1).First() != NULL) return true;
      Sleep(50);
    }
    return false;
  }
  // The exit code once ended, STILL_ACTIVE when it runs on past the wait.
  DWORD ExitCode(DWORD wait) {
    WaitForSingleObject(m_process.Get(), wait);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_process.Get(), &code);
    return code;
  }
  // Ends the program and lets go of it, so its id names nothing any more.
  void End() {
    if (!m_process.Valid()) return;
    TerminateProcess(m_process.Get(), 99);
    WaitForSingleObject(m_process.Get(), 5000);
    m_process.Reset();
  }

 private:
  CHandle m_process;
  DWORD m_id = 0;
};

struct Visit {
  DWORD processId;
  WORD task;
  std::string name;
};

struct Recorder {
  std::vector<Visit> visits;
  size_t stopAfter = SIZE_MAX;
};

int Record(DWORD processId, WORD task, const char* name, LPARAM value) {
  Recorder& recorder = *reinterpret_cast<Recorder*>(value);
  recorder.visits.push_back({processId, task, name});
  return recorder.visits.size() < recorder.stopAfter;
}

class RunningPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFlags();
    SetWizardMode(false);
    catalogue.SetPath(temp.Path() + "backup.xml");
  }
  void TearDown() override {
    probes.clear();
    ResetFlags();
  }

  // Evaluates a catalogue whose entries are given without line ends.
  void Evaluate(const std::string& entries) {
    WriteWholeFile(catalogue.GetPath(),
                   "<?xml version=\"1.0\" encoding=\"ASCII\" standalone=\"yes\"?>\r\n"
                   "<catalogue>\r\n" + entries + "</catalogue>\r\n");
    ASSERT_TRUE(catalogue.Evaluate());
  }
  void Select(const std::string& name) {
    for (const auto& entry : catalogue.Entries())
      if (entry->name == name) entry->selected = true;
  }
  CProbe& Start(const std::string& arguments = std::string(),
                const std::string& program = ProgramFolder() + kProbe) {
    probes.push_back(std::make_unique<CProbe>(program, arguments));
    EXPECT_TRUE(probes.back()->WaitForWindow()) << program << " showed no window";
    return *probes.back();
  }

  CTemporaryFolder temp;
  Catalogue catalogue;
  CScriptedInteraction ui;
  std::vector<std::unique_ptr<CProbe>> probes;  // ended before the folder goes
};

// --- Matching a process name against the catalogue ---

TEST_F(RunningPrograms, MatchLowercasesTheNameAndTakesTheFirstEntryThatCounts) {
  Evaluate(std::string("<backup name=\"Absent\" detect=\"probe\" keyExists=\"") + kNowhere +
           "\"></backup>\r\n"
           "<backup name=\"Undetectable\"></backup>\r\n"
           "<backup name=\"Capital\" detect=\"Probe\"></backup>\r\n"
           "<backup name=\"Offered\" detect=\"probe\"></backup>\r\n"
           "<backup name=\"Chosen\" detect=\"y_pro\"></backup>\r\n");
  Select("Absent");
  Select("Capital");
  Select("Chosen");

  std::string name = "MY_PROBE.EXE";
  EXPECT_TRUE(FindRunningItem(catalogue, name, false));
  EXPECT_EQ("my_probe.exe - Offered", name);

  name = "MY_PROBE.EXE";
  EXPECT_TRUE(FindRunningItem(catalogue, name, true));
  EXPECT_EQ("my_probe.exe - Chosen", name);

  name = "Other.EXE";
  EXPECT_FALSE(FindRunningItem(catalogue, name, false));
  EXPECT_EQ("other.exe", name);

  // What NT 4.0 reports for a process it may not open.
  name = "";
  EXPECT_FALSE(FindRunningItem(catalogue, name, false));
  EXPECT_EQ("", name);
}

// --- The walk over the processes ---

// Also run with the computer claiming to be Windows 98 or NT 4.0, which
// take the other two ways to the process list.
TEST_F(RunningPrograms, WalkVisitsEachStartedProcessOnceUnderItsFileName) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExA(&version));
  if (const char* expected = std::getenv("QM_EXPECTED_WINVER")) {
    if (std::string(expected) == "NT4") {
      EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_NT), version.dwPlatformId);
      EXPECT_EQ(4u, version.dwMajorVersion);
    } else {
      EXPECT_EQ(static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS), version.dwPlatformId);
    }
  }

  CProbe& first = Start();
  CProbe& second = Start();
  Recorder all;
  ASSERT_TRUE(EnumerateProcesses(Record, reinterpret_cast<LPARAM>(&all)));
  for (DWORD id : {first.Id(), second.Id()}) {
    auto visits = std::count_if(all.visits.begin(), all.visits.end(),
                                [id](const Visit& visit) { return visit.processId == id; });
    ASSERT_EQ(1, visits) << "process " << id;
    auto visit = std::find_if(all.visits.begin(), all.visits.end(),
                              [id](const Visit& visit) { return visit.processId == id; });
    EXPECT_EQ(kProbe, Lower(FileNameOf(visit->name)));
    EXPECT_EQ(0, visit->task);
  }

  Recorder one;
  one.stopAfter = 1;
  EXPECT_TRUE(EnumerateProcesses(Record, reinterpret_cast<LPARAM>(&one)));
  EXPECT_EQ(1u, one.visits.size());
}

// --- The console's notice and the wizard's list ---

TEST_F(RunningPrograms, ConsoleCountsSelectedEntriesTheWizardEveryValidOne) {
  Evaluate(std::string("<backup name=\"Absent\" detect=\"window\" keyExists=\"") + kNowhere +
           "\"></backup>\r\n"
           "<backup name=\"Unchosen\" detect=\"window_probe\"></backup>\r\n"
           "<backup name=\"Capital\" detect=\"Window_probe\"></backup>\r\n"
           "<backup name=\"Probe\" detect=\"window_probe\"></backup>\r\n"
           "<backup name=\"Loud\" detect=\"loud_probe\"></backup>\r\n"
           "<backup name=\"Idle\" detect=\"never_started\"></backup>\r\n");
  for (const char* name : {"Absent", "Capital", "Probe", "Loud", "Idle"}) Select(name);
  std::string loud = temp.Path() + "LOUD_PROBE.EXE";
  ASSERT_TRUE(CopyFileA((ProgramFolder() + kProbe).c_str(), loud.c_str(), FALSE));
  Start();
  Start();
  Start("", loud);

  const std::vector<std::string> expected = {"loud_probe.exe - Loud", "window_probe.exe - Probe",
                                             "window_probe.exe - Probe"};
  CheckRunningPrograms(catalogue);
  ASSERT_EQ(0u, ui.output.find(kNotice)) << ui.output;
  // The notice ends with a line break of its own before it waits for a key.
  std::string list = ui.output.substr(sizeof kNotice - 1);
  ASSERT_EQ("\n\n", list.substr(list.size() - 2));
  EXPECT_EQ(expected, SortedLines(list.substr(0, list.size() - 1)));
  EXPECT_EQ(1, ui.keysRead);

  // The list starts empty on each walk; in the wizard the notice is a box.
  SetWizardMode(true);
  CheckRunningPrograms(catalogue);
  ASSERT_EQ(1u, ui.boxes.size());
  EXPECT_EQ(ui.output.substr(0, ui.output.size() - 1), ui.boxes[0].text);
  EXPECT_EQ("", ui.boxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK), ui.boxes[0].style);

  HWND listBox = CreateWindowA("LISTBOX", "", LBS_SORT, 0, 0, 100, 100, NULL, NULL,
                               GetModuleHandleA(NULL), NULL);
  ASSERT_NE(nullptr, listBox);
  SendMessageA(listBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("left from before"));
  FillRunningProgramsList(catalogue, listBox);
  std::vector<std::string> lines;
  for (int i = 0, count = static_cast<int>(SendMessageA(listBox, LB_GETCOUNT, 0, 0)); i < count;
       ++i) {
    std::string line(SendMessageA(listBox, LB_GETTEXTLEN, i, 0), '\0');
    SendMessageA(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&line[0]));
    lines.push_back(line);
  }
  DestroyWindow(listBox);
  EXPECT_EQ((std::vector<std::string>{"loud_probe.exe - Loud", "window_probe.exe - Unchosen",
                                      "window_probe.exe - Unchosen"}),
            lines);
}

TEST_F(RunningPrograms, ConsoleNeverReportsOrClosesItsOwnProcess) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  std::string self = Lower(FileNameOf(std::string(path, length)));
  Evaluate("<backup name=\"Itself\" detect=\"" + self +
           "\"></backup>\r\n<backup name=\"Probe\" detect=\"window_probe\"></backup>\r\n");
  Select("Itself");
  Select("Probe");

  // No probe runs, and the test program itself must not count.
  CheckRunningPrograms(catalogue);
  SetCloseRunningPrograms(true);
  CheckRunningPrograms(catalogue);
  EXPECT_EQ("", ui.output);
  EXPECT_EQ(0, ui.keysRead);
}

// --- Closing with /k ---

TEST_F(RunningPrograms, CloseAsksEachProgramThenEndsOneThatIgnoresIt) {
  Evaluate("<backup name=\"Probe\" detect=\"window_probe\"></backup>\r\n");
  Select("Probe");
  CProbe& polite = Start();
  CProbe& stubborn = Start("stubborn");
  SetCloseRunningPrograms(true);

  DWORD started = GetTickCount();
  CheckRunningPrograms(catalogue);
  DWORD took = GetTickCount() - started;

  std::string closed = Closing("window_probe.exe - Probe") + "Success!\n";
  std::string forced = Closing("window_probe.exe - Probe") + "Failed!\nForcing shutdown...Success!\n";
  EXPECT_TRUE(ui.output == closed + forced || ui.output == forced + closed) << ui.output;
  EXPECT_EQ(0, ui.keysRead) << "nothing is left to warn about";
  EXPECT_EQ(0u, polite.ExitCode(1000)) << "closed through its window";
  EXPECT_EQ(1u, stubborn.ExitCode(1000));
  EXPECT_GE(took, 9500u);
  EXPECT_LT(took, 20000u);
}

TEST_F(RunningPrograms, CloseCountsAProcessThatHasAlreadyEndedAsClosed) {
  Evaluate("<backup name=\"Probe\" detect=\"window_probe\"></backup>\r\n");
  Select("Probe");
  CProbe& gone = Start();
  DWORD id = gone.Id();
  gone.End();
  SetCloseRunningPrograms(true);

  // The 95 family reports full paths in capitals; only the file name counts.
  EXPECT_EQ(1, VisitProcessForConsole(id, 0, "C:\\PROGRA~1\\PROBE\\WINDOW_PROBE.EXE",
                                      reinterpret_cast<LPARAM>(&catalogue)));
  EXPECT_EQ(Closing("window_probe.exe - Probe") + "Success!\n", ui.output);
}

// --- The windows of a process ---

class CTestWindows {
 public:
  ~CTestWindows() {
    for (HWND window : windows) DestroyWindow(window);
  }
  HWND Make(bool visible) {
    HWND window = CreateWindowA("STATIC", "test", WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0),
                                0, 0, 100, 50, NULL, NULL, GetModuleHandleA(NULL), NULL);
    if (window == NULL) throw std::runtime_error("can't make a window");
    windows.push_back(window);
    return window;
  }
  std::vector<HWND> windows;
};

std::set<HWND> ReadAll(CProcessWindowList& list) {
  std::set<HWND> read;
  for (HWND window = list.First(); window != NULL; window = list.Next()) read.insert(window);
  return read;
}

TEST(RunningProgramWindows, CollectsTheVisibleTopLevelWindowsOfOneProcessUpToCapacity) {
  CTestWindows made;
  std::set<HWND> visible;
  for (int i = 0; i < 4; ++i) visible.insert(made.Make(true));
  HWND hidden = made.Make(false);

  CProcessWindowList all(GetCurrentProcessId(), 1024);
  EXPECT_EQ(visible, ReadAll(all));
  EXPECT_EQ(nullptr, all.Next());

  CProcessWindowList few(GetCurrentProcessId(), 3);
  std::set<HWND> three = ReadAll(few);
  EXPECT_EQ(3u, three.size());
  EXPECT_TRUE(std::includes(visible.begin(), visible.end(), three.begin(), three.end()));

  // The plain list takes any window, but never more than it holds.
  CWindowList plain(1);
  EXPECT_TRUE(plain.Add(hidden));
  EXPECT_TRUE(plain.Add(*visible.begin())) << "a full list lets the enumeration go on";
  EXPECT_EQ(1u, plain.Count());
  EXPECT_EQ(hidden, plain.Next());
}

// --- The owners the walk loads its libraries and opens its handles with ---

// A file opened without sharing, so that a second open tells whether the
// first handle is still held.
HANDLE OpenUnshared(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, NULL);
}

bool HeldOpen(const std::string& path) { return !CHandle(OpenUnshared(path)).Valid(); }

TEST(HandleOwners, AMovedHandleIsClosedOnlyByItsNewOwner) {
  CTemporaryFolder temp;
  const std::string first = temp.Path() + "first.bin";
  const std::string second = temp.Path() + "second.bin";
  CHandle owner;
  {
    CHandle source(OpenUnshared(first));
    ASSERT_TRUE(source.Valid());
    owner = std::move(source);
    EXPECT_FALSE(source.Valid());
  }
  EXPECT_TRUE(HeldOpen(first)) << "the moved-from owner closed the handle";

  owner.Reset(OpenUnshared(second));
  EXPECT_FALSE(HeldOpen(first)) << "Reset kept the old handle open";
  EXPECT_TRUE(HeldOpen(second));

  HANDLE released = owner.Release();
  EXPECT_FALSE(owner.Valid());
  EXPECT_TRUE(HeldOpen(second)) << "Release closed the handle it handed out";
  CloseHandle(released);
}

TEST(HandleOwners, ALibraryStaysLoadedUntilItsLastOwnerGoes) {
  // A small system library nothing else in this program loads.
  const char kName[] = "lz32.dll";
  if (GetModuleHandleA(kName) != NULL) GTEST_SKIP() << kName << " is loaded already";
  CLibrary owner;
  {
    CLibrary library(kName);
    ASSERT_NE(HMODULE(NULL), library.Get());
    EXPECT_NE(nullptr, library.Find<FARPROC>("LZOpenFileA"));
    EXPECT_EQ(nullptr, library.Find<FARPROC>("QuillmarkNoSuchEntry"));
    owner = std::move(library);
  }
  EXPECT_NE(HMODULE(NULL), GetModuleHandleA(kName)) << "the moved-from owner freed it";
  owner.Reset();
  EXPECT_EQ(HMODULE(NULL), GetModuleHandleA(kName));

  CLibrary missing("quillmark-no-such-library.dll");
  EXPECT_EQ(nullptr, missing.Find<FARPROC>("LZOpenFileA"));
  CLibrary none(nullptr);
  EXPECT_EQ(HMODULE(NULL), none.Get());
  EXPECT_FALSE(none.Load("quillmark-no-such-library.dll"));
}

}  // namespace
