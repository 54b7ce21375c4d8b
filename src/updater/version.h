#pragma once
// Versions of the update list ("V2.15"): the first character is dropped and the
// rest read as one decimal number.
#include <optional>
#include <string>

namespace updater {

// The number of a version text, or nothing when what follows the first
// character is not a plain decimal number.
std::optional<double> versionNumber(const std::string& version);

// True when listed is newer than installed. A version that cannot be read as a
// number is never newer (nor is anything newer than it).
bool isNewerVersion(const std::string& listed, const std::string& installed);

}  // namespace updater
