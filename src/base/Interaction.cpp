#include "base/Interaction.h"

#include <conio.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "base/Flags.h"
#include "base/SystemPaths.h"
#include "base/Win32Handle.h"

namespace {

class CSystemInteraction : public CInteraction {
 public:
  int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption,
                     UINT style) override {
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
  }

  int ReadKey() override {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == NULL || input == INVALID_HANDLE_VALUE) return -1;
    DWORD mode;
    if (GetConsoleMode(input, &mode)) {
      int key = _getch();
      if (key == 0 || key == 0xE0) {
        // A function or arrow key arrives as two codes; neither answers.
        _getch();
        return 0;
      }
      return key < 0 ? -1 : key;
    }
    // Standard input is a pipe or a file: its bytes are the keys.
    char key;
    DWORD read = 0;
    if (!ReadFile(input, &key, 1, &read, NULL) || read == 0) return -1;
    return static_cast<unsigned char>(key);
  }

  void WriteOutput(const std::string& text) override {
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
  }
};

CSystemInteraction g_systemInteraction;
CInteraction* g_interaction = &g_systemInteraction;

CStdFile g_log;
std::atomic<unsigned> g_itemErrors{0};
CLibrary g_shellLibrary;
FolderPathFunction g_folderPath = nullptr;

// Reads keys until one of `keys` (letter case ignored) comes; returns its
// index, or -1 when input has ended.
int WaitForKey(const char* keys) {
  for (;;) {
    int key = Interaction().ReadKey();
    if (key < 0) return -1;
    const char* hit = key > 0 ? std::strchr(keys, std::tolower(key)) : nullptr;
    if (hit != nullptr && *hit != '\0') return static_cast<int>(hit - keys);
  }
}

struct Question {
  const char* prompt;
  const char* keys;
  const int* answers;  // one per key
  int automatic;       // the answer under YesToAll
  int atEnd;           // the answer when no key can come: the one that changes nothing
};

const int kOkCancelAnswers[] = {IDOK, IDCANCEL};
const int kYesNoAnswers[] = {IDYES, IDNO};
const int kAbortRetryIgnoreAnswers[] = {IDABORT, IDRETRY, IDIGNORE};

const Question kOkCancel = {"\n([O]k/[C]ancel)\n", "oc", kOkCancelAnswers, IDOK, IDCANCEL};
const Question kYesNo = {"\n([Y]es/[N]o)\n", "yn", kYesNoAnswers, IDYES, IDNO};
const Question kAbortRetryIgnore = {"\n([A]bort/[R]etry/[I]gnore)\n", "ari",
                                    kAbortRetryIgnoreAnswers, IDIGNORE, IDABORT};

}  // namespace

CInteraction& Interaction() { return *g_interaction; }

CInteraction* SetInteraction(CInteraction* sink) {
  CInteraction* previous = g_interaction;
  g_interaction = sink != nullptr ? sink : &g_systemInteraction;
  return previous;
}

void PrintMessage(const std::string& text) {
  if (Silent()) {
    WriteLog(text);
  } else {
    Interaction().WriteOutput(text);
  }
}

void WriteLog(const std::string& text) {
  if (g_log.Get() == nullptr) return;
  std::string entry = FormatTimestamp("D/M/Y H:m:s");
  entry += ": ";
  entry += text;
  entry += "\n\n";
  fwrite(entry.data(), 1, entry.size(), g_log.Get());
  fflush(g_log.Get());
}

void LogItemError(const std::string& text) {
  ++g_itemErrors;
  WriteLog(text);
}

unsigned ItemErrorCount() { return g_itemErrors; }

void ResetItemErrors() { g_itemErrors = 0; }

void ShowNotice(const std::string& text, const std::string& caption) {
  if (!WizardMode()) {
    PrintMessage(text + "\n");
    return;
  }
  SetCursor(LoadCursor(NULL, IDC_ARROW));
  Interaction().ShowMessageBox(NULL, text, caption, MB_OK);
}

int Ask(HWND owner, const std::string& text, const std::string& caption, UINT style) {
  if (WizardMode()) return Interaction().ShowMessageBox(owner, text, caption, style);

  PrintMessage(text);
  const Question* question = nullptr;
  if (style & MB_OKCANCEL) {
    question = &kOkCancel;
  } else if (style & MB_YESNO) {
    question = &kYesNo;
  } else if (style & MB_ABORTRETRYIGNORE) {
    question = &kAbortRetryIgnore;
  }
  if (question == nullptr) {
    // A plain notice: any key ends the wait.
    PrintMessage("\n");
    if (!YesToAll()) Interaction().ReadKey();
    return IDOK;
  }
  PrintMessage(question->prompt);
  if (YesToAll()) return question->automatic;
  int index = WaitForKey(question->keys);
  return index < 0 ? question->atEnd : question->answers[index];
}

bool AskOverwrite(const std::string& path, OverwriteAnswer& answer) {
  PrintMessage("File " + path +
               " already exists! Overwrite? ([Y]es/[N]o/Yes to [A]ll/No to A[l]l/[C]ancel)");
  if (YesToAll()) {
    answer = OverwriteYesToAll;
    return true;
  }
  int index = WaitForKey("ynalc");
  PrintMessage("\n");
  static const OverwriteAnswer kAnswers[] = {OverwriteYes, OverwriteNo, OverwriteYesToAll,
                                             OverwriteNoToAll};
  if (index < 0 || index == 4) return false;
  answer = kAnswers[index];
  return true;
}

std::string FormatTimestampAt(const std::string& pattern, const SYSTEMTIME& time) {
  const size_t kLimit = 255;
  std::string out;
  char number[16];
  for (char letter : pattern) {
    int value;
    switch (letter) {
      case 'Y': value = time.wYear; break;
      case 'M': value = time.wMonth; break;
      case 'D': value = time.wDay; break;
      case 'H': value = time.wHour; break;
      case 'm': value = time.wMinute; break;
      case 's': value = time.wSecond; break;
      default: value = -1; break;
    }
    if (value < 0) {
      out += letter;
    } else {
      std::snprintf(number, sizeof number, letter == 'Y' ? "%d" : "%02d", value);
      out += number;
    }
    if (out.size() >= kLimit) {
      out.resize(kLimit);
      break;
    }
  }
  return out;
}

std::string FormatTimestamp(const std::string& pattern) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  return FormatTimestampAt(pattern, now);
}

std::string LogFilePath() { return TemporaryFolder() + "QMARK.log"; }

bool OpenSystemOperations() {
  CloseSystemOperations();
  std::string folder = TemporaryFolder();
  if (folder.empty()) return false;
  g_log.Reset(fopen((folder + "QMARK.log").c_str(), "a"));
  if (g_log.Get() == nullptr) return false;

  if (!g_shellLibrary.Load("shell32.dll")) return false;
  g_folderPath = g_shellLibrary.Find<FolderPathFunction>("SHGetFolderPathA");
  if (g_folderPath != nullptr) return true;

  // Older shells keep the function in the redistributable shfolder.dll.
  if (!g_shellLibrary.Load("shfolder.dll")) return false;
  g_folderPath = g_shellLibrary.Find<FolderPathFunction>("SHGetFolderPathA");
  return g_folderPath != nullptr;
}

void CloseSystemOperations() {
  g_shellLibrary.Reset();
  g_folderPath = nullptr;
  g_log.Reset();
}

FolderPathFunction GetFolderPathFunction() { return g_folderPath; }
