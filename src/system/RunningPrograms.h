// Which of the catalogue's programs are running right now, and, for the
// console's /k switch, closing them before a run touches their files.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

class Catalogue;

// Called once for each process and once for each 16-bit task inside an
// NTVDM process (then with the NTVDM process id and the task's handle; the
// task is 0 for an ordinary process). The name is the executable's file
// name, a full path on Windows 95/98/ME, empty when it couldn't be read.
// Returns nonzero to go on, zero to stop the walk.
typedef int (*ProcessVisitor)(DWORD processId, WORD task, const char* name, LPARAM value);

// Hands every process of the computer to the visitor. False when the
// Windows version can't be read, the platform is none we know or the
// process list can't be taken; true otherwise, also when the visitor
// stopped early or a library the walk needs is missing (then nobody is
// visited: a computer without it simply shows no running programs).
bool EnumerateProcesses(ProcessVisitor visitor, LPARAM value);

// Lowercases the process name in place and looks for the first valid entry
// with a detect text (and selected, with selectedOnly) whose detect text
// occurs in it. On a match appends " - " and the entry's name and returns
// true. Detect texts are compared as they are written, so one with capital
// letters never matches.
bool FindRunningItem(const Catalogue& catalogue, std::string& processName, bool selectedOnly);

// Window handles collected up to a fixed capacity and read back by a cursor.
class CWindowList {
 public:
  explicit CWindowList(std::size_t capacity) : m_capacity(capacity) {}
  virtual ~CWindowList() = default;
  CWindowList(const CWindowList&) = delete;
  CWindowList& operator=(const CWindowList&) = delete;

  // Keeps the window when Accept agrees and there is room; a full list
  // ignores further windows. Always asks the enumeration to go on.
  virtual BOOL Add(HWND window);
  virtual bool Accept(HWND window) { return true; }

  std::size_t Capacity() const { return m_capacity; }
  std::size_t Count() const { return m_windows.size(); }
  // The window under the cursor, which then moves on; NULL at the end.
  HWND Next();

 protected:
  std::vector<HWND> m_windows;
  std::size_t m_capacity;
  std::size_t m_cursor = 0;
};

// The visible top-level windows of one process.
class CProcessWindowList : public CWindowList {
 public:
  CProcessWindowList(DWORD processId, std::size_t capacity)
      : CWindowList(capacity), m_processId(processId) {}

  bool Accept(HWND window) override;
  // Collects the windows and returns the first (NULL when there is none);
  // Next then reads the others.
  HWND First();

 private:
  DWORD m_processId;
};

// The console's visitor; the value is the loaded Catalogue. Adds a line for
// a process of a selected entry to the running-programs list or, with
// CloseRunningPrograms on, closes the program's windows and ends it.
int VisitProcessForConsole(DWORD processId, WORD task, const char* name, LPARAM catalogue);

// The console's check before a backup or restore writes anything: lists the
// running programs of the selected entries in a notice, or closes them.
void CheckRunningPrograms(Catalogue& catalogue);

// Fills the wizard's running-programs list box (it sorts its lines) with a
// line for each running process of any valid entry, after emptying it.
void FillRunningProgramsList(const Catalogue& catalogue, HWND listBox);
