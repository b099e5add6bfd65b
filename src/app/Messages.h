// The console front end's own texts, kept together so they can be compared
// at a glance. They are the program's fixed wording: keep them as they are.
#pragma once

namespace msg {

const char kConsoleTitle[] = "Tervane - Quillmark";
const char kBanner[] = "Tervane Quillmark 1.0 - Backup, Restore, Schedule\n\n";

const char kInitFailed[] = "Fatal error: couldn't initialize system operations!\n";
const char kInitFailedBox[] = "Fatal error: couldn't initialize system operations!";
const char kAlreadyRunning[] = "Quillmark is already running!\n";
const char kAlreadyRunningBox[] = "Quillmark is already running!";
const char kNotInstalled[] = "Program not installed. Please run the installer!\n";
const char kNotInstalledBox[] = "Quillmark not installed. Please run the installer!";
const char kLineTooLong[] =
    "Fatal error: the command line is longer than 1023 characters!\n";

const char kInvalidLevel[] = "Invalid compression level!\n";
const char kInvalidPassword[] = "Invalid password!\n";
const char kSchedulePasswordUnreadable[] =
    "Fatal error: couldn't read the scheduled backup's password! Please schedule the backup "
    "again.\n";
const char kBackupFinished[] = "Backup finished ...\n";
const char kRestoreFinished[] = "Restore finished ...\n";
const char kRebooting[] = "Rebooting...\n";
const char kImportFailed[] = "Error: Couldn't import registry file!\n";
const char kExportKeyEmpty[] = "Error: key can be empty!\n";
const char kExportFailed[] = "Error: couldn't export registry file!\n";
const char kDone[] = "Done!\n";

const char* const kUsage[] = {
    "usage:  [/b|r <path>] [/c{:<level>}] [/y] [/s] [/sch] [/reboot]\n"
    "\t[/p:<password>] [/k] [/i <xml>] [/e:<key> <xml>] [/?|h]\n\n",
    "Switches:\n\n",
    "\t\t/b\t\t- Perform backup\n",
    "\t\t/r\t\t- Perform restore\n",
    "\t\t<path>\t\t- Path to backup/restore folder\n",
    "\t\t/c\t\t- Compress files\n",
    "\t\t<level>\t\t- Level of compression(0..9)\n",
    "\t\t/y\t\t- Yes to all questions\n",
    "\t\t/s\t\t- Supress all output (implies /y)\n",
    "\t\t/sch\t\t- Schedule mode (implies /s /y /b)\n",
    "\t\t/p\t\t- Encrypt/Decrypt files with password\n",
    "\t\t/reboot\t\t- Perform reboot after restore, if needed\n",
    "\t\t/k\t\t- Close running applications\n",
    "\t\t/i\t\t- Import a xml file into registry\n",
    "\t\t/e\t\t- Export a registry key to a xml file\n",
    "\t\t<xml>\t\t- Xml file to import/export registry key\n",
    "\t\t<key>\t\t- Registry key to export\n",
    "\t\t/? or /h\t- Displays this help screen\n",
};

}  // namespace msg
