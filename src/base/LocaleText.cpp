#include "base/LocaleText.h"

#include <windows.h>

bool SameText(const std::string& a, const std::string& b) {
  return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

bool StartsWithText(const std::string& text, const std::string& prefix) {
  int length = static_cast<int>(prefix.size());
  return text.size() >= prefix.size() &&
         CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, text.c_str(), length,
                        prefix.c_str(), length) == CSTR_EQUAL;
}
