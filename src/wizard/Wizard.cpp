#include "wizard/Wizard.h"

#include <windows.h>

#include "wizard/WizardDialog.h"

void RunWizard() {
  CWizardDialog wizard;
  wizard.RunModal();
}
