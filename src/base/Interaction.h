// Talking to the user: console output, the log file, questions answered by a
// message box (wizard) or by single key presses (console), and the "system
// operations" opened once per process (log file, shell folder function).
#pragma once

#include <windows.h>

#include <string>

// Where questions, keys and console text really go. Production uses the
// message box, the keyboard (or standard input when it is not a console) and
// standard output; tests install their own to answer questions.
class CInteraction {
 public:
  virtual ~CInteraction() = default;
  virtual int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption,
                             UINT style) = 0;
  // The next key, or -1 when no key will ever come (input closed).
  virtual int ReadKey() = 0;
  virtual void WriteOutput(const std::string& text) = 0;
};

CInteraction& Interaction();
// Installs another sink (nullptr: the system one again); returns the previous.
CInteraction* SetInteraction(CInteraction* sink);

enum OverwriteAnswer {
  OverwriteNo = 0,
  OverwriteYes = 1,
  OverwriteNoToAll = 2,
  OverwriteYesToAll = 3,
};

// Console text, or a log entry when silent.
void PrintMessage(const std::string& text);
// A log entry whenever the log is open, whatever the mode.
void WriteLog(const std::string& text);
// A log entry for something a run could not save or restore; the count
// tells the console whether the run finished whole.
void LogItemError(const std::string& text);
unsigned ItemErrorCount();
void ResetItemErrors();
// A notice that never waits in the console (it may run unattended): a
// message box in the wizard, a line of its own in the console, a log entry
// when silent.
void ShowNotice(const std::string& text, const std::string& caption);
// Returns the pressed button's code (IDOK, IDCANCEL, IDABORT, ...).
int Ask(HWND owner, const std::string& text, const std::string& caption, UINT style);
// Console overwrite question; false means cancel and leaves answer unchanged.
bool AskOverwrite(const std::string& path, OverwriteAnswer& answer);

// Y year, M month, D day, H hour, m minute, s second; all in universal time.
std::string FormatTimestamp(const std::string& pattern);
std::string FormatTimestampAt(const std::string& pattern, const SYSTEMTIME& time);

typedef HRESULT(WINAPI* FolderPathFunction)(HWND, int, HANDLE, DWORD, LPSTR);

bool OpenSystemOperations();
void CloseSystemOperations();
// The shell's SHGetFolderPathA, or nullptr while system operations are closed.
FolderPathFunction GetFolderPathFunction();
// The log file's full path ("QMARK.log" in the temporary folder).
std::string LogFilePath();
