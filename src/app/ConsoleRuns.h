// Console backup and restore runs (/b and /r).
#pragma once

#include <string>

void RunConsoleBackup(const std::string& folder, bool compress, int level, bool passwordGiven,
                      const std::string& password);
void RunConsoleRestore(const std::string& folder, const std::string& password);
