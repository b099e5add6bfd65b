#include "catalogue/PathVariables.h"

#include <algorithm>
#include <set>
#include <vector>

#include "base/LocaleText.h"
#include "base/Text.h"
#include "catalogue/CatalogueEntry.h"
#include "catalogue/CatalogueSystem.h"

namespace {

// A folder's path names the folder only where a path element ends there:
// "C:\users\root" is no part of "C:\users\rootbeer".
bool EndsAtPathBoundary(const std::string& text, size_t end, const std::string& folder) {
  if (end == text.size() || folder.back() == '\\') return true;
  char next = text[end];
  return next == '\\' || next == '/' || next == ';' || next == '"';
}

// Replaces the folder's path, written in any letter case, by the
// placeholder; every other character stays as it was, so the value comes
// back unchanged on the same computer.
void FoldFolder(std::string& text, const std::string& folder, const std::string& placeholder) {
  if (folder.empty()) return;
  for (size_t at = 0; at + folder.size() <= text.size();) {
    bool same = true;
    for (size_t i = 0; i < folder.size() && same; ++i)
      same = LowerAscii(text[at + i]) == LowerAscii(folder[i]);
    if (same && EndsAtPathBoundary(text, at + folder.size(), folder)) {
      text.replace(at, folder.size(), placeholder);
      at += placeholder.size();
    } else {
      ++at;
    }
  }
}

// The names referenced by ($Name) in a text; an unclosed reference gives "".
std::vector<std::string> References(const std::string& text) {
  std::vector<std::string> names;
  size_t at = 0;
  while ((at = text.find("($", at)) != std::string::npos) {
    size_t close = text.find(')', at + 2);
    names.push_back(close == std::string::npos ? std::string() : text.substr(at + 2, close - at - 2));
    if (close == std::string::npos) break;
    at = close + 1;
  }
  return names;
}

// True when expanding `name` would come back to a name on `chain`. Names
// already shown to end (`finite`) are not walked again.
bool LeadsBack(const std::string& name, const CatalogueEntry* entry, std::vector<std::string>& chain,
               std::set<std::string>& finite) {
  std::string key = ToLowerAscii(name);
  if (finite.count(key)) return false;
  if (CurrentCatalogueSystem().SpecialFolder(name)) return false;
  std::optional<std::string> value = FindVariable(entry, name);
  if (!value) return false;
  for (const std::string& reference : References(*value)) {
    std::string lower = ToLowerAscii(reference);
    if (std::find(chain.begin(), chain.end(), lower) != chain.end()) return true;
    chain.push_back(lower);
    bool back = LeadsBack(reference, entry, chain, finite);
    chain.pop_back();
    if (back) return true;
  }
  finite.insert(key);
  return false;
}

// The size of the text with every `reference` replaced by `value`.
size_t ExpandedSize(const std::string& text, const std::string& reference, const std::string& value) {
  size_t size = text.size();
  for (size_t at = text.find(reference); at != std::string::npos;
       at = text.find(reference, at + reference.size()))
    size = size - reference.size() + value.size();
  return size;
}

}  // namespace

std::optional<std::string> FindVariable(const CatalogueEntry* entry, const std::string& name) {
  for (; entry != nullptr; entry = entry->parent) {
    for (size_t i = 0; i < entry->variableNames.size() && i < entry->variableValues.size(); ++i) {
      if (SameText(entry->variableNames[i], name)) return entry->variableValues[i];
    }
  }
  return std::nullopt;
}

bool ExpandPathVariables(std::string& path, const CatalogueEntry* entry) {
  for (unsigned round = 0;; ++round) {
    // A value may end in "(" and the text after it go on "$Name)": such a
    // reference was in no value, so no walk of the values finds it going
    // round. Nor does any walk see a text double at each reference.
    if (round == kMaxExpansionRounds) return false;
    size_t at = path.find("($");
    if (at == std::string::npos) return true;
    size_t close = path.find(')', at + 2);
    if (close == std::string::npos) return false;
    std::string name = path.substr(at + 2, close - at - 2);
    std::string reference = path.substr(at, close - at + 1);

    std::optional<std::string> value = CurrentCatalogueSystem().SpecialFolder(name);
    if (!value) {
      value = FindVariable(entry, name);
      if (!value) return false;
      // A value that leads back to its own name would expand without end.
      std::vector<std::string> chain{ToLowerAscii(name)};
      std::set<std::string> finite;
      if (LeadsBack(name, entry, chain, finite)) return false;
    }
    if (ExpandedSize(path, reference, *value) > kMaxExpandedPath) return false;
    path = ReplaceAll(path, reference, *value);
  }
}

CPlaceholderFolders::CPlaceholderFolders()
    : m_windows(CurrentCatalogueSystem().SpecialFolder("Windows")),
      m_profile(CurrentCatalogueSystem().SpecialFolder("Profile")),
      m_comPrograms(CurrentCatalogueSystem().SpecialFolder("ComPrograms")),
      m_programs(CurrentCatalogueSystem().SpecialFolder("Programs")) {}

std::string CPlaceholderFolders::Fold(const std::string& text) const {
  // The profile goes first, so a folder inside it is kept below "%userprofile%".
  const std::pair<const std::optional<std::string>*, const char*> order[] = {
      {&m_profile, "%userprofile%"},
      {&m_windows, "%windir%"},
      {&m_comPrograms, "%comprograms%"},
      {&m_programs, "%programs%"}};
  std::string folded = text;
  for (const auto& step : order) {
    if (*step.first) FoldFolder(folded, **step.first, step.second);
  }
  return folded;
}

std::string CPlaceholderFolders::Unfold(const std::string& text) const {
  const std::pair<const std::optional<std::string>*, const char*> order[] = {
      {&m_windows, "%windir%"},
      {&m_profile, "%userprofile%"},
      {&m_comPrograms, "%comprograms%"},
      {&m_programs, "%programs%"}};
  // Most values hold no placeholder.
  if (text.find('%') == std::string::npos) return text;
  std::string unfolded = text;
  for (const auto& step : order) {
    if (*step.first) unfolded = ReplaceAll(unfolded, step.second, **step.first);
  }
  return unfolded;
}

std::string FoldersToVariables(const std::string& text) { return CPlaceholderFolders().Fold(text); }

std::string VariablesToFolders(const std::string& text) {
  // Most values hold no placeholder: don't ask the shell for them.
  if (text.find('%') == std::string::npos) return text;
  return CPlaceholderFolders().Unfold(text);
}
