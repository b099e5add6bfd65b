// How a backup or restore run talks to the front end that started it. The
// console implements it with lines, the window title and keys; the wizard
// with its progress page and message boxes. Every call comes on the run's
// own thread.
#pragma once

#include <windows.h>

#include <string>

#include "base/Interaction.h"

class IRunCallback {
 public:
  virtual ~IRunCallback() = default;

  // A selected entry begins: its dotted path ("Office.Mail"), its number
  // counting from 1, and how many entries are selected.
  virtual void StartEntry(const std::string& dottedPath, int number, int total) = 0;
  // The item being worked on, expanded.
  virtual void SetCurrentPath(const std::string& path) = 0;
  // Whether the user has asked the run to stop; read between entries and
  // items.
  virtual bool ShouldStop() = 0;
  // A target file exists; false cancels the run, else `answer` says what
  // to do with this file (and the ones after it, for the "all" answers).
  virtual bool AskOverwrite(const std::string& path, OverwriteAnswer& answer) = 0;
  // A file that can't be opened, read or written: the question or notice
  // with the message-box style, answered with its button code (IDABORT,
  // IDRETRY, IDIGNORE, IDOK).
  virtual int AskFileError(const std::string& text, const std::string& caption, UINT style) = 0;
  // The password of an encrypted archive entry; false when none is given.
  virtual bool GetArchivePassword(const std::string& entryName, std::string& password) = 0;
  // The error that ends the run, shown once.
  virtual void ShowFatalError(const std::string& text) = 0;
  // An item, or a file of one, that couldn't be saved or restored; the
  // text is the log line.
  virtual void LogItemError(const std::string& text) = 0;
};
