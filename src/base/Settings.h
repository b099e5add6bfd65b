// Where the program keeps its settings in the registry. The key itself
// marks the program as installed.
#pragma once

const char kInstallKey[] = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark";
const char kScheduleKey[] = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark\\Schedule";
