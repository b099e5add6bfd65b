// The backup and restore runs: selected catalogue entries into a backup set
// (a folder, or a folder holding "restore.zip") and back onto a computer.
// Both report to the front end, and learn whether to stop, through its
// callback.
#pragma once

#include <string>

class ArchiveReader;
class ArchiveWriter;
class CDiskObject;
class Catalogue;
class IRunCallback;

// Writes the selected, valid entries of `catalogue` into the set folder
// (ending with "\", its "Registry" folder already created) and rewrites each
// item to where it was stored. With `writeRestoreSettings` clear (a rollback
// before a restore) no "restore.xml" is written and single files lose their
// item folder. False after a fatal error or an archive over the size limit;
// single item failures are logged and leave it true.
bool RunBackup(CDiskObject& disk, ArchiveWriter& archive, bool pack, const std::string& setFolder,
               Catalogue& catalogue, IRunCallback& callback, bool writeRestoreSettings);

// Puts the selected, valid entries of an evaluated restore settings document
// back. `setFolder` holds "Registry\" (for a packed set, the working folder
// it was unpacked to). False only after a fatal error.
bool RunRestore(CDiskObject& disk, ArchiveReader& archive, bool packed,
                const std::string& setFolder, Catalogue& catalogue, IRunCallback& callback);
