// The restore settings of a backup set: the chosen entries of the
// catalogue, their items as the backup stored them and their conditions and
// variables unexpanded, so that a restore decides again on its computer.
#pragma once

#include <string>

class Catalogue;

// Writes restore.xml for the catalogue's entry list and selection. False
// when the catalogue document can't be read again or the file can't be
// written whole.
bool BuildRestoreSettings(Catalogue& catalogue, const std::string& path);
