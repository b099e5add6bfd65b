// The wizard's side of a run. The worker thread calls it; progress goes
// into a small guarded state that the window reads on a timer, and every
// question is put to the window thread, which shows it owned by the wizard.
// The window thread never waits for the worker.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/Lock.h"
#include "base/RunCallback.h"
#include "base/StopRequest.h"

// Sent by a worker to the wizard: lParam points to the work to do on the
// window thread.
const UINT kRunOnWindowThread = WM_APP + 0x101;

struct RunProgress {
  int total = 0;
  int position = 0;
  std::string entry;  // the dotted path of the entry being worked on
  std::string path;   // the file or key being worked on
};

class CWizardRun : public IRunCallback {
 public:
  CWizardRun();
  ~CWizardRun() override;
  CWizardRun(const CWizardRun&) = delete;
  CWizardRun& operator=(const CWizardRun&) = delete;

  // The wizard's window; questions are owned by it and asked on its thread.
  void SetWindow(HWND wizard);
  HWND Window() const { return m_window; }

  void StartEntry(const std::string& dottedPath, int number, int total) override;
  void SetCurrentPath(const std::string& path) override;
  // Waits while the user is being asked whether to stop.
  bool ShouldStop() override;
  bool AskOverwrite(const std::string& path, OverwriteAnswer& answer) override;
  int AskFileError(const std::string& text, const std::string& caption, UINT style) override;
  bool GetArchivePassword(const std::string& entryName, std::string& password) override;
  void ShowFatalError(const std::string& text) override;
  void LogItemError(const std::string& text) override;

  // From any thread: the run stops at its next check.
  CStopRequest& Stop() { return m_stop; }
  // While the window asks whether to stop, the run waits at its next check
  // instead of going on; it is never suspended where it stands, which could
  // hold a lock the window thread needs to ask.
  void HoldAtChecks(bool hold);

  // A new run begins with `total` entries.
  void ResetProgress(int total);
  RunProgress Progress() const;

  // The password of the chosen packed set once typed; used on the window
  // thread only. Forgetting it asks again at the next encrypted entry.
  const std::string& ArchivePassword() const { return m_archivePassword; }
  void ForgetArchivePassword();

  // Runs `work` on the window thread and returns when it is done.
  void OnWindowThread(const std::function<void()>& work);

 private:
  HWND m_window = NULL;
  DWORD m_windowThread = 0;
  CStopRequest m_stop;
  HANDLE m_goOn;  // set while the run may go on
  mutable CCriticalSection m_lock;
  RunProgress m_progress;
  std::string m_archivePassword;
};
