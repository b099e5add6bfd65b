// Letter case ignored off Windows: A-Z only, since there is no system code
// page to ask.
#include "base/LocaleText.h"

#include "base/Text.h"

bool SameText(const std::string& a, const std::string& b) { return ToLowerAscii(a) == ToLowerAscii(b); }

bool StartsWithText(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}
