// Console backup and restore runs (/b and /r).
#pragma once

#include <string>

// How a run ended; the values are the program's exit statuses.
enum class RunOutcome {
  Succeeded = 0,
  Failed = 2,      // a fatal error, a refusal, a stop, or no to a question that ends it
  Incomplete = 3,  // finished, but some items weren't saved or restored (each logged)
};

RunOutcome RunConsoleBackup(const std::string& folder, bool compress, int level,
                            bool passwordGiven, const std::string& password);
RunOutcome RunConsoleRestore(const std::string& folder, const std::string& password);
