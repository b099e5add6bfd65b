// The windowed program's wizard, run modally until the user closes it.
#pragma once

void RunWizard();
