#include "system/Schedule.h"

#include <windows.h>
#include <mstask.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/Text.h"
#include "base/ComHandle.h"
#include "base/Flags.h"
#include "base/Interaction.h"
#include "base/Settings.h"
#include "base/SystemPaths.h"
#include "base/UserSecret.h"
#include "base/Win32Handle.h"
#include "catalogue/PathVariables.h"
#include "catalogue/Registry.h"

namespace {

// ------------------------------------------------------------ texts and names

const char kTaskComment[] = "Please set the program run time(s) on the \"Schedule\" tab";
const char kSchedulerDisabled[] =
    "Task Scheduler is disabled. You must enable Task Scheduler to schedule a backup!";
const char kCouldntCreateTask[] =
    "Couldn't create task. Verify that the Task Scheduler is running and that you have the "
    "necessary rights.";
const char kCouldntEditTask[] =
    "Couldn't edit task. Verify that the Task Scheduler is running and that you have the "
    "necessary rights.";
const char kScheduledAt[] = "A backup has been successfully scheduled to run daily at ";
const char kEditProperties[] = ". Do you want to edit additional properties?";
const char kAccountPasswordTitle[] = "Enter account password for ";
const char kTaskNameUserPart[] = " For ";
const char kCloseProgramsSwitch[] = " /k";

const char kBackupPathValue[] = "BackupPath";
const char kCompressValue[] = "Compress";
const char kEncryptValue[] = "Encrypt";
const char kScheduledFolder[] = "Quillmark\\Scheduled Backups";
// Given again to unseal the password: binds the sealed value to this use.
const char kPasswordPurpose[] = "Tervane Quillmark scheduled backup";

// The 95 family's System Agent, which runs scheduled tasks there.
const char kAgentWindowClass[] = "SAGEWINDOWCLASS";
const char kAgentWindowTitle[] = "SYSTEM AGENT COM WINDOW";
const char kAgentProgram[] = "mstask.exe";
const char kSchedulerService[] = "Schedule";

// A just started service gets ten looks, half a second apart; running at
// any of them, the last included, counts as started.
const int kServiceChecks = 10;
const DWORD kServiceCheckPause = 500;
const DWORD kLogonNameBuffer = 256;

// ------------------------------------------------------------ owned resources

// Text for the Task Scheduler, which takes UTF-16 only. Passwords are wiped
// from it when it goes.
class CWideText {
 public:
  explicit CWideText(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, NULL, 0);
    m_text.assign(length > 0 ? length : 1, L'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &m_text[0], length);
  }
  CWideText(const CWideText&) = delete;
  CWideText& operator=(const CWideText&) = delete;
  ~CWideText() { SecureZeroMemory(&m_text[0], m_text.size() * sizeof(wchar_t)); }
  const wchar_t* Get() const { return m_text.data(); }

 private:
  std::vector<wchar_t> m_text;
};

// ------------------------------------------------------------ Task Scheduler

bool SystemAgentRuns() {
  return FindWindowA(kAgentWindowClass, kAgentWindowTitle) != NULL;
}

// The 95 family: the System Agent runs scheduled tasks while its window
// exists; otherwise it is started and left to come up on its own.
bool EnsureSystemAgent() {
  if (SystemAgentRuns()) return true;
  char program[MAX_PATH];
  char* filePart = nullptr;
  DWORD length = SearchPathA(NULL, kAgentProgram, NULL, sizeof program, program, &filePart);
  // A path that doesn't fit is reported by its length and not written.
  if (length == 0 || length >= sizeof program) return false;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(program, NULL, NULL, NULL, FALSE,
                      CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, NULL, NULL, &startup,
                      &process))
    return false;
  CHandle thread(process.hThread);
  CHandle child(process.hProcess);
  return true;
}

bool QueryServiceState(SC_HANDLE service, DWORD& state) {
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service, &status)) return false;
  state = status.dwCurrentState;
  return true;
}

// NT: the "Schedule" service, started when it isn't running and this user
// may start it.
bool EnsureSchedulerService() {
  CServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
  if (manager.Get() == NULL) return false;
  bool mayStart = true;
  CServiceHandle service(
      OpenServiceA(manager.Get(), kSchedulerService, SERVICE_QUERY_STATUS | SERVICE_START));
  if (service.Get() == NULL) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;
    service.Reset(OpenServiceA(manager.Get(), kSchedulerService, SERVICE_QUERY_STATUS));
    if (service.Get() == NULL) return false;
    mayStart = false;
  }
  manager.Reset();

  DWORD state;
  if (!QueryServiceState(service.Get(), state)) return false;
  if (state == SERVICE_RUNNING) return true;
  if (!mayStart) return false;
  if (!StartServiceA(service.Get(), 0, NULL)) return false;
  for (int check = 1; check <= kServiceChecks; ++check) {
    // A service that can no longer be asked is taken at its start's word.
    if (!QueryServiceState(service.Get(), state)) return true;
    if (state == SERVICE_RUNNING) return true;
    if (check < kServiceChecks) Sleep(kServiceCheckPause);
  }
  return false;
}

bool CreateTaskScheduler(CComRef<ITaskScheduler>& scheduler) {
  return SUCCEEDED(CreateComObject(CLSID_CTaskScheduler, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                   scheduler.ReceiveVoid()));
}

// One daily trigger from `start`'s day, hour and minute on; nothing else set.
bool AddDailyTrigger(ITask* task, const SYSTEMTIME& start) {
  WORD index = 0;
  CComRef<ITaskTrigger> trigger;
  if (FAILED(task->CreateTrigger(&index, trigger.Receive()))) return false;
  TASK_TRIGGER daily = {};
  daily.cbTriggerSize = sizeof daily;
  daily.wBeginYear = start.wYear;
  daily.wBeginMonth = start.wMonth;
  daily.wBeginDay = start.wDay;
  daily.wStartHour = start.wHour;
  daily.wStartMinute = start.wMinute;
  daily.TriggerType = TASK_TIME_TRIGGER_DAILY;
  daily.Type.Daily.DaysInterval = 1;
  return SUCCEEDED(trigger->SetTrigger(&daily));
}

bool DescribeTask(ITask* task, const ScheduledTask& description) {
  return SUCCEEDED(task->SetApplicationName(CWideText(description.application).Get())) &&
         SUCCEEDED(task->SetParameters(CWideText(description.parameters).Get())) &&
         SUCCEEDED(task->SetWorkingDirectory(CWideText(description.workingDirectory).Get())) &&
         SUCCEEDED(task->SetComment(CWideText(description.comment).Get()));
}

// ------------------------------------------------------------ setup helpers

void ShowError(HWND owner, const char* text) {
  Ask(owner, text, kCaption, MB_OK | MB_ICONSTOP);
}

std::string TwoDigits(WORD number) {
  char text[8];
  std::snprintf(text, sizeof text, "%02u", static_cast<unsigned>(number));
  return text;
}

}  // namespace

// The scheduler service reads a task's file when it changes, so deleting or
// saving right after another change can meet the file still open there: a
// failed step is tried again for a short while.
template <class Step>
HRESULT WithRetries(Step step) {
  HRESULT result = step();
  for (int attempt = 1; FAILED(result) && result != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) &&
                        attempt < 20;
       ++attempt) {
    Sleep(50);
    result = step();
  }
  return result;
}

namespace {

std::optional<DWORD> PlatformId() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return std::nullopt;
  return version.dwPlatformId;
}

// Takes a task out again that must not run.
void DeleteScheduledTask(const std::string& name) {
  CComSession com;
  CComRef<ITaskScheduler> scheduler;
  if (!com.Ready() || !CreateTaskScheduler(scheduler)) return;
  CWideText wide(name);
  WithRetries([&] { return scheduler->Delete(wide.Get()); });
}

}  // namespace

bool EnsureTaskScheduler() {
  std::optional<DWORD> platform = PlatformId();
  if (!platform) return false;
  if (*platform == VER_PLATFORM_WIN32_WINDOWS) return EnsureSystemAgent();
  return EnsureSchedulerService();
}

bool CreateScheduledTask(const ScheduledTask& description, const SYSTEMTIME& start) {
  CComSession com;
  if (!com.Ready()) return false;
  CComRef<ITask> task;
  {
    CComRef<ITaskScheduler> scheduler;
    if (!CreateTaskScheduler(scheduler)) return false;
    CWideText name(description.name);
    HRESULT deleted = WithRetries([&] { return scheduler->Delete(name.Get()); });
    if (FAILED(deleted) && deleted != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return false;
    if (FAILED(WithRetries([&] {
          return scheduler->NewWorkItem(name.Get(), CLSID_CTask, IID_ITask, task.ReceiveUnknown());
        })))
      return false;
  }
  if (!DescribeTask(task.Get(), description)) return false;
  if (!AddDailyTrigger(task.Get(), start)) return false;
  if (!description.account.empty()) {
    CWideText account(description.account);
    CWideText password(description.password);
    if (FAILED(task->SetAccountInformation(account.Get(), password.Get()))) return false;
  }
  CComRef<IPersistFile> file;
  if (FAILED(task->QueryInterface(IID_IPersistFile, file.ReceiveVoid()))) return false;
  return SUCCEEDED(WithRetries([&] { return file->Save(NULL, TRUE); }));
}

bool CreateScheduledTask(const ScheduledTask& description) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return CreateScheduledTask(description, now);
}

bool EditScheduledTask(const std::string& name, HWND owner) {
  CComSession com;
  if (!com.Ready()) return false;
  CComRef<ITask> task;
  {
    CComRef<ITaskScheduler> scheduler;
    if (!CreateTaskScheduler(scheduler)) return false;
    if (FAILED(scheduler->Activate(CWideText(name).Get(), IID_ITask, task.ReceiveUnknown())))
      return false;
  }
  return SUCCEEDED(task->EditWorkItem(owner, 0));
}

namespace {

// Sealed where the system can seal it; plain text (as earlier versions wrote
// it) only where it can't. A system that can seal but refuses fails the
// write: the password is never left readable where it could be protected.
bool WriteSchedulePassword(const std::string& path, const std::string& password) {
  if (password.empty() || !CanProtectForUser())
    return WriteRegistryValue(path, password.c_str(), 0);
  std::optional<std::string> sealed = ProtectForUser(password, kPasswordPurpose);
  return sealed && !sealed->empty() && WriteRegistryValue(path, sealed->data(), sealed->size());
}

// Text of any string type as before; binary is the sealed form. Nothing when
// sealed data can't be unsealed.
std::optional<std::string> ReadSchedulePassword(const std::string& path) {
  std::optional<RegistryData> stored = ReadRegistryData(path);
  if (!stored) return std::string();
  if (stored->type == REG_BINARY) return UnprotectForUser(stored->bytes, kPasswordPurpose);
  std::string text = stored->bytes.substr(0, stored->bytes.find('\0'));
  WipeText(stored->bytes);
  return text;
}

}  // namespace

bool WriteScheduleSettings(const ScheduleSettings& settings) {
  const std::string key = kScheduleKey;
  if (!CreateRegistryKey(key)) return false;
  std::string compress = settings.compress ? std::to_string(settings.level) : std::string();
  std::string encrypt = settings.compress ? settings.password : std::string();
  bool written =
      WriteRegistryValue(key + "\\" + kBackupPathValue, settings.backupPath.c_str(), 0) &&
      WriteRegistryValue(key + "\\" + kCompressValue, compress.c_str(), 0) &&
      WriteSchedulePassword(key + "\\" + kEncryptValue, encrypt);
  WipeText(encrypt);
  return written;
}

ScheduleSettings ReadScheduleSettings() {
  const std::string key = kScheduleKey;
  ScheduleSettings settings;
  settings.backupPath = ReadRegistryValue(key + "\\" + kBackupPathValue).value_or("");
  std::string compress = ReadRegistryValue(key + "\\" + kCompressValue).value_or("");
  if (!compress.empty()) {
    settings.compress = true;
    settings.level = static_cast<int>(std::strtol(compress.c_str(), nullptr, 10));
    std::optional<std::string> password = ReadSchedulePassword(key + "\\" + kEncryptValue);
    if (password) {
      settings.password = *password;
      WipeText(*password);
    } else {
      settings.passwordUnreadable = true;
    }
  }
  return settings;
}

int MethodCompressionLevel(int methodIndex) {
  static const int kLevels[] = {-1, 9, 1, 0};  // Default, Best Compression, Best Speed, Store
  if (methodIndex < 0 || methodIndex >= static_cast<int>(sizeof kLevels / sizeof kLevels[0]))
    return kLevels[0];
  return kLevels[methodIndex];
}

std::string DefaultScheduleFolder() {
  std::optional<std::string> root = ReadRegistryValue(kSchedulerRootValue);
  if (root) return *root;
  std::optional<std::string> documents = GetSpecialFolder("MyDocuments");
  if (!documents || documents->empty()) return std::string();
  if (documents->back() != '\\') *documents += '\\';
  return *documents + kScheduledFolder;
}

std::optional<std::string> LogonName() {
  char name[kLogonNameBuffer];
  DWORD size = sizeof name;
  if (!GetUserNameA(name, &size) || name[0] == '\0') return std::nullopt;
  return std::string(name);
}

std::string ScheduledTaskName(const std::optional<std::string>& logonName) {
  std::string name = kScheduledTaskName;
  if (logonName) name += kTaskNameUserPart + *logonName;
  return name;
}

ScheduleOutcome SetUpSchedule(HWND owner, const ScheduleRequest& request,
                              const AccountPasswordPrompt& askAccountPassword) {
  if (!EnsureTaskScheduler()) {
    ShowError(owner, kSchedulerDisabled);
    return ScheduleOutcome::StayOnPage;
  }

  ScheduledTask task;
  std::string program = ProgramPath();
  std::optional<std::string> logonName = LogonName();
  task.name = ScheduledTaskName(logonName);
  // The 95 family runs tasks without accounts, and refuses one.
  if (logonName && PlatformId() != DWORD(VER_PLATFORM_WIN32_WINDOWS)) {
    std::optional<std::string> password = askAccountPassword(kAccountPasswordTitle + *logonName);
    if (!password) return ScheduleOutcome::StayOnPage;
    task.account = *logonName;
    task.password = *password;
    WipeText(*password);
  }
  task.application = program;
  task.parameters = kScheduledTaskParameters;
  if (request.closePrograms) task.parameters += kCloseProgramsSwitch;
  task.workingDirectory = StartDirectory();
  task.comment = kTaskComment;

  SYSTEMTIME start;
  GetLocalTime(&start);
  // A task without its program would start nothing; and settings that
  // couldn't be stored would leave the task running the previous backup.
  bool created = !program.empty() && CreateScheduledTask(task, start);
  WipeText(task.password);
  if (!created || !WriteScheduleSettings(request.settings)) {
    if (created) DeleteScheduledTask(task.name);
    ShowError(owner, kCouldntCreateTask);
    return ScheduleOutcome::StayOnPage;
  }

  std::string question = kScheduledAt + TwoDigits(start.wHour) + ":" + TwoDigits(start.wMinute) +
                         kEditProperties;
  if (Ask(owner, question, kCaption, MB_YESNO | MB_ICONQUESTION) == IDYES &&
      !EditScheduledTask(task.name, owner)) {
    ShowError(owner, kCouldntEditTask);
    return ScheduleOutcome::StayOnPage;
  }
  return ScheduleOutcome::Scheduled;
}
