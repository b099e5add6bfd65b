#include "app/Startup.h"

#include <windows.h>

#include "app/CommandLine.h"
#include "app/ConsoleRuns.h"
#include "app/Messages.h"
#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/Text.h"
#include "base/Win32Handle.h"
#include "catalogue/Registry.h"
#include "storage/RegistryFile.h"
#include "system/Reboot.h"
#include "system/Schedule.h"

namespace {

void PrintUsage() {
  for (const char* line : msg::kUsage) PrintMessage(line);
}

// "/sch": a silent backup with the settings the schedule page saved, into a
// new dated folder under the chosen backup folder. Returns why the backup
// must not run, or nullptr: a password that can't be read back must not
// turn into a backup without one.
const char* ApplyScheduleMode(CommandLine& line) {
  line.AddIfMissing("/s");
  line.AddIfMissing("/b");
  line.AddIfMissing("/y");

  const char* refusal = nullptr;
  ScheduleSettings settings = ReadScheduleSettings();
  if (settings.compress) {
    line.compress = true;
    line.level = settings.level;
    if (settings.passwordUnreadable) {
      refusal = msg::kSchedulePasswordUnreadable;
    } else if (!settings.password.empty()) {
      line.passwordGiven = true;
      line.password = settings.password;
    }
    WipeText(settings.password);
  }

  // An empty folder setting is no folder: it would put the backup into the
  // root of whatever drive is current.
  std::string folder = settings.backupPath;
  if (!folder.empty()) {
    folder = WithBackslashes(folder);
    if (folder.back() != '\\') folder += '\\';
    line.backupPath = folder + "Backup-" + FormatTimestamp("YMD-Hms");
  }
  SetScheduleMode(true);
  return refusal;
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH];
  DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  return std::string(buffer, length);
}

const int kExitFailed = static_cast<int>(RunOutcome::Failed);

// The exit status of the one operation the command line asks for; a
// backup with a `refusal` (a text) is refused with it.
int RunConsoleOperation(const CommandLine& line, const char* refusal,
                        const StartupOperations& operations) {
  if (line.Has("/?") || line.Has("/h")) {
    PrintUsage();
  } else if (line.Has("/b")) {
    if (refusal != nullptr) {
      PrintMessage(refusal);
      return kExitFailed;
    }
    if (line.compress && (line.level > 9 || line.level < -1)) {
      PrintMessage(msg::kInvalidLevel);
      return kExitFailed;
    }
    if (line.passwordGiven && line.password.empty()) {
      PrintMessage(msg::kInvalidPassword);
      return kExitFailed;
    }
    RunOutcome outcome = operations.runConsoleBackup(line.backupPath, line.compress, line.level,
                                                     line.passwordGiven, line.password);
    PrintMessage(msg::kBackupFinished);
    return static_cast<int>(outcome);
  } else if (line.Has("/r")) {
    if (line.passwordGiven && line.password.empty()) {
      PrintMessage(msg::kInvalidPassword);
      return kExitFailed;
    }
    RunOutcome outcome = operations.runConsoleRestore(line.backupPath, line.password);
    PrintMessage(msg::kRestoreFinished);
    if (line.Has("/reboot") && RebootNeeded()) {
      PrintMessage(msg::kRebooting);
      operations.reboot();
    }
    return static_cast<int>(outcome);
  } else if (line.Has("/i")) {
    // A failed import keeps its file: it may be the only copy of the keys.
    if (!operations.importRegistryFile(line.backupPath)) {
      PrintMessage(msg::kImportFailed);
      return kExitFailed;
    }
    if (line.Has("/del")) DeleteFileA(line.backupPath.c_str());
    PrintMessage(msg::kDone);
  } else if (line.Has("/e")) {
    if (line.exportKey.empty()) {
      PrintMessage(msg::kExportKeyEmpty);
      return kExitFailed;
    }
    if (!operations.exportRegistryKey(line.backupPath, line.exportKey)) {
      PrintMessage(msg::kExportFailed);
      return kExitFailed;
    }
    PrintMessage(msg::kDone);
  } else {
    PrintUsage();
  }
  return 0;
}

int RunConsoleMode(const CommandLine& line, const char* refusal, bool alreadyRunning,
                   const StartupOperations& operations) {
  SetWizardMode(false);
  if (line.Has("/y")) SetYesToAll(true);
  if (line.Has("/s")) {
    SetYesToAll(true);
    SetSilent(true);
  }
  if (line.Has("/k")) SetCloseRunningPrograms(true);
  if (!Silent()) SetConsoleTitleA(msg::kConsoleTitle);

  if (!OpenSystemOperations()) {
    PrintMessage(msg::kInitFailed);
    CloseSystemOperations();
    return 1;
  }
  if (alreadyRunning) {
    PrintMessage(msg::kAlreadyRunning);
    CloseSystemOperations();
    return 1;
  }
  if (!RegistryKeyExists(kInstallKey)) {
    PrintMessage(msg::kNotInstalled);
    CloseSystemOperations();
    return 1;
  }
  PrintMessage(msg::kBanner);
  // The path slot also names the file of /i and /e, so every operation needs it.
  int status = 0;
  if (line.switches.size() < 2 || line.backupPath.empty()) {
    PrintUsage();
  } else {
    status = RunConsoleOperation(line, refusal, operations);
  }
  CloseSystemOperations();
  return status;
}

void ShowErrorBox(const char* text) {
  Interaction().ShowMessageBox(NULL, text, kCaption, MB_OK | MB_ICONSTOP);
}

int RunWindowedMode(bool alreadyRunning, const StartupOperations& operations) {
  if (!OpenSystemOperations()) {
    ShowErrorBox(msg::kInitFailedBox);
    CloseSystemOperations();
    return 1;
  }
  if (alreadyRunning) {
    ShowErrorBox(msg::kAlreadyRunningBox);
  } else if (!RegistryKeyExists(kInstallKey)) {
    ShowErrorBox(msg::kNotInstalledBox);
  } else if (operations.runWizard) {
    operations.runWizard();
  }
  CloseSystemOperations();
  return 0;
}

}  // namespace

StartupOperations ConsoleOperations() {
  StartupOperations operations;
  operations.runConsoleBackup = RunConsoleBackup;
  operations.runConsoleRestore = RunConsoleRestore;
  operations.importRegistryFile = ImportRegistryFile;
  operations.exportRegistryKey = ExportRegistryKeyToFile;
  operations.reboot = [] { Reboot(); };
  return operations;
}

int RunStartup(const std::string& commandLine, const StartupOperations& operations) {
  ResetFlags();
  CHandle mutex(CreateMutexA(NULL, FALSE, kMutexName));
  bool alreadyRunning = GetLastError() == ERROR_ALREADY_EXISTS;

  CommandLine line = ParseCommandLine(commandLine);
  const char* refusal = line.Has("/sch") ? ApplyScheduleMode(line) : nullptr;
  SetStartDirectory(CurrentDirectory());

  int status = line.Has("/con") ? RunConsoleMode(line, refusal, alreadyRunning, operations)
                                : RunWindowedMode(alreadyRunning, operations);
  // The typed or scheduled password has done its work.
  WipeText(line.password);
  return status;
}
