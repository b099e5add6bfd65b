// Secrets sealed for the logged-on user by the system's data protection
// (Windows 2000 and later): a stored password is then no text that every
// program the user runs can read. The library comes only when a secret is
// sealed or unsealed, so the programs still start where it is missing.
#pragma once

#include <optional>
#include <string>

// False on the 95 family and where the system has no data protection (NT
// 4.0, a crypt32 without it): secrets are kept as they are there.
bool CanProtectForUser();

// The secret sealed for this user on this computer, or nothing when the
// system can't or won't. `purpose` must be given again to unseal it, so that
// another program of the same user can't unseal it by accident.
std::optional<std::string> ProtectForUser(const std::string& secret, const std::string& purpose);

// The secret back, or nothing when the data wasn't sealed by this user with
// this purpose, is damaged, or the system has no data protection.
std::optional<std::string> UnprotectForUser(const std::string& sealed, const std::string& purpose);
