// Registry keys as XML files (/e and /i).
#pragma once

#include <string>

// Writes the registry values of the XML file into the registry.
bool ImportRegistryFile(const std::string& xmlFile);
// Writes the whole key into a new XML file.
bool ExportRegistryKeyToFile(const std::string& xmlFile, const std::string& key);
