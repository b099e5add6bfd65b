#include "storage/RegistryFile.h"

// Registry key files are not part of this build yet; both directions fail
// cleanly and the console reports the failure.
bool ImportRegistryFile(const std::string&) { return false; }

bool ExportRegistryKeyToFile(const std::string&, const std::string&) { return false; }
