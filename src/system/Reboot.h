// Restarting Windows, and files replaced while it restarts.
#pragma once

#include <string>

// Arranges for `source` (a complete new copy) to take the place of `target`
// at the next start of Windows, and notes that a restart is due. True when
// the arrangement was recorded.
bool ReplaceOnReboot(const std::string& source, const std::string& target);

// Restarts Windows at once; false when the restart can't be requested.
bool Reboot();
