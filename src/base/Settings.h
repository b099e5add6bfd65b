// The names other copies of the program, older sets and the user's registry
// rely on, spelled once: where the settings live and what a set holds.
#pragma once

// The settings key; the key itself marks the program as installed.
const char kInstallKey[] = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark";
const char kScheduleKey[] = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark\\Schedule";
const char kCustomKey[] = "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark\\Custom\\";
// Read only: where another tool may have put the schedule's default folder.
const char kSchedulerRootValue[] =
    "HKEY_CURRENT_USER\\Software\\Tervane\\Quillmark\\Scheduler\\Root";

// The caption of the program's message boxes.
const char kCaption[] = "Quillmark";

// A backup set: its restore settings, its archive when packed, the folder of
// its registry key files and the program that restores it without us.
const char kRestoreSettingsFile[] = "restore.xml";
const char kArchiveFile[] = "restore.zip";
const char kRegistryFolder[] = "Registry";
const char kSetupProgram[] = "QMARK Setup.exe";
