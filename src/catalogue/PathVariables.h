// Special folders and "($Name)" references in catalogue paths, and the four
// folder placeholders that make registry values portable between computers.
#pragma once

#include <optional>
#include <string>

struct CatalogueEntry;

// This computer's folder of a special folder name ("Desktop", "AppData",
// ...; letter case ignored), created if missing; nothing for an unknown name
// or when the shell can't say. The expansion below asks the computer of
// CurrentCatalogueSystem() instead.
std::optional<std::string> GetSpecialFolder(const std::string& name);

// Longest text an expansion may give (the longest path Windows takes), and
// most references it may replace one after another; a text that would need
// more is taken as one that refers back to itself.
const size_t kMaxExpandedPath = 32767;
const unsigned kMaxExpansionRounds = 1024;

// Replaces every ($Name) in `path` by its special folder or by a variable of
// `entry` or an entry enclosing it. False when a reference can't be resolved
// or refers back to itself; `path` is then only partly expanded.
bool ExpandPathVariables(std::string& path, const CatalogueEntry* entry);

// The value of the first variable `name` (letter case ignored) of the entry,
// else of the entries around it, innermost first.
std::optional<std::string> FindVariable(const CatalogueEntry* entry, const std::string& name);

// The four folders of the placeholders, looked up once for many texts.
class CPlaceholderFolders {
 public:
  CPlaceholderFolders();
  // Folds the profile, Windows, all users' programs and programs folders,
  // in this order, into their placeholders wherever the text holds one of
  // them (letter case ignored) up to the end of a path element; the rest of
  // the text keeps its letters as they were.
  std::string Fold(const std::string& text) const;
  // Unfolds the placeholders; nothing else changes.
  std::string Unfold(const std::string& text) const;

 private:
  std::optional<std::string> m_windows, m_profile, m_comPrograms, m_programs;
};

// Folds the profile, Windows, all users' programs and programs folders into
// "%userprofile%", "%windir%", "%comprograms%" and "%programs%", as
// CPlaceholderFolders::Fold does.
std::string FoldersToVariables(const std::string& text);
// Unfolds the placeholders into this computer's folders; nothing else changes.
std::string VariablesToFolders(const std::string& text);
