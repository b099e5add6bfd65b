// What the user chose to do on the wizard's first page.
#pragma once

enum class WizardOperation { None = 0, Backup = 1, Restore = 2, Schedule = 3 };
