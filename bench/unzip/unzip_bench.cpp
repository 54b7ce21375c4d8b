// Unpacking time of platform::unzipArchive against bsdtar (libarchive's own
// tool) extracting the same archive, side by side, several rounds: an archive
// of many small entries, most in one folder (pages of a price library), which
// is where a name lookup that lists its folder for every entry grows with the
// square of the entries; once into an empty folder and once over the files
// of the first (an update of every page). Each unpacking runs in a child process of its own, so
// that each side's peak memory is its own.
//
//   unzip_bench [entries=100000] [rounds=5]
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../../tests/support/test_support.h"
#include "../support/reference.h"
#include "platform/zip/unzip.h"

namespace fs = std::filesystem;

namespace {

struct Run {
  double seconds = 0;
  long peakKb = 0;
  bool ok = false;
};

// Waits for the child pid started at start: its time, peak memory and success.
Run waitFor(pid_t pid, std::chrono::steady_clock::time_point start) {
  int status = 0;
  rusage ru{};
  ::wait4(pid, &status, 0, &ru);
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peakKb = ru.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

// Runs body in a child process.
template <class Body>
Run inChild(Body body) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body() ? 0 : 1);
  return waitFor(pid, start);
}

Run bsdtar(const std::string& zip, const std::string& dest) {
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  std::vector<char*> argv{const_cast<char*>("bsdtar"), const_cast<char*>("-xf"), const_cast<char*>(zip.c_str()),
                          const_cast<char*>("-C"), const_cast<char*>(dest.c_str()), nullptr};
  if (posix_spawnp(&pid, "bsdtar", nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start bsdtar (Debian package libarchive-tools)\n");
    std::exit(1);
  }
  return waitFor(pid, start);
}

size_t filesBelow(const std::string& folder) {
  size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) n += e.is_regular_file();
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each round shows as it ends
  const int entries = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  testsupport::ProgramFolder folder;
  const std::string zip = folder / "pages.zip";
  {
    std::vector<testsupport::ZipEntry> list;
    list.reserve(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i) {
      // Nine in ten in one folder, the rest spread over a hundred.
      const std::string name = i % 10 ? "web/p" + std::to_string(i) + ".htm"
                                      : "web/s" + std::to_string(i % 100) + "/p" + std::to_string(i) + ".htm";
      list.push_back({testsupport::ZipEntry::File, name, "<p>page " + std::to_string(i) + "</p>"});
    }
    testsupport::makeZip(zip, list);
  }
  std::printf("archive: %d entries, %.1f MB\n", entries, fs::file_size(zip) / 1e6);
  // Each round unpacks into an empty folder (a first installation), then the
  // same archive again over what it left (an update replacing every page).
  std::vector<double> ours, theirs, oursOver, theirsOver;
  long oursKb = 0, theirsKb = 0;
  for (int round = 0; round < rounds; ++round) {
    const std::string a = folder / ("ours" + std::to_string(round));
    const std::string b = folder / ("bsdtar" + std::to_string(round));
    fs::create_directories(a);
    fs::create_directories(b);
    const auto unpackInto = [&](const std::string& dest) {
      return inChild([&] { return platform::unzipArchive(zip, dest).code == platform::kUnzipOk; });
    };
    const Run r1 = unpackInto(a);
    const Run r2 = bsdtar(zip, b);
    const Run r3 = unpackInto(a);
    const Run r4 = bsdtar(zip, b);
    if (!r1.ok || !r2.ok || !r3.ok || !r4.ok || filesBelow(a) != static_cast<size_t>(entries) ||
        filesBelow(b) != static_cast<size_t>(entries)) {
      std::fprintf(stderr, "round %d: an unpacking failed (ours %d %d, bsdtar %d %d)\n", round, r1.ok, r3.ok, r2.ok,
                   r4.ok);
      return 1;
    }
    std::printf("round %d: empty folder: unzipArchive %.2f s (%ld KB peak), bsdtar %.2f s (%ld KB peak); "
                "over the files: unzipArchive %.2f s (%ld KB), bsdtar %.2f s (%ld KB)\n",
                round, r1.seconds, r1.peakKb, r2.seconds, r2.peakKb, r3.seconds, r3.peakKb, r4.seconds, r4.peakKb);
    ours.push_back(r1.seconds);
    theirs.push_back(r2.seconds);
    oursOver.push_back(r3.seconds);
    theirsOver.push_back(r4.seconds);
    oursKb = std::max({oursKb, r1.peakKb, r3.peakKb});
    theirsKb = std::max({theirsKb, r2.peakKb, r4.peakKb});
    fs::remove_all(a);
    fs::remove_all(b);
  }
  const double m1 = bench::median(ours), m2 = bench::median(theirs);
  const double m3 = bench::median(oursOver), m4 = bench::median(theirsOver);
  std::printf("median of %d: empty folder: unzipArchive %.2f s, bsdtar %.2f s, ratio %.2f; over the files: "
              "unzipArchive %.2f s, bsdtar %.2f s, ratio %.2f; peak memory %ld KB vs %ld KB\n",
              rounds, m1, m2, m1 / m2, m3, m4, m3 / m4, oursKb, theirsKb);
  return 0;
}
