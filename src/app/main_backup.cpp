// The windowed program: the wizard, or the console mode with "/con", which
// writes to whatever standard output the program inherited.
#include <windows.h>
#include <commctrl.h>

#include "app/Startup.h"
#include "wizard/Wizard.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  // Only the wizard shows common controls, so only this program links them:
  // loading them registers window classes, which under Wine starts the
  // desktop process, the larger part of a console run's start-up.
  InitCommonControls();
  StartupOperations operations = ConsoleOperations();
  operations.runWizard = RunWizard;
  return RunStartup(commandLine != nullptr ? commandLine : "", operations);
}
