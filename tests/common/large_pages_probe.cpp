// A program as the programs start: it asks for large pages, then prints
// whether it was started again (the mark in the environment it was given at
// its start), the GLIBC_TUNABLES it has now (what it would pass on), and
// whether the mark is still set.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "common/large_pages.h"

int main(int argc, char** argv) {
  (void)argc;
  common::preferLargePages(argv);
  std::ifstream f("/proc/self/environ", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  bool again = false;
  for (std::size_t at = 0; at < all.size();) {
    const std::size_t end = all.find('\0', at);
    const std::string item = all.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (item.rfind("VELMORA_HEAP_TUNED=", 0) == 0) again = true;
    if (end == std::string::npos) break;
    at = end + 1;
  }
  const char* now = std::getenv("GLIBC_TUNABLES");
  std::printf("again %s\nnow %s\nmark %s\n", again ? "yes" : "no", now ? now : "(unset)",
              std::getenv("VELMORA_HEAP_TUNED") ? "set" : "gone");
  return 0;
}
