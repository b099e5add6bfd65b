#include "wizard/WizardDriver.h"

#include "wizard/Resource.h"

void PumpIdle() {
  MSG message;
  while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    PumpIdle();
  }
  return true;
}

void CScriptedDialogs::QueuePassword(const std::string& password) {
  Queue(IDD_PASSWORD, [password](CDialog& dialog) {
    dialog.SetItemText(IDC_PASSWORD_EDIT, password);
    dialog.SetItemText(IDC_VERIFY_EDIT, password);
    dialog.PressButton(IDOK);
  });
}

void CScriptedDialogs::DialogOpened(CDialog& dialog, int resourceId) {
  if (resourceId == IDD_WIZARD) return;  // the tests drive it themselves
  ++opened[resourceId];
  std::deque<Script>& scripts = m_scripts[resourceId];
  if (scripts.empty()) {
    dialog.PressButton(IDCANCEL);
    return;
  }
  Script script = scripts.front();
  scripts.pop_front();
  script(dialog);
}

std::optional<std::string> CScriptedDialogs::ChooseFolder(const std::string&, const std::string&) {
  if (folders.empty()) return std::nullopt;
  std::string folder = folders.front();
  folders.pop_front();
  return folder;
}

std::optional<std::string> CScriptedDialogs::ChooseFile() {
  if (files.empty()) return std::nullopt;
  std::string file = files.front();
  files.pop_front();
  return file;
}
