// Letter case ignored the way Windows compares text in the system's code
// page, all its letters and not only A-Z: for what users type (variable
// names, expected registry data) and for paths.
#pragma once

#include <string>

bool SameText(const std::string& a, const std::string& b);
bool StartsWithText(const std::string& text, const std::string& prefix);
