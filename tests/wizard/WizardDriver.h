// Driving the wizard's windows as a user would: pressing buttons, typing,
// and answering the small dialogs and the file and folder choosers.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <string>

#include "wizard/Dialog.h"

// Handles the window system's messages until `done` holds or the time is
// up; true when it held.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 20000);
// Handles what is waiting, then returns.
void PumpIdle();

// Answers each small dialog with the next script queued for its template;
// a dialog without a script is cancelled. Chooser answers come from queues
// too (empty: Cancel).
class CScriptedDialogs : public IDialogSink {
 public:
  typedef std::function<void(CDialog&)> Script;

  CScriptedDialogs() { m_previous = SetDialogSink(this); }
  ~CScriptedDialogs() override { SetDialogSink(m_previous); }

  void Queue(int resourceId, const Script& script) { m_scripts[resourceId].push_back(script); }
  // Types the password into both edits and presses OK.
  void QueuePassword(const std::string& password);

  void DialogOpened(CDialog& dialog, int resourceId) override;
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& initialFolder) override;
  std::optional<std::string> ChooseFile() override;

  std::deque<std::string> folders;
  std::deque<std::string> files;
  std::map<int, int> opened;  // how often each template was shown

 private:
  IDialogSink* m_previous;
  std::map<int, std::deque<Script>> m_scripts;
};
