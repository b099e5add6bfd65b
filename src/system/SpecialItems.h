// Items that can't be saved by copying: browser cookies and history (kept in
// the URL cache), the personal folder files of a mail profile (named by
// absolute paths in the profile's registry values), and registry files that
// are imported at the next start of Windows instead of during the restore.
// Their catalogue paths begin with "$".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class ArchiveReader;
class ArchiveWriter;
class CDiskObject;

// `setFolder` ends with "\"; `itemFolder` is the item's folder inside the
// set, relative, without a trailing "\". The archive is used only when
// `packed`. False on any failure; no message is shown here.
bool BackupSpecialItem(const std::string& itemPath, ArchiveWriter& archive, CDiskObject& disk,
                       bool packed, const std::string& setFolder, const std::string& itemFolder);
bool RestoreSpecialItem(const std::string& itemPath, ArchiveReader& archive, CDiskObject& disk,
                        bool packed, const std::string& setFolder, const std::string& itemFolder);

// Estimated bytes the item adds to a backup.
std::uint64_t SpecialItemSize(const std::string& itemPath, CDiskObject& disk);

// The text formats of "cookies.txt" and "history.txt", over open text streams.
bool ExportCookies(std::FILE* stream);
bool ImportCookies(std::FILE* stream);
bool ExportHistory(std::FILE* stream);
bool ImportHistory(std::FILE* stream);
