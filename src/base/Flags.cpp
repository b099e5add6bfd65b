#include "base/Flags.h"

namespace {
bool g_wizardMode = true;
bool g_yesToAll = false;
bool g_silent = false;
bool g_rebootNeeded = false;
bool g_closeRunningPrograms = false;
bool g_scheduleMode = false;
std::string g_startDirectory;
}  // namespace

bool WizardMode() { return g_wizardMode; }
void SetWizardMode(bool on) { g_wizardMode = on; }
bool YesToAll() { return g_yesToAll; }
void SetYesToAll(bool on) { g_yesToAll = on; }
bool Silent() { return g_silent; }
void SetSilent(bool on) { g_silent = on; }
bool RebootNeeded() { return g_rebootNeeded; }
void SetRebootNeeded(bool on) { g_rebootNeeded = on; }
bool CloseRunningPrograms() { return g_closeRunningPrograms; }
void SetCloseRunningPrograms(bool on) { g_closeRunningPrograms = on; }
bool ScheduleMode() { return g_scheduleMode; }
void SetScheduleMode(bool on) { g_scheduleMode = on; }
const std::string& StartDirectory() { return g_startDirectory; }
void SetStartDirectory(const std::string& folder) { g_startDirectory = folder; }

void ResetFlags() {
  g_wizardMode = true;
  g_yesToAll = false;
  g_silent = false;
  g_rebootNeeded = false;
  g_closeRunningPrograms = false;
  g_scheduleMode = false;
  g_startDirectory.clear();
}
