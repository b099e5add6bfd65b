// The windowed program: the wizard, or the console mode with "/con", which
// writes to whatever standard output the program inherited.
#include <windows.h>

#include "app/Startup.h"
#include "wizard/Wizard.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
  StartupOperations operations = ConsoleOperations();
  operations.runWizard = RunWizard;
  return RunStartup(commandLine != nullptr ? commandLine : "", operations);
}
