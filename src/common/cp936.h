#pragma once
// Code page 936 (GBK), the code page of every text file the programs read or
// write. Inside the programs text is UTF-8.
#include <string>
#include <string_view>

namespace common {

// GBK bytes to UTF-8. Bytes that are not valid GBK become U+FFFD; never fails.
std::string fromCp936(std::string_view bytes);

// UTF-8 to GBK bytes. A character GBK cannot hold becomes '?'; invalid UTF-8
// input bytes likewise.
std::string toCp936(std::string_view utf8);

}  // namespace common
