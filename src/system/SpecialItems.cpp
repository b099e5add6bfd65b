#include "system/SpecialItems.h"

// Not written yet: every special item fails and adds nothing.
bool BackupSpecialItem(const std::string&, ArchiveWriter&, CDiskObject&, bool, const std::string&,
                       const std::string&) {
  return false;
}
bool RestoreSpecialItem(const std::string&, ArchiveReader&, CDiskObject&, bool, const std::string&,
                        const std::string&) {
  return false;
}
std::uint64_t SpecialItemSize(const std::string&, CDiskObject&) { return 0; }
bool ExportCookies(std::FILE*) { return false; }
bool ImportCookies(std::FILE*) { return false; }
bool ExportHistory(std::FILE*) { return false; }
bool ImportHistory(std::FILE*) { return false; }
