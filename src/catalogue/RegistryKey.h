// The predefined registry keys by their root names, and the key owner.
#pragma once

#include <windows.h>

#include <string>

#include "base/RegistryKey.h"

// "HKEY_CURRENT_USER" and the other four, letter case ignored; NULL for any
// other name (abbreviations included).
HKEY RootKeyByName(const std::string& name);
