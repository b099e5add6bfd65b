// Where this process runs from and where it may put temporary files.
#pragma once

#include <string>

// The user's temporary folder, ending with "\"; empty when Windows can't say.
std::string TemporaryFolder();
// The full path of the running program; empty when Windows can't say.
std::string ProgramPath();
