#include "system/Reboot.h"

// Nothing in this build asks for a restart yet.
bool Reboot() { return false; }
