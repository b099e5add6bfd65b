#include "wizard/WizardRun.h"

#include "base/Text.h"
#include "base/Interaction.h"
#include "base/Settings.h"
#include "wizard/SmallDialogs.h"

CWizardRun::CWizardRun() : m_goOn(CreateEventA(NULL, TRUE, TRUE, NULL)) {}

CWizardRun::~CWizardRun() {
  ForgetArchivePassword();
  if (m_goOn != NULL) CloseHandle(m_goOn);
}

bool CWizardRun::ShouldStop() {
  if (m_goOn != NULL) WaitForSingleObject(m_goOn, INFINITE);
  return m_stop.Requested();
}

void CWizardRun::HoldAtChecks(bool hold) {
  if (m_goOn == NULL) return;
  if (hold)
    ResetEvent(m_goOn);
  else
    SetEvent(m_goOn);
}

void CWizardRun::SetWindow(HWND wizard) {
  m_window = wizard;
  m_windowThread = GetCurrentThreadId();
}

void CWizardRun::OnWindowThread(const std::function<void()>& work) {
  if (m_window == NULL || GetCurrentThreadId() == m_windowThread) {
    work();
    return;
  }
  SendMessageA(m_window, kRunOnWindowThread, 0, reinterpret_cast<LPARAM>(&work));
}

void CWizardRun::StartEntry(const std::string& dottedPath, int number, int total) {
  CLockScope hold(m_lock);
  m_progress.entry = dottedPath;
  m_progress.path.clear();
  m_progress.position = number;
  if (total > 0) m_progress.total = total;
}

void CWizardRun::SetCurrentPath(const std::string& path) {
  CLockScope hold(m_lock);
  m_progress.path = path;
}

void CWizardRun::ResetProgress(int total) {
  CLockScope hold(m_lock);
  m_progress = RunProgress();
  m_progress.total = total;
}

RunProgress CWizardRun::Progress() const {
  CLockScope hold(m_lock);
  return m_progress;
}

bool CWizardRun::AskOverwrite(const std::string& path, OverwriteAnswer& answer) {
  bool goOn = false;
  OnWindowThread([&] { goOn = ConfirmOverwrite(m_window, path, answer); });
  return goOn;
}

int CWizardRun::AskFileError(const std::string& text, const std::string& caption, UINT style) {
  int pressed = IDABORT;
  OnWindowThread([&] { pressed = Ask(m_window, text, caption, style); });
  return pressed;
}

bool CWizardRun::GetArchivePassword(const std::string&, std::string& password) {
  bool given = false;
  OnWindowThread([&] {
    if (m_archivePassword.empty()) {
      CPassword dialog;
      if (dialog.Run(m_window) != IDOK) return;
      m_archivePassword = dialog.password;
    }
    password = m_archivePassword;
    given = true;
  });
  return given;
}

void CWizardRun::ForgetArchivePassword() {
  WipeText(m_archivePassword);
}

void CWizardRun::ShowFatalError(const std::string& text) {
  OnWindowThread([&] { Ask(m_window, text, kCaption, MB_OK | MB_ICONSTOP); });
}

void CWizardRun::LogItemError(const std::string& text) { ::LogItemError(text); }
