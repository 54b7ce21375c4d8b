#include "common/large_pages.h"

#include <unistd.h>
#if defined(__linux__)
#include <sys/auxv.h>
#endif

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "common/sanitizers.h"

#if defined(__linux__) && defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 35))
#define VELMORA_HEAP_TUNABLE 1
#endif
#ifdef VELMORA_SANITIZED
#undef VELMORA_HEAP_TUNABLE  // the sanitizers bring their own allocator
#endif

namespace common {

namespace {

constexpr char kTunables[] = "GLIBC_TUNABLES";
constexpr char kTunable[] = "glibc.malloc.hugetlb";
// Set for the program started again: "-" when there was no variable, else
// "+" and its value.
constexpr char kStartedAgain[] = "VELMORA_HEAP_TUNED";

#ifdef VELMORA_HEAP_TUNABLE
void putBack(const std::string& was) {
  if (was.empty() || was[0] == '-')
    ::unsetenv(kTunables);
  else
    ::setenv(kTunables, was.c_str() + 1, 1);
}
#endif

}  // namespace

bool largePagesOnOffer() {
  std::ifstream f("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string line;
  if (!std::getline(f, line)) return false;
  return line.find("[always]") != std::string::npos || line.find("[madvise]") != std::string::npos;
}

std::optional<std::string> withLargePages(const char* current) {
  const std::string now = current ? current : "";
  // Names are matched whole ("glibc.malloc.hugetlb=0" is the user's no).
  for (std::size_t at = 0; at <= now.size();) {
    std::size_t end = now.find(':', at);
    if (end == std::string::npos) end = now.size();
    const std::string item = now.substr(at, end - at);
    if (item.rfind(std::string(kTunable) + "=", 0) == 0) return std::nullopt;
    at = end + 1;
  }
  std::string value = std::string(kTunable) + "=1";
  return now.empty() ? value : now + ":" + value;
}

void preferLargePages(char** argv) {
#ifdef VELMORA_HEAP_TUNABLE
  if (const char* mark = std::getenv(kStartedAgain)) {
    const std::string was = mark;
    ::unsetenv(kStartedAgain);
    putBack(was);
    return;
  }
  if (!argv || !argv[0]) return;
  // Started by naming the dynamic loader (ld.so PROGRAM): this image is the
  // loader's, and starting it again would take the first argument for the
  // program.
  if (::getauxval(AT_BASE) == 0) return;
  const char* current = std::getenv(kTunables);
  const std::string was = current ? std::string("+") + current : std::string("-");
  const std::optional<std::string> wanted = withLargePages(current);
  if (!wanted || !largePagesOnOffer()) return;
  ::setenv(kStartedAgain, was.c_str(), 1);
  ::setenv(kTunables, wanted->c_str(), 1);
  ::execv("/proc/self/exe", argv);
  // Not started again (no /proc, no right to execute): on as it is.
  ::unsetenv(kStartedAgain);
  putBack(was);
#else
  (void)argv;
#endif
}

}  // namespace common
