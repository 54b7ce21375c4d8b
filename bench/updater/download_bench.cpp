// Download throughput of the updater against curl, side by side on loopback:
// one server on 127.0.0.1 serves the same file to curl (writing it to disk) and
// to a whole updater run (hidden, automatic, one item), alternately, several
// rounds. Prints the times, the throughputs, the ratio and the process's peak
// memory before and after the updater's downloads.
//
//   updater_download_bench [megabytes=500] [rounds=3]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <vector>

#include "../../tests/support/test_server.h"
#include "../../tests/support/test_support.h"
#include "common/items.h"
#include "platform/http/http_transfer.h"
#include "updater/local_files.h"
#include "updater/updater_run.h"

namespace fs = std::filesystem;

namespace {

long peakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 500;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const long long size = megabytes * 1024 * 1024;

  testsupport::ProgramFolder folder;
  const std::string source = (fs::path(folder.path()).parent_path() / ("quennar-bench-" + std::to_string(::getpid()) + ".bin")).string();
  {
    std::ofstream out(source, std::ios::binary);
    std::mt19937_64 rng(7);
    std::vector<uint64_t> block(1 << 17);
    for (long long written = 0; written < size; written += static_cast<long long>(block.size() * 8)) {
      for (auto& x : block) x = rng();
      out.write(reinterpret_cast<const char*>(block.data()),
                static_cast<std::streamsize>(std::min<long long>(static_cast<long long>(block.size() * 8), size - written)));
    }
  }
  testhttp::Server server;
  testhttp::Route file;
  file.filePath = source;
  file.chunkSize = 1 << 20;
  server.set("/big.bin", file);
  testhttp::Route list;
  list.body = testsupport::gbk("版本=v1\r\n方式=隐藏\r\n更新=自动\r\n|1|big|d|s|x|" + server.url("/big.bin") +
                               "|big.bin|解压|\r\n");
  server.set("/list.ini", list);

  std::printf("file: %lld MB, rounds: %d\n", megabytes, rounds);
  const long rssBefore = peakRssKb();
  long long deliveries = 0;
  std::vector<double> curlSeconds, ourSeconds, transferSeconds, inRunSeconds;
  // Each measurement starts from a flushed page cache; the order of the three
  // rotates from round to round, so that none always follows another's writes.
  auto measureCurl = [&]() -> bool {
    const std::string curlOut = folder / "curl.bin";
    ::sync();
    QElapsedTimer t;
    t.start();
    const int rc = QProcess::execute("curl", {"-s", "-o", QString::fromStdString(curlOut),
                                              QString::fromStdString(server.url("/big.bin"))});
    curlSeconds.push_back(t.nsecsElapsed() / 1e9);
    const bool ok = rc == 0 && fs::file_size(curlOut) == static_cast<uintmax_t>(size);
    if (!ok) std::fprintf(stderr, "curl failed (%d)\n", rc);
    fs::remove(curlOut);
    return ok;
  };
  // The transfer alone: the same client writing the body to disk, without the
  // queue's 100 ms ticks and the list download around it.
  auto measureTransfer = [&]() -> bool {
    const std::string path = folder / "alone.bin";
    ::sync();
    platform::HttpTransfer transfer;
    transfer.setUrl(server.url("/big.bin"));
    std::FILE* out = std::fopen(path.c_str(), "wb");
    bool done = false;
    platform::InetState state{};
    deliveries = 0;
    QElapsedTimer t;
    t.start();
    transfer.execute({nullptr,
                      [&](std::string_view b) {
                        ++deliveries;
                        std::fwrite(b.data(), 1, b.size(), out);
                      },
                      [&](platform::InetState st) {
                        state = st;
                        done = true;
                      }});
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::fclose(out);
    transferSeconds.push_back(t.nsecsElapsed() / 1e9);
    fs::remove(path);
    return state == platform::InetState::ResponseCompleted;
  };
  auto measureRun = [&]() -> bool {
    if (!common::writeItemFile(updater::localPath(updater::kSettingsFile), {"", "", server.url("/list.ini"), ""})) return false;
    fs::remove(updater::localPath(updater::kLogFile));
    ::sync();
    updater::UpdaterRun run;
    bool ended = false;
    run.setEndProgram([&] { ended = true; });
    QElapsedTimer t;
    t.start();
    run.load();
    while (!ended) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ourSeconds.push_back(t.nsecsElapsed() / 1e9);
    inRunSeconds.push_back(run.lastTransferSeconds());
    const std::string ours = folder / "big.bin";
    const bool ok = fs::exists(ours) && fs::file_size(ours) == static_cast<uintmax_t>(size);
    if (!ok) std::fprintf(stderr, "updater download failed\n");
    fs::remove(ours);
    return ok;
  };
  const std::function<bool()> measures[3] = {measureCurl, measureRun, measureTransfer};
  for (int round = 0; round < rounds; ++round) {
    for (int k = 0; k < 3; ++k)
      if (!measures[(round + k) % 3]()) return 1;
    std::printf("round %d: curl %.3f s; updater: download within the run %.3f s, whole run %.3f s, "
                "transfer alone %.3f s (%lld deliveries)\n",
                round + 1, curlSeconds.back(), inRunSeconds.back(), ourSeconds.back(), transferSeconds.back(),
                deliveries);
  }
  const double c = median(curlSeconds), u = median(ourSeconds);
  const double x = median(transferSeconds), d = median(inRunSeconds);
  std::printf("median throughput: curl %.0f MB/s\n", megabytes / c);
  std::printf("  updater download within the run: %.0f MB/s = %.0f%% of curl\n", megabytes / d, 100.0 * c / d);
  std::printf("  updater whole run (list, 100 ms queue ticks, save): %.0f MB/s = %.0f%% of curl\n", megabytes / u,
              100.0 * c / u);
  std::printf("  transfer alone: %.0f MB/s = %.0f%% of curl\n", megabytes / x, 100.0 * c / x);
  std::printf("peak memory: %ld KB before the updater's downloads, %ld KB after (file %lld KB)\n", rssBefore,
              peakRssKb(), size / 1024);
  fs::remove(source);
  return 0;
}
