// Putting a complete new file in the place of an existing one.
#pragma once

#include <string>

// Moves `source` over `target` (in the same folder); true when the target
// then holds the source's content. The 95 family can't replace a file in
// one call: there the old file is moved aside first and put back when the
// move fails. The system's error is kept for the caller on failure.
bool MoveFileOver(const std::string& source, const std::string& target);

// The 95 family's way, also for tests on other systems.
bool MoveFileOverInSteps(const std::string& source, const std::string& target);
