// Process-wide mode flags. Each is written at start-up (RebootNeeded also
// later, by a restore) and read everywhere; nothing else touches them.
#pragma once

#include <string>

bool WizardMode();
void SetWizardMode(bool on);
bool YesToAll();
void SetYesToAll(bool on);
bool Silent();
void SetSilent(bool on);
bool RebootNeeded();
void SetRebootNeeded(bool on);
bool CloseRunningPrograms();
void SetCloseRunningPrograms(bool on);
bool ScheduleMode();
void SetScheduleMode(bool on);
const std::string& StartDirectory();
void SetStartDirectory(const std::string& folder);

// Puts every flag back to its value at process start.
void ResetFlags();
