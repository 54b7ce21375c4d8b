// velmora-cli cache warm FOLDER
// velmora-cli cache status FOLDER
//
// warm imports into the library cache every library of the program folder
// that it holds no good entry of, one after another, as the main window does
// in the background after it starts (price_tools::prepareLibraries): the
// opens that follow are warm opens. Each library is named on standard error
// before its import; the exit code is 1 when one of them could not be
// imported.
//
// status lists the libraries, in the order warm takes them, one a line:
// "ready" (an open takes it from the cache), "not ready" (an open would
// import it) or "unreadable" and the reason, a tab, then the file's name.
// Nothing is imported.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/database/library_cache.h"
#include "price_tools/prep/library_prep.h"

namespace {

using namespace price_tools;

const char* kUsage = "usage: velmora-cli cache warm|status FOLDER\n";

const char* stateText(Readiness r) {
  switch (r) {
    case Readiness::Ready: return "ready";
    case Readiness::NotReady: return "not ready";
    case Readiness::Unreadable: return "unreadable";
  }
  return "?";
}

int status(const std::string& folder) {
  std::size_t ready = 0;
  const std::vector<LibraryState> states = libraryStates(folder);
  for (const LibraryState& s : states) {
    if (s.readiness == Readiness::Ready) ++ready;
    std::string line = stateText(s.readiness);
    if (!s.problem.empty()) line += " (" + cli::textField(s.problem) + ")";
    std::printf("%s\t%s\n", line.c_str(), cli::textField(s.file).c_str());
  }
  std::fprintf(stderr, "%zu of %zu libraries ready\n", ready, states.size());
  return 0;
}

int warm(const std::string& folder) {
  if (!ado::libraryCacheEnabled()) {
    std::fprintf(stderr, "the library cache is off: nothing to prepare\n");
    return 1;
  }
  const std::atomic<bool> never{false};
  const PrepResult r = prepareLibraries(folder, never, [](const PrepProgress& p) {
    if (!p.file.empty()) std::fprintf(stderr, "%s %s\n", prepText(p).c_str(), cli::textField(p.file).c_str());
  });
  for (const LibraryState& s : r.failed)
    std::fprintf(stderr, "%s: %s\n", cli::textField(s.file).c_str(), cli::textField(s.problem).c_str());
  std::fprintf(stderr, "%zu imported, %zu failed\n", r.imported, r.failed.size());
  return r.failed.empty() ? 0 : 1;
}

int runCache(const std::vector<std::string>& args) {
  if (args.size() != 2 || (args[0] != "warm" && args[0] != "status")) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(args[1], ec)) {
    std::fprintf(stderr, "%s: no such folder\n", cli::textField(args[1]).c_str());
    return 1;
  }
  return args[0] == "warm" ? warm(args[1]) : status(args[1]);
}

}  // namespace

VELMORA_CLI_COMMAND(cache, "cache warm|status FOLDER", runCache);
