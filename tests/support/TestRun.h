// A front end for tests that drive the storage objects and the runs: it
// hears nothing, refuses the overwrite and password questions, and puts
// file errors to the question sink. Tests override what they script.
#pragma once

#include <string>

#include "base/Interaction.h"
#include "base/RunCallback.h"
#include "base/Settings.h"

class CTestRun : public IRunCallback {
 public:
  void StartEntry(const std::string&, int, int) override {}
  void SetCurrentPath(const std::string&) override {}
  bool ShouldStop() override { return false; }
  bool AskOverwrite(const std::string&, OverwriteAnswer&) override { return false; }
  int AskFileError(const std::string& text, const std::string& caption, UINT style) override {
    return Ask(NULL, text, caption, style);
  }
  bool GetArchivePassword(const std::string&, std::string&) override { return false; }
  void LogItemError(const std::string& text) override { ::LogItemError(text); }
  void ShowFatalError(const std::string& text) override {
    Ask(NULL, text, kCaption, MB_OK | MB_ICONSTOP);
  }
};
