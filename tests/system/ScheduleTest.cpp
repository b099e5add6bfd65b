#include "system/Schedule.h"

#include <gtest/gtest.h>
#include <mstask.h>
#include <objbase.h>

#include <optional>
#include <regex>
#include <string>
#include <utility>

#include "app/Startup.h"
#include "base/ComHandle.h"
#include "base/Flags.h"
#include "base/Win32Handle.h"
#include "catalogue/CatalogueEntry.h"
#include "catalogue/PathVariables.h"
#include "catalogue/Registry.h"
#include "support/TestSupport.h"
#include "system/ItemSelection.h"

namespace {

const char kTestTask[] = "Quillmark Test Task";
const char kSettingsRoot[] = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark";

// ------------------------------------------------------------ reading tasks back

std::string Narrow(const wchar_t* text) {
  if (text == nullptr) return std::string();
  int size = WideCharToMultiByte(CP_ACP, 0, text, -1, NULL, 0, NULL, NULL);
  std::string narrow(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], size, NULL, NULL);
  return narrow;
}

std::wstring Wide(const std::string& text) {
  int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, NULL, 0);
  std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
  if (size > 1) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], size);
  return wide;
}

// A string the Task Scheduler hands out through `get`, taken over and freed.
template <typename Getter>
std::string TakeText(Getter get) {
  wchar_t* text = nullptr;
  std::string narrow = SUCCEEDED(get(&text)) ? Narrow(text) : "<failed>";
  CoTaskMemFree(text);
  return narrow;
}

struct StoredTask {
  std::string application, parameters, workingDirectory, comment;
  WORD triggers = 0;
  TASK_TRIGGER trigger = {};
};

// The task as the Task Scheduler has it stored, read through its own
// interfaces; nothing when it can't be opened.
std::optional<StoredTask> ReadStoredTask(const std::string& name) {
  CComSession com;
  if (!com.Ready()) return std::nullopt;
  CComRef<ITaskScheduler> scheduler;
  CComRef<ITask> task;
  if (FAILED(CoCreateInstance(CLSID_CTaskScheduler, NULL, CLSCTX_INPROC_SERVER,
                              IID_ITaskScheduler, scheduler.ReceiveVoid())) ||
      FAILED(scheduler->Activate(Wide(name).c_str(), IID_ITask, task.ReceiveUnknown())))
    return std::nullopt;
  StoredTask stored;
  stored.application = TakeText([&](wchar_t** text) { return task->GetApplicationName(text); });
  stored.parameters = TakeText([&](wchar_t** text) { return task->GetParameters(text); });
  stored.workingDirectory =
      TakeText([&](wchar_t** text) { return task->GetWorkingDirectory(text); });
  stored.comment = TakeText([&](wchar_t** text) { return task->GetComment(text); });
  task->GetTriggerCount(&stored.triggers);
  CComRef<ITaskTrigger> trigger;
  if (stored.triggers > 0 && SUCCEEDED(task->GetTrigger(0, trigger.Receive()))) {
    stored.trigger.cbTriggerSize = sizeof stored.trigger;
    trigger->GetTrigger(&stored.trigger);
  }
  return stored;
}

void DeleteStoredTask(const std::string& name) {
  CComSession com;
  if (!com.Ready()) return;
  CComRef<ITaskScheduler> scheduler;
  if (SUCCEEDED(CoCreateInstance(CLSID_CTaskScheduler, NULL, CLSCTX_INPROC_SERVER,
                                 IID_ITaskScheduler, scheduler.ReceiveVoid())))
    scheduler->Delete(Wide(name).c_str());
}

// Where the Task Scheduler keeps a task.
std::string TaskFile(const std::string& name) {
  char windows[MAX_PATH];
  GetWindowsDirectoryA(windows, sizeof windows);
  return std::string(windows) + "\\Tasks\\" + name + ".job";
}

DWORD TaskFileSize(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExA(TaskFile(name).c_str(), GetFileExInfoStandard, &data);
  return data.nFileSizeLow;
}

// How many task files the Task Scheduler keeps under names starting so.
int StoredTaskFiles(const std::string& namePrefix) {
  CFind find(TaskFile(namePrefix + "*"));
  if (!find.Valid()) return 0;
  int count = 0;
  do ++count;
  while (find.Next());
  return count;
}

bool RunsUnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
}

bool Runs95Family() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

std::string ThisProgram() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  return std::string(path, length);
}

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
  SYSTEMTIME time = {};
  time.wYear = year;
  time.wMonth = month;
  time.wDay = day;
  time.wHour = hour;
  time.wMinute = minute;
  return time;
}

std::string ScheduleValue(const char* name) {
  return ReadRegistryValue(std::string(kScheduleKey) + "\\" + name).value_or("<missing>");
}

// A schedule value as the registry has it: its type and bytes.
struct StoredValue {
  DWORD type = REG_NONE;
  std::string bytes;
};
StoredValue StoredScheduleValue(const char* name) {
  StoredValue stored;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tervane\\Quillmark\\Schedule", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return stored;
  char data[4096];
  DWORD size = sizeof data;
  if (RegQueryValueExA(key, name, NULL, &stored.type, reinterpret_cast<BYTE*>(data), &size) ==
      ERROR_SUCCESS)
    stored.bytes.assign(data, size);
  RegCloseKey(key);
  return stored;
}

// Sealed: a binary value in which the password's text appears nowhere.
void ExpectSealed(const std::string& password) {
  StoredValue stored = StoredScheduleValue("Encrypt");
  EXPECT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
  EXPECT_FALSE(stored.bytes.empty());
  EXPECT_EQ(std::string::npos, stored.bytes.find(password)) << "the password in plain bytes";
}

// ------------------------------------------------------------ COM owners

// Counts its references instead of freeing itself.
class CCountedObject : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;
};

TEST(ComOwners, EachReferenceIsReleasedOnceByItsLastOwner) {
  CCountedObject first, second;
  {
    CComRef<IUnknown> source(&first);
    CComRef<IUnknown> owner(std::move(source));
    EXPECT_EQ(nullptr, source.Get());
    EXPECT_EQ(1u, first.references) << "the move released the reference";
    owner.Reset(&second);
    EXPECT_EQ(0u, first.references);

    IUnknown* handedOut = owner.Release();
    EXPECT_EQ(&second, handedOut);
    EXPECT_EQ(1u, second.references) << "Release released the reference it handed out";
    owner.Reset(handedOut);
    IUnknown** slot = owner.ReceiveUnknown();
    EXPECT_EQ(0u, second.references) << "receiving kept the old reference";
    EXPECT_EQ(nullptr, *slot);
    first.AddRef();  // as a function handing out an interface does
    *slot = &first;
  }
  EXPECT_EQ(0u, first.references);
  EXPECT_EQ(0u, second.references);
}

// On a thread of its own, so that the apartment it joins is known.
DWORD WINAPI SessionInsideTheMultithreadedApartment(LPVOID result) {
  HRESULT& outcome = *static_cast<HRESULT*>(result);
  if (FAILED(CoInitializeEx(NULL, COINIT_MULTITHREADED))) return 0;
  {
    CComSession session;
    EXPECT_FALSE(session.Ready());
  }
  // Still in the apartment: joining again answers S_FALSE, not S_OK.
  outcome = CoInitializeEx(NULL, COINIT_MULTITHREADED);
  if (SUCCEEDED(outcome)) CoUninitialize();
  CoUninitialize();
  return 0;
}

TEST(ComOwners, ASessionRefusedOnThisThreadLeavesItsApartmentAlone) {
  HRESULT outcome = E_UNEXPECTED;
  CHandle thread(CreateThread(NULL, 0, SessionInsideTheMultithreadedApartment, &outcome, 0, NULL));
  ASSERT_TRUE(thread.Valid());
  WaitForSingleObject(thread.Get(), INFINITE);
  EXPECT_EQ(S_FALSE, outcome);
}

// ------------------------------------------------------------ the service

DWORD SchedulerServiceState() {
  CServiceHandle manager(OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT));
  CServiceHandle service(OpenServiceA(manager.Get(), "Schedule", SERVICE_QUERY_STATUS));
  SERVICE_STATUS status = {};
  QueryServiceStatus(service.Get(), &status);
  return status.dwCurrentState;
}

// The service can't be stopped from here (Wine's doesn't take the stop
// request), so the start is seen only when this test is the first to need
// the Task Scheduler after the computer started.
TEST(TaskSchedulerService, IsRunningAfterwards) {
  if (Runs95Family()) GTEST_SKIP() << "the NT family's service";
  DWORD before = SchedulerServiceState();
  EXPECT_TRUE(EnsureTaskScheduler());
  EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), SchedulerServiceState());
  EXPECT_TRUE(EnsureTaskScheduler());
  RecordProperty("startedHere", before != SERVICE_RUNNING ? "yes" : "no");
}

// ------------------------------------------------------------ the task

class ScheduledTasks : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Runs95Family()) GTEST_SKIP() << "the NT family's Task Scheduler";
    ASSERT_TRUE(EnsureTaskScheduler());
    DeleteStoredTask(kTestTask);
    task.name = kTestTask;
    task.application = ThisProgram();
    task.parameters = "/con /sch /k";
    task.workingDirectory = "C:\\windows";
    task.comment = "Please set the program run time(s) on the \"Schedule\" tab";
  }
  void TearDown() override { DeleteStoredTask(kTestTask); }

  ScheduledTask task;
};

TEST_F(ScheduledTasks, CreatedWithItsProgramAndOneDailyTrigger) {
  ASSERT_TRUE(CreateScheduledTask(task, At(2031, 3, 14, 6, 5)));

  std::optional<StoredTask> stored = ReadStoredTask(kTestTask);
  ASSERT_TRUE(stored);
  EXPECT_EQ(ThisProgram(), stored->application);
  EXPECT_EQ("/con /sch /k", stored->parameters);
  EXPECT_EQ("C:\\windows", stored->workingDirectory);
  EXPECT_EQ(task.comment, stored->comment);
  ASSERT_EQ(1, stored->triggers);
  const TASK_TRIGGER& trigger = stored->trigger;
  EXPECT_EQ(TASK_TIME_TRIGGER_DAILY, trigger.TriggerType);
  EXPECT_EQ(1, trigger.Type.Daily.DaysInterval);
  EXPECT_EQ(2031, trigger.wBeginYear);
  EXPECT_EQ(3, trigger.wBeginMonth);
  EXPECT_EQ(14, trigger.wBeginDay);
  EXPECT_EQ(6, trigger.wStartHour);
  EXPECT_EQ(5, trigger.wStartMinute);
  // No end, no repetition, no flags.
  EXPECT_EQ(0, trigger.wEndYear);
  EXPECT_EQ(0u, trigger.MinutesDuration);
  EXPECT_EQ(0u, trigger.MinutesInterval);
  EXPECT_EQ(0u, trigger.rgFlags);
  EXPECT_EQ(0, trigger.wRandomMinutesInterval);
}

TEST_F(ScheduledTasks, SchedulingAgainReplacesTheTask) {
  std::string comment = task.comment;
  task.comment = std::string(400, 'c');
  ASSERT_TRUE(CreateScheduledTask(task, At(2031, 3, 14, 6, 5)));
  DWORD oldSize = TaskFileSize(kTestTask);
  task.comment = comment;
  task.parameters = "/con /sch";
  task.workingDirectory = "C:\\users";
  ASSERT_TRUE(CreateScheduledTask(task, At(2031, 4, 1, 23, 59)));

  // A new file, not the old one written over.
  EXPECT_EQ(1, StoredTaskFiles(kTestTask));
  EXPECT_LT(TaskFileSize(kTestTask), oldSize - 600);
  std::optional<StoredTask> stored = ReadStoredTask(kTestTask);
  ASSERT_TRUE(stored);
  EXPECT_EQ("/con /sch", stored->parameters);
  EXPECT_EQ("C:\\users", stored->workingDirectory);
  ASSERT_EQ(1, stored->triggers);
  EXPECT_EQ(4, stored->trigger.wBeginMonth);
  EXPECT_EQ(1, stored->trigger.wBeginDay);
  EXPECT_EQ(23, stored->trigger.wStartHour);
  EXPECT_EQ(59, stored->trigger.wStartMinute);
}

TEST_F(ScheduledTasks, EditingNeedsTheTaskAndItsPropertySheet) {
  EXPECT_FALSE(EditScheduledTask(kTestTask, NULL));
  // Windows would open the sheet and wait for the user; Wine has none.
  if (!RunsUnderWine()) GTEST_SKIP() << "opens the task's property sheet";
  ASSERT_TRUE(CreateScheduledTask(task, At(2031, 3, 14, 6, 5)));
  EXPECT_FALSE(EditScheduledTask(kTestTask, NULL));
  EXPECT_TRUE(ReadStoredTask(kTestTask));
}

// ------------------------------------------------------------ the 95 family

class TaskSchedulerOn95Family : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Runs95Family()) GTEST_SKIP() << "runs only when the program sees Windows 98";
    GetEnvironmentVariableA("PATH", oldPath, sizeof oldPath);
  }
  void TearDown() override {
    SetEnvironmentVariableA("PATH", oldPath);
    if (agent != NULL) DestroyWindow(agent);
  }
  void ShowAgentWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "SAGEWINDOWCLASS";
    RegisterClassA(&windowClass);
    agent = CreateWindowA("SAGEWINDOWCLASS", "SYSTEM AGENT COM WINDOW", WS_OVERLAPPED, 0, 0, 10,
                          10, NULL, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(agent != NULL);
  }

  char oldPath[32768] = "";
  HWND agent = NULL;
  CTemporaryFolder temp;
};

TEST_F(TaskSchedulerOn95Family, RunsWhileTheAgentWindowExists) {
  EXPECT_FALSE(EnsureTaskScheduler());  // no agent and no agent program
  ShowAgentWindow();
  EXPECT_TRUE(EnsureTaskScheduler());
}

TEST_F(TaskSchedulerOn95Family, StartsTheAgentProgramFoundOnThePath) {
  char system[MAX_PATH];
  GetSystemDirectoryA(system, sizeof system);
  ASSERT_TRUE(CopyFileA((std::string(system) + "\\hostname.exe").c_str(),
                        (temp.Path() + "mstask.exe").c_str(), FALSE));
  SetEnvironmentVariableA("PATH", (temp.Path() + ";" + oldPath).c_str());
  EXPECT_TRUE(EnsureTaskScheduler());
}

TEST_F(TaskSchedulerOn95Family, SetupStopsWhenTheSchedulerIsOff) {
  SetWizardMode(true);
  CScriptedInteraction user;
  bool asked = false;
  ScheduleOutcome outcome = SetUpSchedule(NULL, ScheduleRequest(), [&](const std::string&) {
    asked = true;
    return std::optional<std::string>("pw");
  });
  ResetFlags();
  EXPECT_EQ(ScheduleOutcome::StayOnPage, outcome);
  EXPECT_FALSE(asked);
  ASSERT_EQ(1u, user.boxes.size());
  EXPECT_EQ("Task Scheduler is disabled. You must enable Task Scheduler to schedule a backup!",
            user.boxes[0].text);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONSTOP), user.boxes[0].style);
}

// Tasks there run without an account and the system refuses one: the
// setup neither asks for the account's password nor sets it.
TEST_F(TaskSchedulerOn95Family, SetupAsksForNoAccount) {
  ShowAgentWindow();
  ASSERT_TRUE(OpenSystemOperations());
  SetWizardMode(true);
  bool hadSettings = RegistryKeyExists(kScheduleKey);
  CScriptedInteraction user;
  user.QueueBoxAnswer(IDNO);  // no further properties
  ScheduleRequest request;
  request.settings.backupPath = temp.Path();
  bool asked = false;
  ScheduleOutcome outcome = SetUpSchedule(NULL, request, [&](const std::string&) {
    asked = true;
    return std::optional<std::string>("pw");
  });
  std::string name = ScheduledTaskName(LogonName());
  bool stored = ReadStoredTask(name).has_value();
  DeleteStoredTask(name);
  if (!hadSettings) DeleteKeyTree(kScheduleKey);
  CloseSystemOperations();
  ResetFlags();
  EXPECT_EQ(ScheduleOutcome::Scheduled, outcome);
  EXPECT_FALSE(asked);
  EXPECT_TRUE(stored);
}

// ------------------------------------------------------------ settings

class ScheduleSettingsStore : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenSystemOperations());
    DeleteKeyTree(kScheduleKey);
    DeleteKeyTree(std::string(kSettingsRoot) + "\\Scheduler");
  }
  void TearDown() override {
    DeleteKeyTree(kScheduleKey);
    DeleteKeyTree(std::string(kSettingsRoot) + "\\Scheduler");
    CloseSystemOperations();
    ResetFlags();
  }
};

TEST_F(ScheduleSettingsStore, CompressedAndProtectedRoundTrip) {
  if (Runs95Family()) GTEST_SKIP() << "the NT family seals the password";
  ScheduleSettings settings;
  settings.backupPath = "D:/Saves";
  settings.compress = true;
  settings.level = MethodCompressionLevel(2);  // "Best Speed"
  settings.password = "secret";
  ASSERT_TRUE(WriteScheduleSettings(settings));
  EXPECT_EQ("D:/Saves", ScheduleValue("BackupPath"));
  EXPECT_EQ("1", ScheduleValue("Compress"));
  ExpectSealed("secret");

  ScheduleSettings read = ReadScheduleSettings();
  EXPECT_EQ("D:/Saves", read.backupPath);
  EXPECT_TRUE(read.compress);
  EXPECT_EQ(1, read.level);
  EXPECT_EQ("secret", read.password);
  EXPECT_FALSE(read.passwordUnreadable);
}

// Earlier versions kept the password as text: it is still read, and the
// next schedule seals it in its place.
TEST_F(ScheduleSettingsStore, PlainPasswordFromBeforeIsReadAndSealedWhenRewritten) {
  if (Runs95Family()) GTEST_SKIP() << "the NT family seals the password";
  ASSERT_TRUE(CreateRegistryKey(kScheduleKey));
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\Compress", "9", 0));
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\Encrypt", "old plain", 0));
  ScheduleSettings read = ReadScheduleSettings();
  EXPECT_EQ("old plain", read.password);
  EXPECT_FALSE(read.passwordUnreadable);

  ASSERT_TRUE(WriteScheduleSettings(read));
  ExpectSealed("old plain");
  EXPECT_EQ("old plain", ReadScheduleSettings().password);

  // No password is nothing to seal; the sealed one goes.
  read.password.clear();
  ASSERT_TRUE(WriteScheduleSettings(read));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), StoredScheduleValue("Encrypt").type);
  EXPECT_EQ("", ScheduleValue("Encrypt"));
}

// Another user's value, a damaged one, or one sealed elsewhere: never an
// empty or made-up password.
TEST_F(ScheduleSettingsStore, SealedPasswordThatDoesNotUnsealIsUnreadable) {
  if (Runs95Family()) GTEST_SKIP() << "the NT family seals the password";
  ScheduleSettings settings;
  settings.compress = true;
  settings.password = "secret";
  ASSERT_TRUE(WriteScheduleSettings(settings));
  std::string sealed = StoredScheduleValue("Encrypt").bytes;
  std::string damaged = sealed;
  damaged[damaged.size() - 5] ^= 0x40;
  for (const std::string& stored : {damaged, sealed.substr(0, 20), std::string("\x01", 1)}) {
    ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\Encrypt", stored.data(),
                                   stored.size()));
    ScheduleSettings read = ReadScheduleSettings();
    EXPECT_TRUE(read.passwordUnreadable) << stored.size() << " bytes";
    EXPECT_EQ("", read.password);
    EXPECT_TRUE(read.compress);
  }
}

// The 95 family has no data protection: the password stays text, as there
// before.
TEST_F(ScheduleSettingsStore, PasswordStaysPlainTextOnThe95Family) {
  if (!Runs95Family()) GTEST_SKIP() << "runs only when the program sees Windows 98";
  ScheduleSettings settings;
  settings.compress = true;
  settings.password = "secret";
  ASSERT_TRUE(WriteScheduleSettings(settings));
  StoredValue stored = StoredScheduleValue("Encrypt");
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
  EXPECT_EQ(std::string("secret\0", 7), stored.bytes);
  EXPECT_EQ("secret", ReadScheduleSettings().password);
}

TEST_F(ScheduleSettingsStore, NewSettingsOverwriteTheOld) {
  ScheduleSettings settings;
  settings.backupPath = "C:\\Old";
  settings.compress = true;
  settings.level = MethodCompressionLevel(0);  // "Default"
  settings.password = "old";
  ASSERT_TRUE(WriteScheduleSettings(settings));
  EXPECT_EQ(-1, ReadScheduleSettings().level);

  // Without compression a password is not kept, whatever the caller had.
  settings.backupPath = "C:\\New";
  settings.compress = false;
  settings.password = "left over";
  ASSERT_TRUE(WriteScheduleSettings(settings));
  EXPECT_EQ("C:\\New", ScheduleValue("BackupPath"));
  EXPECT_EQ("", ScheduleValue("Compress"));
  EXPECT_EQ("", ScheduleValue("Encrypt"));
  ScheduleSettings read = ReadScheduleSettings();
  EXPECT_FALSE(read.compress);
  EXPECT_EQ("", read.password);
}

TEST(MethodList, MapsToCompressionLevels) {
  EXPECT_EQ(-1, MethodCompressionLevel(0));  // Default
  EXPECT_EQ(9, MethodCompressionLevel(1));   // Best Compression
  EXPECT_EQ(1, MethodCompressionLevel(2));   // Best Speed
  EXPECT_EQ(0, MethodCompressionLevel(3));   // Store
  EXPECT_EQ(-1, MethodCompressionLevel(LB_ERR));  // nothing chosen
  EXPECT_EQ(-1, MethodCompressionLevel(4));
}

TEST_F(ScheduleSettingsStore, DefaultFolder) {
  std::optional<std::string> documents = GetSpecialFolder("MyDocuments");
  ASSERT_TRUE(documents);
  EXPECT_EQ(*documents + "\\Quillmark\\Scheduled Backups", DefaultScheduleFolder());

  std::string root = std::string(kSettingsRoot) + "\\Scheduler";
  ASSERT_TRUE(CreateRegistryKey(root));
  ASSERT_TRUE(WriteRegistryValue(root + "\\Root", "E:\\Elsewhere", 0));
  EXPECT_EQ("E:\\Elsewhere", DefaultScheduleFolder());
}

// ------------------------------------------------------------ selections

CatalogueEntry Named(const std::string& name, CatalogueEntry* parent) {
  CatalogueEntry entry;
  entry.name = name;
  entry.parent = parent;
  return entry;
}

TEST_F(ScheduleSettingsStore, ScheduledSelectionsLiveBesideTheSettings) {
  DeleteKeyTree(std::string(kSettingsRoot) + "\\Mail");
  CatalogueEntry mail = Named("Mail", nullptr);
  CatalogueEntry outlook = Named("Outlook", &mail);
  CatalogueEntry store = Named("Store", &outlook);

  SetScheduleMode(true);
  EXPECT_TRUE(LoadItemSelection(store));  // never saved: selected
  SaveItemSelection(store, false);        // makes Mail and Mail\Outlook on the way
  SaveItemSelection(outlook, true);
  EXPECT_EQ("0", ScheduleValue("Mail\\Outlook\\Store"));
  EXPECT_EQ("1", ScheduleValue("Mail\\Outlook"));
  EXPECT_FALSE(LoadItemSelection(store));

  // The plain backups' choice is kept apart.
  SetScheduleMode(false);
  EXPECT_TRUE(LoadItemSelection(store));
  EXPECT_FALSE(RegistryKeyExists(std::string(kSettingsRoot) + "\\Mail"));
  SetScheduleMode(true);

  // Only a stored text beginning with "1" selects.
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\Mail\\Outlook\\Store", "10", 0));
  EXPECT_TRUE(LoadItemSelection(store));
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\Mail\\Outlook\\Store", "yes", 0));
  EXPECT_FALSE(LoadItemSelection(store));
}

// ------------------------------------------------------------ setting up

class ScheduleSetup : public ScheduleSettingsStore {
 protected:
  void SetUp() override {
    ScheduleSettingsStore::SetUp();
    if (Runs95Family()) GTEST_SKIP() << "the NT family's Task Scheduler";
    SetWizardMode(true);
    SetStartDirectory("C:\\windows\\temp");
    logon = LogonName();
    taskName = ScheduledTaskName(logon);
    DeleteStoredTask(taskName);
    request.settings.backupPath = "D:\\Scheduled";
    request.settings.compress = true;
    request.settings.level = 9;
    request.settings.password = "zip password";
    request.closePrograms = true;
  }
  void TearDown() override {
    DeleteStoredTask(taskName);
    ScheduleSettingsStore::TearDown();
  }
  ScheduleOutcome Schedule(std::optional<std::string> accountPassword) {
    return SetUpSchedule(reinterpret_cast<HWND>(0x1234), request, [&](const std::string& title) {
      titles.push_back(title);
      return accountPassword;
    });
  }

  CScriptedInteraction user;
  std::optional<std::string> logon;
  std::string taskName;
  ScheduleRequest request;
  std::vector<std::string> titles;
};

TEST_F(ScheduleSetup, CreatesTheTaskAndStoresTheSettings) {
  ASSERT_TRUE(logon) << "Wine gives the Unix login as the logon name";
  EXPECT_EQ("Quillmark - Scheduled Backup For " + *logon, taskName);
  EXPECT_EQ("Quillmark - Scheduled Backup", ScheduledTaskName(std::nullopt));
  user.QueueBoxAnswer(IDNO);

  EXPECT_EQ(ScheduleOutcome::Scheduled, Schedule(std::string("account password")));

  EXPECT_EQ(std::vector<std::string>{"Enter account password for " + *logon}, titles);
  std::optional<StoredTask> stored = ReadStoredTask(taskName);
  ASSERT_TRUE(stored);
  EXPECT_EQ(ThisProgram(), stored->application);
  EXPECT_EQ("/con /sch /k", stored->parameters);
  EXPECT_EQ("C:\\windows\\temp", stored->workingDirectory);
  EXPECT_EQ("Please set the program run time(s) on the \"Schedule\" tab", stored->comment);
  EXPECT_EQ("D:\\Scheduled", ScheduleValue("BackupPath"));
  EXPECT_EQ("9", ScheduleValue("Compress"));
  ExpectSealed("zip password");
  EXPECT_EQ("zip password", ReadScheduleSettings().password);

  // The question names the trigger's start time.
  ASSERT_EQ(1u, user.boxes.size());
  const CScriptedInteraction::Box& question = user.boxes[0];
  std::smatch time;
  ASSERT_TRUE(std::regex_match(question.text, time,
                               std::regex("A backup has been successfully scheduled to run daily "
                                          "at (\\d\\d):(\\d\\d)\\. Do you want to edit "
                                          "additional properties\\?")))
      << question.text;
  EXPECT_EQ(stored->trigger.wStartHour, std::stoi(time[1]));
  EXPECT_EQ(stored->trigger.wStartMinute, std::stoi(time[2]));
  EXPECT_EQ("Quillmark", question.caption);
  EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), question.style);
  EXPECT_EQ(reinterpret_cast<HWND>(0x1234), question.owner);

  // A second schedule replaces task and settings.
  request.closePrograms = false;
  request.settings.compress = false;
  user.QueueBoxAnswer(IDNO);
  EXPECT_EQ(ScheduleOutcome::Scheduled, Schedule(std::string()));
  stored = ReadStoredTask(taskName);
  ASSERT_TRUE(stored);
  EXPECT_EQ("/con /sch", stored->parameters);
  EXPECT_EQ("", ScheduleValue("Compress"));
  EXPECT_EQ("", ScheduleValue("Encrypt"));
}

TEST_F(ScheduleSetup, CancelledPasswordCreatesNothing) {
  ASSERT_TRUE(CreateRegistryKey(kScheduleKey));
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\BackupPath", "C:\\Before", 0));

  EXPECT_EQ(ScheduleOutcome::StayOnPage, Schedule(std::nullopt));

  EXPECT_FALSE(ReadStoredTask(taskName));
  EXPECT_EQ("C:\\Before", ScheduleValue("BackupPath"));
  EXPECT_TRUE(user.boxes.empty());
}

TEST_F(ScheduleSetup, PropertySheetFailureKeepsTaskAndSettings) {
  if (!RunsUnderWine()) GTEST_SKIP() << "opens the task's property sheet";
  user.QueueBoxAnswer(IDYES);

  EXPECT_EQ(ScheduleOutcome::StayOnPage, Schedule(std::string("pw")));

  ASSERT_EQ(2u, user.boxes.size());
  EXPECT_EQ("Couldn't edit task. Verify that the Task Scheduler is running and that you have the "
            "necessary rights.",
            user.boxes[1].text);
  EXPECT_EQ("Quillmark", user.boxes[1].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONSTOP), user.boxes[1].style);
  EXPECT_TRUE(ReadStoredTask(taskName));
  EXPECT_EQ("D:\\Scheduled", ScheduleValue("BackupPath"));
}

TEST_F(ScheduleSetup, FailedTaskLeavesTheSettingsAlone) {
  std::string blocker = TaskFile(taskName);
  ASSERT_TRUE(CreateDirectoryA(blocker.c_str(), NULL));
  ASSERT_TRUE(CreateRegistryKey(kScheduleKey));
  ASSERT_TRUE(WriteRegistryValue(std::string(kScheduleKey) + "\\BackupPath", "C:\\Before", 0));

  ScheduleOutcome outcome = Schedule(std::string("pw"));
  RemoveDirectoryA(blocker.c_str());

  EXPECT_EQ(ScheduleOutcome::StayOnPage, outcome);
  ASSERT_EQ(1u, user.boxes.size());
  EXPECT_EQ("Couldn't create task. Verify that the Task Scheduler is running and that you have "
            "the necessary rights.",
            user.boxes[0].text);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONSTOP), user.boxes[0].style);
  EXPECT_EQ("C:\\Before", ScheduleValue("BackupPath"));
  EXPECT_EQ("<missing>", ScheduleValue("Compress"));
}

}  // namespace
