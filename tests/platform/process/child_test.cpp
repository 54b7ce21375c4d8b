// Helper programs whose output this one reads: what they are started with,
// what they inherit, how their output and their end are told apart, and what
// happens when they cannot start or go away early.
#include "platform/process/child.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/coverage.h"
#include "support/test_support.h"

using platform::ChildLimits;
using platform::ChildProcess;
namespace fs = std::filesystem;

namespace {

// Everything the helper writes, until it closes its output.
std::string readAll(ChildProcess& child, ChildProcess::Read& last) {
  std::string out;
  char buf[4096];
  for (;;) {
    std::size_t got = 0;
    last = child.read(buf, sizeof buf, 60000, got);
    if (last != ChildProcess::Read::Data) return out;
    out.append(buf, got);
  }
}

std::string shellOutput(const std::string& script, const ChildLimits& limits = {}, bool* ended = nullptr) {
  auto child = ChildProcess::start("/bin/sh", {"-c", script}, limits);
  ChildProcess::Read last{};
  std::string out = readAll(*child, last);
  EXPECT_EQ(last, ChildProcess::Read::End) << script;
  const bool ok = child->wait();
  if (ended) *ended = ok;
  return out;
}

std::string startFailure(const std::string& program) {
  try {
    ChildProcess::start(program, {}, {});
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(ChildProcess, OutputArrivesWholeAndTheEndAndTheExitStatusAreTold) {
  bool ok = false;
  // More than a pipe holds, in pieces.
  EXPECT_EQ(shellOutput("head -c 200000 /dev/zero | tr '\\0' x", {}, &ok), std::string(200000, 'x'));
  EXPECT_TRUE(ok);
  EXPECT_EQ(shellOutput("printf 'partial'; exit 3", {}, &ok), "partial");
  EXPECT_FALSE(ok) << "a non-zero exit status is no success";
  EXPECT_EQ(shellOutput("kill -9 $$", {}, &ok), "");
  EXPECT_FALSE(ok) << "a helper killed by a signal is no success";
  // Arguments are passed one by one, as they are.
  EXPECT_EQ(shellOutput("printf '[%s]' \"$0\" \"$1\"; echo", {}, &ok), "[/bin/sh][]\n");
  auto child = ChildProcess::start("/bin/echo", {"a b", "", "c;d"}, {});
  ChildProcess::Read last{};
  EXPECT_EQ(readAll(*child, last), "a b  c;d\n");
  EXPECT_TRUE(child->wait());
}

// A helper that closes its output and goes on running has ended its answer:
// the reader learns it at once, not when the helper exits.
TEST(ChildProcess, OutputClosedEarlyAndSilenceAreToldApart) {
  auto quiet = ChildProcess::start("/bin/sh", {"-c", "exec sleep 30"}, {});
  char buf[16];
  std::size_t got = 99;
  EXPECT_EQ(quiet->read(buf, sizeof buf, 50, got), ChildProcess::Read::Timeout);
  EXPECT_EQ(got, 0u);

  auto closing = ChildProcess::start("/bin/sh", {"-c", "printf done; exec 1>&-; exec sleep 30"}, {});
  ChildProcess::Read last{};
  EXPECT_EQ(readAll(*closing, last), "done");
  EXPECT_EQ(last, ChildProcess::Read::End);
}

// Dropping a helper that still runs ends it and reaps it: no process, not
// even a zombie, is left behind.
TEST(ChildProcess, ADroppedHelperIsKilledAndReaped) {
  auto child = ChildProcess::start("/bin/sh", {"-c", "echo $$; exec sleep 30"}, {});
  std::string line;
  char buf[32];
  while (line.find('\n') == std::string::npos) {
    std::size_t got = 0;
    ASSERT_EQ(child->read(buf, sizeof buf, 10000, got), ChildProcess::Read::Data);
    line.append(buf, got);
  }
  const pid_t pid = std::stoi(line);
  ASSERT_GT(pid, 0);
  ASSERT_EQ(::kill(pid, 0), 0);
  child.reset();
  errno = 0;
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  // wait() after the helper has been reaped once does not wait again.
  auto once = ChildProcess::start("/bin/true", {}, {});
  EXPECT_TRUE(once->wait());
  EXPECT_FALSE(once->wait());
}

// The helper gets the null device for its input and its errors, the pipe for
// its output, and nothing else of the caller: no open file, no ignored signal.
TEST(ChildProcess, TheHelperInheritsNothingButItsPipe) {
  testsupport::ProgramFolder folder;
  testsupport::writeFile(folder / "held.txt", "x");
  const int held = ::open((folder / "held.txt").c_str(), O_RDONLY);  // no close-on-exec
  ASSERT_GE(held, 0);
  struct sigaction ignore{}, previous{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);

  const std::string out = shellOutput(
      "readlink /proc/$$/fd/0; readlink /proc/$$/fd/2; "
      "for f in /proc/$$/fd/*; do [ \"${f##*/}\" -gt 2 ] && readlink \"$f\"; done; "
      "cat; echo end-of-input; "
      "grep SigIgn /proc/self/status");
  ::sigaction(SIGPIPE, &previous, nullptr);
  ::close(held);

  std::vector<std::string> lines;
  for (std::size_t start = 0, nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(out.substr(start, nl - start));
  ASSERT_GE(lines.size(), 4u) << out;
  EXPECT_EQ(lines[0], "/dev/null");
  EXPECT_EQ(lines[1], "/dev/null");
  // Past 0, 1 and 2 only the folder the shell's glob reads may be open.
  std::size_t i = 2;
  for (; i < lines.size() && lines[i] != "end-of-input"; ++i)
    EXPECT_EQ(lines[i].find(folder.path()), std::string::npos) << "inherited: " << lines[i];
  ASSERT_LT(i + 1, lines.size()) << out;
  // SIGPIPE (signal 13) is the 13th bit of the mask of ignored signals.
  const std::string& mask = lines[i + 1];
  ASSERT_EQ(mask.rfind("SigIgn:", 0), 0u) << mask;
  const unsigned long ignored = std::stoul(mask.substr(7), nullptr, 16);
  EXPECT_EQ(ignored & (1ul << (SIGPIPE - 1)), 0u) << mask;
}

TEST(ChildProcess, LimitsAreSetBeforeTheHelperRuns) {
  ChildLimits limits;
  limits.cpuSeconds = 7;
  limits.addressSpace = std::uint64_t{512} << 20;
  // Asserted: without its limit the helper below would spin for ever.
  ASSERT_EQ(shellOutput("ulimit -t; ulimit -v", limits), "7\n524288\n");
  EXPECT_EQ(shellOutput("ulimit -t; ulimit -v"), "unlimited\nunlimited\n");
  // A helper past its CPU time is stopped, and that is no success.
  limits.cpuSeconds = 1;
  bool ok = true;
  shellOutput("while :; do :; done", limits, &ok);
  EXPECT_FALSE(ok);
}

// A program that cannot be started throws with the reason, whether the
// caller can tell beforehand (missing, no execute bit) or only exec can (a
// file with its execute bit that is no program).
TEST(ChildProcess, AProgramThatCannotStartThrowsWithTheReason) {
  testsupport::ProgramFolder folder;
  EXPECT_NE(startFailure(folder / "missing").find("No such file"), std::string::npos) << startFailure(folder / "missing");
  testsupport::writeFile(folder / "plain", "#!/bin/sh\necho hi\n");
  fs::permissions(folder / "plain", fs::perms::owner_read | fs::perms::owner_write);
  // No execute bit at all: not even the administrator may run it.
  EXPECT_NE(startFailure(folder / "plain").find("Permission denied"), std::string::npos) << startFailure(folder / "plain");
  testsupport::writeFile(folder / "garbage", std::string("\x01\x02\x03\x04 not a program"));
  fs::permissions(folder / "garbage", fs::perms::owner_all);
  const std::string why = startFailure(folder / "garbage");
  EXPECT_NE(why.find("cannot start"), std::string::npos) << why;
  EXPECT_NE(why.find("Exec format error"), std::string::npos) << why;
  testsupport::writeFile(folder / "badinterp", "#!" + (folder / "no-interpreter") + "\n");
  fs::permissions(folder / "badinterp", fs::perms::owner_all);
  EXPECT_NE(startFailure(folder / "badinterp").find("No such file"), std::string::npos);
}

// The helper's side: every byte reaches the reader, and a reader that has
// gone is reported rather than written to for ever.
TEST(ChildProcess, WritingToTheParentReportsAReaderThatHasGone) {
  for (const bool readerStays : {true, false}) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    // Gone before the helper writes: nobody holds the read end any more.
    if (!readerStays) ::close(ends[0]);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::signal(SIGPIPE, SIG_IGN);
      ::dup2(ends[1], 1);
      if (readerStays) ::close(ends[0]);
      ::close(ends[1]);
      const std::string data(300000, 'd');
      const bool ok = platform::writeToParent(data.data(), data.size());
      common::flushCoverage();
      ::_exit(ok ? 0 : 1);
    }
    ::close(ends[1]);
    std::string got;
    if (readerStays) {
      char buf[8192];
      ssize_t n;
      while ((n = ::read(ends[0], buf, sizeof buf)) > 0) got.append(buf, std::size_t(n));
      ::close(ends[0]);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << readerStays;
    EXPECT_EQ(WEXITSTATUS(status), readerStays ? 0 : 1) << readerStays;
    if (readerStays) {
      EXPECT_EQ(got, std::string(300000, 'd'));
    }
  }
}

// Work put at the lowest priority stays there, with what it starts, and the
// rest of the program keeps its own.
TEST(ChildProcess, TheLowestPriorityHoldsForTheThreadAndWhatItStarts) {
  const int before = ::getpriority(PRIO_PROCESS, 0);
  bool lowered = false;
  int policy = -1, nice = -100;
  std::string childNice;
  std::thread worker([&] {
    lowered = platform::runThisThreadAtLowestPriority();
    policy = ::sched_getscheduler(0);
    nice = ::getpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)));
    childNice = shellOutput("cut -d' ' -f19 /proc/self/stat");
  });
  worker.join();
  EXPECT_TRUE(lowered);
  EXPECT_EQ(policy, SCHED_IDLE);
  EXPECT_EQ(nice, 19);
  EXPECT_EQ(childNice, "19\n");
  EXPECT_EQ(::getpriority(PRIO_PROCESS, 0), before) << "the calling thread only";
  EXPECT_NE(::sched_getscheduler(0), SCHED_IDLE);
}

TEST(ChildProcess, TheExecutableFolderHoldsThisTestProgram) {
  const std::string folder = platform::executableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_NE(folder.back(), '/');
  EXPECT_TRUE(fs::is_regular_file(fs::path(folder) / "process_tests")) << folder;
}
