// Which catalogue entries the user chose, kept per entry in the registry:
// one set for plain backups and one (under "Schedule\") for the schedule.
#pragma once

struct CatalogueEntry;

class CRegistryValueReader;

// True when the entry's stored choice is missing or begins with "1".
bool LoadItemSelection(const CatalogueEntry& entry);
// The same through a reader kept for a whole catalogue's entries.
bool LoadItemSelection(const CatalogueEntry& entry, CRegistryValueReader& saved);
// Stores "1" or "0"; entries that aren't valid on this computer keep theirs.
void SaveItemSelection(const CatalogueEntry& entry, bool selected);
