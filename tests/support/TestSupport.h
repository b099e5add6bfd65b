// Small helpers shared by the test programs.
#pragma once

#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "base/Interaction.h"

// Answers questions from a script and records everything shown.
class CScriptedInteraction : public CInteraction {
 public:
  struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
  };

  CScriptedInteraction() { m_previous = SetInteraction(this); }
  ~CScriptedInteraction() override { SetInteraction(m_previous); }

  void QueueKeys(const std::string& keys) {
    for (char key : keys) m_keys.push_back(static_cast<unsigned char>(key));
  }
  void QueueBoxAnswer(int answer) { m_boxAnswers.push_back(answer); }

  int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption,
                     UINT style) override {
    boxes.push_back({owner, text, caption, style});
    if (m_boxAnswers.empty()) return IDOK;
    int answer = m_boxAnswers.front();
    m_boxAnswers.pop_front();
    return answer;
  }
  int ReadKey() override {
    ++keysRead;
    if (m_keys.empty()) return -1;
    int key = m_keys.front();
    m_keys.pop_front();
    return key;
  }
  void WriteOutput(const std::string& text) override { output += text; }

  std::string output;
  std::vector<Box> boxes;
  int keysRead = 0;

 private:
  CInteraction* m_previous;
  std::deque<int> m_keys;
  std::deque<int> m_boxAnswers;
};

// A new empty folder, made the process's temporary folder (so the log file
// lands there) for the object's lifetime, then removed with its contents.
class CTemporaryFolder {
 public:
  CTemporaryFolder();
  ~CTemporaryFolder();
  const std::string& Path() const { return m_path; }  // ends with a backslash

 private:
  std::string m_path;
  std::string m_oldTmp, m_oldTemp;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& data);
bool FileExists(const std::string& path);
// Removes a registry key with everything below it ("HKEY_CURRENT_USER\...").
void DeleteKeyTree(const std::string& path);
// The restart's pending renames (PendingFileRenameOperations), read and
// put back as found, so that no later restart of the prefix acts on what a
// test arranged.
std::string ReadPendingRenames(bool& present);
void RestorePendingRenames(bool present, const std::string& data);
// The folder of the running test program, with a trailing backslash.
std::string ProgramFolder();
// Splits text into lines at "\r\n".
std::vector<std::string> SplitLines(const std::string& text);

struct Finished {
  DWORD status;
  std::string output;  // standard output and standard error
};

// Runs a command line (searched on the path) and waits for it; `input` is
// its whole standard input, closed after it.
// Started in `folder` when given, else in the test's own current folder.
Finished RunCommand(const std::string& commandLine, const std::string& input = std::string(),
                    const std::string& folder = std::string());
// Runs a program of the build, found beside the test program.
Finished RunProgram(const std::string& program, const std::string& arguments,
                    const std::string& input = std::string());
