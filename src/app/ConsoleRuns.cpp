#include "app/ConsoleRuns.h"

#include "app/Interaction.h"

// The backup and restore engines are not part of this build yet: say so
// instead of letting "finished" suggest that something was saved.
void RunConsoleBackup(const std::string&, bool, int, bool, const std::string&) {
  PrintMessage("Error: backup is not available in this version!\n");
}

void RunConsoleRestore(const std::string&, const std::string&) {
  PrintMessage("Error: restore is not available in this version!\n");
}
