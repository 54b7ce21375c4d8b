#pragma once
#include <string>
#include <string_view>

namespace common {

// Replaces the file at path with bytes: written to a temporary file in the same
// folder, flushed to disk, then renamed over the old file. A crash or a full
// disk never leaves a half-written file. Returns false (and leaves any old file
// untouched) when the write failed; error, when given, receives the reason.
bool writeFileAtomic(const std::string& path, std::string_view bytes, std::string* error = nullptr);

}  // namespace common
