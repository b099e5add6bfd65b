// Registry keys as XML files: nested Key elements naming the path, one
// Value element per registry value with its data as text.
#pragma once

#include <string>

class CPlaceholderFolders;
class XmlWriter;

// Writes the key into the writer: "\" the whole key with all subkeys, "*"
// its values only, any other text only the value of that name. False when
// the key can't be opened or read; nothing is shown to the user. A caller
// that exports many keys passes the placeholders' folders it looked up
// once; without them the export looks them up itself.
bool ExportRegistryKey(XmlWriter& writer, const std::string& keyPath, const std::string& selector,
                       const CPlaceholderFolders* folders = nullptr);

// Writes the keys and values of a registry key file into the registry.
// False when the file can't be opened, is damaged (what stands before the
// damage is written) or a key can't be opened or created; a single value
// that can't be written is reported and skipped. Problems are shown in a
// message box in the wizard and printed (logged when silent) otherwise.
bool ImportRegistryFile(const std::string& xmlFile);
// The same for a restore, which keeps this computer's own places of its
// special folders: the values of the "User Shell Folders" and "Shell
// Folders" keys in the file are left out, and the log says so once a key.
bool ImportRestoredRegistryFile(const std::string& xmlFile);

// The console's /e: the whole key into a new file.
bool ExportRegistryKeyToFile(const std::string& xmlFile, const std::string& key);
