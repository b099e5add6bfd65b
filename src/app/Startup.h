// The single entry of both programs: single instance, install marker,
// switches, schedule mode, then the wizard or one console operation.
#pragma once

#include <functional>
#include <string>

#include "app/ConsoleRuns.h"
#include "base/Settings.h"

// The operations start-up hands a command to. Each program fills in what it
// has; tests put recorders in their place.
struct StartupOperations {
  std::function<RunOutcome(const std::string& folder, bool compress, int level,
                           bool passwordGiven, const std::string& password)>
      runConsoleBackup;
  std::function<RunOutcome(const std::string& folder, const std::string& password)>
      runConsoleRestore;
  std::function<bool(const std::string& xmlFile)> importRegistryFile;
  std::function<bool(const std::string& xmlFile, const std::string& key)> exportRegistryKey;
  std::function<void()> reboot;
  // Runs the wizard modally; empty in the console program.
  std::function<void()> runWizard;
};

// The console operations of subsystems 1 to 5.
StartupOperations ConsoleOperations();

// Returns the exit status: 1 when system operations can't start, another
// copy runs, or (console mode) the program isn't installed; in console mode
// 2 when the operation failed, was refused or stopped, and 3 when a backup or
// restore finished without some of its items; else 0.
int RunStartup(const std::string& commandLine, const StartupOperations& operations);

const char kMutexName[] = "Quillmark-{5C2E7A10-8B4D-4F3A-9E61-2D7F0B3C9A48}";
