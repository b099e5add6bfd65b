#include "app/ConsoleRunCallback.h"

#include <windows.h>

#include "base/Interaction.h"
#include "base/Settings.h"
#include "base/Text.h"

namespace {

const DWORD kTitleRoom = 256;

}  // namespace

CConsoleRunCallback::CConsoleRunCallback(const std::string& password) : m_password(password) {}

// The run's copy of the password goes with the run.
CConsoleRunCallback::~CConsoleRunCallback() { WipeText(m_password); }

void CConsoleRunCallback::StartEntry(const std::string& dottedPath, int number, int total) {
  // The title the run found is what the percentage is added to.
  if (number == 1) ReadTitle();
  // Shown even when silent: the progress lines are the console's own.
  Interaction().WriteOutput(dottedPath + "\n");
  if (m_haveTitle && total > 0) {
    char percent[32];
    wsprintfA(percent, " - %d%%", number * 100 / total);
    SetConsoleTitleA((m_title + percent).c_str());
  }
}

void CConsoleRunCallback::ReadTitle() {
  char title[kTitleRoom] = "";
  SetLastError(ERROR_SUCCESS);
  // No console at all is the only case without a title; a long one is cut.
  m_haveTitle = GetConsoleTitleA(title, kTitleRoom) > 0 || GetLastError() == ERROR_SUCCESS;
  title[kTitleRoom - 1] = '\0';
  m_title = m_haveTitle ? title : "";
}

bool CConsoleRunCallback::AskOverwrite(const std::string& path, OverwriteAnswer& answer) {
  return ::AskOverwrite(path, answer);
}

int CConsoleRunCallback::AskFileError(const std::string& text, const std::string& caption,
                                      UINT style) {
  return Ask(NULL, text, caption, style);
}

bool CConsoleRunCallback::GetArchivePassword(const std::string&, std::string& password) {
  password = m_password;
  return true;
}

void CConsoleRunCallback::ShowFatalError(const std::string& text) {
  Ask(NULL, text, kCaption, MB_OK | MB_ICONSTOP);
}

