#include "wizard/Wizard.h"

#include <windows.h>

#include "base/Interaction.h"
#include "base/Settings.h"

void RunWizard() {
  Interaction().ShowMessageBox(NULL,
                               "The wizard is not available in this version.\n"
                               "Run \"backup /con\" for the console mode.",
                               kCaption, MB_OK | MB_ICONINFORMATION);
}
