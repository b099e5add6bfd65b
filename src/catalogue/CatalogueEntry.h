// One entry of an evaluated catalogue or restore settings document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CatalogueEntry {
  std::string detect;   // recognises the program's running process
  std::string name;     // the label; may hold variable references
  std::string display;  // the descriptive text
  std::string foreach;  // the variable that takes each subkey name in turn
  std::string in;       // the key whose subkeys are iterated
  std::vector<std::string> items;  // "number or name;path"
  std::vector<std::string> variableNames;
  std::vector<std::string> variableValues;
  CatalogueEntry* parent = nullptr;
  std::int64_t itemCounter = 0;
  long startPosition = 0;  // of the line after the start tag
  // Which entry element of the document this entry comes from, counting
  // start tags from 0 in document order; foreach repetitions share it.
  // -1 for sub-folder entries and the ones the front end adds.
  int element = -1;
  bool valid = true;
  bool selected = false;
  bool generated = false;
  bool reboot = false;
  int foreachIndex = 0;
};
