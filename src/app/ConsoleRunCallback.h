// The console's side of a run: each entry on its own line, the share of
// entries started in the window title, questions answered by keys.
#pragma once

#include <string>

#include "base/RunCallback.h"
#include "base/StopRequest.h"

class CConsoleRunCallback : public IRunCallback {
 public:
  // The password answers every encrypted entry of a packed set.
  explicit CConsoleRunCallback(const std::string& password = std::string());
  ~CConsoleRunCallback() override;
  CConsoleRunCallback(const CConsoleRunCallback&) = delete;
  CConsoleRunCallback& operator=(const CConsoleRunCallback&) = delete;

  void StartEntry(const std::string& dottedPath, int number, int total) override;
  void SetCurrentPath(const std::string&) override {}
  bool ShouldStop() override { return m_stop.Requested(); }
  bool AskOverwrite(const std::string& path, OverwriteAnswer& answer) override;
  int AskFileError(const std::string& text, const std::string& caption, UINT style) override;
  bool GetArchivePassword(const std::string& entryName, std::string& password) override;
  void ShowFatalError(const std::string& text) override;
  // Into the log, counted for the exit status.
  void LogItemError(const std::string& text) override { ::LogItemError(text); }

  // From any thread: the run stops at its next check.
  void RequestStop() { m_stop.Request(); }
  // The run's one stop request, for its file system object and archive.
  CStopRequest& Stop() { return m_stop; }

 private:
  void ReadTitle();

  CStopRequest m_stop;
  std::string m_password;
  std::string m_title;
  bool m_haveTitle = false;
};
