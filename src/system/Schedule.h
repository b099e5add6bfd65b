// The daily backup that Windows' Task Scheduler starts without the user: the
// scheduled task, the settings its run reads, and the setup the wizard's
// Schedule operation performs.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

const char kScheduledTaskName[] = "Quillmark - Scheduled Backup";
// The scheduled run: the windowed program in console mode with "/sch".
const char kScheduledTaskParameters[] = "/con /sch";

// True when the Task Scheduler runs or could be started (the System Agent on
// the 95 family, the "Schedule" service on NT).
bool EnsureTaskScheduler();

struct ScheduledTask {
  std::string name;
  std::string application;
  std::string parameters;
  std::string workingDirectory;
  std::string comment;
  std::string account;   // empty: the task runs without account information
  std::string password;  // used only with an account
};

// Replaces any task of the same name by one with a single daily trigger that
// begins on `start`'s day at its hour and minute (local time). True when the
// task was created and saved.
bool CreateScheduledTask(const ScheduledTask& task, const SYSTEMTIME& start);
// The same, starting now.
bool CreateScheduledTask(const ScheduledTask& task);

// Shows the task's property sheet owned by `owner`; true when it was shown
// and closed without error.
bool EditScheduledTask(const std::string& name, HWND owner);

// What a scheduled run does, as kept under the Schedule key.
struct ScheduleSettings {
  std::string backupPath;
  bool compress = false;
  int level = -1;
  std::string password;  // empty: no password; only stored with compression
  // Read back only: a sealed password that this user can't unseal (another
  // user's, or damaged). A run must not go ahead without the protection the
  // schedule asked for.
  bool passwordUnreadable = false;
};

// Creates the Schedule key when missing and writes BackupPath, Compress and
// Encrypt. A password is sealed for the user where the system can (a binary
// Encrypt value) and kept as text only where it can't (the 95 family, NT 4.0
// without data protection). False when the key or a value can't be written,
// or the system refuses to seal the password.
bool WriteScheduleSettings(const ScheduleSettings& settings);
// Reads them the way a scheduled run does: a missing or empty Compress means
// no compression, and then no password either. Encrypt may be text, as
// earlier versions and the 95 family keep it, or sealed.
ScheduleSettings ReadScheduleSettings();

// The compression level of an entry of the "Method" list ("Default", "Best
// Compression", "Best Speed", "Store"); no or an unknown entry is "Default".
int MethodCompressionLevel(int methodIndex);

// The folder offered for a new schedule: the Scheduler\Root setting when
// present, else "Quillmark\Scheduled Backups" in the user's documents (empty
// when neither is known).
std::string DefaultScheduleFolder();

// The logon name, or nothing when the system doesn't give one.
std::optional<std::string> LogonName();
// "Quillmark - Scheduled Backup", plus " For " and the logon name if any.
std::string ScheduledTaskName(const std::optional<std::string>& logonName);

// What the wizard's selection page hands over for a new schedule.
struct ScheduleRequest {
  ScheduleSettings settings;  // the password only when it protects the files
  bool closePrograms = false;
};

// Asks for the password of the logon account, titled as given; nothing when
// the user cancels. An empty password is an answer.
typedef std::function<std::optional<std::string>(const std::string& title)> AccountPasswordPrompt;

enum class ScheduleOutcome {
  StayOnPage,  // refused, cancelled or failed; the user has been told why
  Scheduled,   // the task and the settings are in place
};

// The Schedule operation's setup: makes sure the Task Scheduler runs, creates
// the task for this program and logon account, stores the settings and
// offers the task's property sheet. Messages are owned by `owner`.
ScheduleOutcome SetUpSchedule(HWND owner, const ScheduleRequest& request,
                              const AccountPasswordPrompt& askAccountPassword);
