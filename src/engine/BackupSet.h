// The folder a backup set is written into, as both front ends prepare it
// and clean it up: a failed or stopped backup takes away only what it wrote,
// an archive already there stays whole until the new one is, and a packed
// set is unpacked into a working folder of the run's own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "storage/DiskObject.h"

// Every "/" becomes "\" and the path ends with "\".
std::string NormaliseSetFolder(std::string folder);
// The names directly inside a folder.
std::vector<std::string> NamesIn(const std::string& folder);

// Removes what a failed backup wrote into its folder. A folder the run
// made (no names before) goes whole; in a folder that was there before only
// the names the run added go, so the user's own files stay.
void RemoveFailedSet(CDiskObject& disk, const std::string& folder,
                     const std::optional<std::vector<std::string>>& namesBefore);

// A new folder of the run's own inside the temporary folder (ends with "\").
std::optional<std::string> MakeWorkingFolder();

// Where a new "restore.zip" of the folder is written: the name itself, or,
// when an archive is already there, a temporary file beside it that
// `beside` owns. Nothing when that file can't be made.
std::optional<std::string> ArchiveBuildPath(const std::string& folder, CTempFile& beside);
// Puts the complete new archive in the old one's place; the system's text
// in `error` when that fails.
bool PutArchiveInPlace(const std::string& built, const std::string& folder, std::string& error);
