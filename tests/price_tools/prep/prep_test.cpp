// The libraries of a folder prepared ahead of time: what the status says of
// each, what a preparation imports and tells, how it stops, the priority it
// runs at, and one import when two opens of a library meet.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "prep_folder.h"

namespace {

using months_fixture::earlierMonth;
using months_fixture::laterMonth;
using prep_fixture::ImportLog;
using prep_fixture::PrepFolder;
using prep_fixture::waitFor;
using price_tools::Readiness;

std::vector<std::pair<std::string, Readiness>> states(const std::string& folder) {
  std::vector<std::pair<std::string, Readiness>> out;
  for (const auto& s : price_tools::libraryStates(folder)) out.emplace_back(s.file, s.readiness);
  return out;
}

TEST(LibraryStatus, ListsEachLibraryNewestMonthFirstAndImportsNothing) {
  PrepFolder f;
  f.writeLibrary("2026年01月信息价", earlierMonth());
  f.writeLibrary("2026年03月信息价", laterMonth());
  f.writeLibrary("钢材补充", earlierMonth());
  f.writeLibrary("2026年02月信息价", laterMonth(), months_fixture::laterFactories(), "其他口令");
  f.writeText("损坏.ZDJ", "not a library");
  f.writeText("说明.txt", "not listed");
  ImportLog log;

  const auto first = price_tools::libraryStates(f.path());
  ASSERT_EQ(first.size(), 5u);
  EXPECT_EQ(first[0].file, "2026年03月信息价.zdj");
  EXPECT_EQ(first[1].file, "2026年02月信息价.zdj");
  EXPECT_EQ(first[2].file, "2026年01月信息价.zdj");
  EXPECT_EQ(first[0].readiness, Readiness::NotReady);
  EXPECT_EQ(first[1].readiness, Readiness::Unreadable);  // another password
  EXPECT_FALSE(first[1].problem.empty());
  EXPECT_EQ(first[2].readiness, Readiness::NotReady);
  for (size_t i = 3; i < 5; ++i)
    EXPECT_EQ(first[i].readiness, first[i].file == "损坏.ZDJ" ? Readiness::Unreadable : Readiness::NotReady)
        << first[i].file;
  EXPECT_EQ(log.begun(), 0);  // asking imports nothing
  std::vector<std::pair<std::string, Readiness>> before;
  for (const auto& s : first) before.emplace_back(s.file, s.readiness);
  EXPECT_EQ(states(f.path()), before);

  // An open makes one ready; a library written anew is not ready any more.
  ado::Database::open(f.file("2026年01月信息价.zdj"), "4917");
  EXPECT_EQ(f.readiness("2026年01月信息价.zdj"), Readiness::Ready);
  EXPECT_EQ(f.readiness("2026年03月信息价.zdj"), Readiness::NotReady);
  f.writeLibrary("2026年01月信息价", laterMonth());
  EXPECT_EQ(f.readiness("2026年01月信息价.zdj"), Readiness::NotReady);
}

TEST(LibraryStatus, NothingIsReadyWithTheCacheOff) {
  PrepFolder f;
  f.writeLibrary("2026年01月信息价", earlierMonth());
  ado::Database::open(f.file("2026年01月信息价.zdj"), "4917");
  ado::setLibraryCacheEnabled(false);
  EXPECT_EQ(f.readiness("2026年01月信息价.zdj"), Readiness::NotReady);
  std::atomic<bool> never{false};
  EXPECT_EQ(price_tools::prepareLibraries(f.path(), never).imported, 0u);
  ado::setLibraryCacheEnabled(true);
}

TEST(Preparation, ImportsWhatIsNotReadyOnceEachAndTellsEveryStep) {
  PrepFolder f;
  f.writeLibrary("2026年01月信息价", earlierMonth());
  f.writeLibrary("2026年02月信息价", laterMonth());
  f.writeLibrary("2026年03月信息价", laterMonth());
  f.writeText("损坏.zdj", "not a library");
  ado::Database::open(f.file("2026年02月信息价.zdj"), "4917");
  ImportLog log;
  std::vector<price_tools::PrepProgress> told;
  std::atomic<bool> never{false};
  const auto r = price_tools::prepareLibraries(f.path(), never, [&](const price_tools::PrepProgress& p) {
    told.push_back(p);
  });
  EXPECT_EQ(r.imported, 2u);
  EXPECT_FALSE(r.stopped);
  ASSERT_EQ(r.failed.size(), 0u);  // the unreadable one is not tried
  EXPECT_EQ(log.begun(), 2);
  ASSERT_EQ(told.size(), 3u);
  EXPECT_EQ(told[0].file, "2026年03月信息价.zdj");
  EXPECT_EQ(told[0].done, 0u);
  EXPECT_EQ(told[1].file, "2026年01月信息价.zdj");
  EXPECT_EQ(told[1].done, 1u);
  EXPECT_EQ(told[2].file, "");
  EXPECT_EQ(told[2].done, 2u);
  for (const auto& p : told) EXPECT_EQ(p.total, 2u);
  for (const auto& s : price_tools::libraryStates(f.path()))
    EXPECT_EQ(s.readiness, s.file == "损坏.zdj" ? Readiness::Unreadable : Readiness::Ready) << s.file;

  // Everything ready: nothing to import, nothing to tell but the end.
  told.clear();
  EXPECT_EQ(price_tools::prepareLibraries(f.path(), never, [&](const auto& p) { told.push_back(p); }).imported, 0u);
  EXPECT_EQ(log.begun(), 2);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].total, 0u);
}

TEST(Preparation, IndicatorText) {
  EXPECT_EQ(price_tools::prepText({2, 24, "2026年03月信息价.zdj"}), "正在准备材料库 3/24");
  EXPECT_EQ(price_tools::prepText({0, 1, "a.zdj"}), "正在准备材料库 1/1");
  EXPECT_EQ(price_tools::prepText({24, 24, ""}), "");
  EXPECT_EQ(price_tools::prepText({0, 0, ""}), "");
}

// The preparer's thread, and the reading program it starts, run in the idle
// class at the weakest niceness.
TEST(Preparation, RunsAtTheLowestPriorityAndSoDoesItsReader) {
  PrepFolder f;
  f.writeLibrary("2026年01月信息价", earlierMonth());
  ImportLog log;
  std::atomic<int> policy{-1}, nice{-100}, readerPolicy{-1};
  log.setHook([&](const ImportLog::Call& c) {
    if (c.done != 0) return;
    policy = sched_getscheduler(0);
    errno = 0;
    nice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
    // The reader is this thread's child while the rows come.
    std::ifstream children("/proc/thread-self/children");
    long pid = 0;
    if (children >> pid) {
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string all((std::istreambuf_iterator<char>(stat)), {});
      // Field 41 (policy), counted after the command's closing parenthesis.
      std::istringstream rest(all.substr(all.rfind(')') + 2));
      std::string field;
      for (int i = 3; i <= 41 && rest >> field; ++i)
        if (i == 41) readerPolicy = std::stoi(field);
    }
  });
  price_tools::LibraryPreparer prep;
  prep.prepare(f.path());
  prep.waitUntilIdle();
  EXPECT_EQ(policy.load(), SCHED_IDLE);
  EXPECT_EQ(nice.load(), 19);
  if (std::filesystem::exists("/proc/thread-self/children")) {
    EXPECT_EQ(readerPolicy.load(), SCHED_IDLE);
  }
  EXPECT_EQ(f.readiness("2026年01月信息价.zdj"), Readiness::Ready);
  EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);  // the caller's thread keeps its own
}

// Stopped during the copy of the first library: that copy ends at its next
// row (it is told of once, never of rows copied), nothing of it is kept, and
// the next library is not begun.
TEST(Preparation, StopEndsTheImportUnderWayAtOnce) {
  PrepFolder f;
  f.writeLibrary("2026年01月信息价", prep_fixture::manyProducts());
  f.writeLibrary("2026年02月信息价", prep_fixture::manyProducts());
  ImportLog log;
  std::atomic<bool> copying{false};
  log.setHook([&](const ImportLog::Call&) {
    copying = true;
    // Hold the copy until the stop is asked of this thread.
    waitFor([] { return ado::importStopFlag() && ado::importStopFlag()->load(); });
  });
  price_tools::LibraryPreparer prep;
  prep.prepare(f.path());
  ASSERT_TRUE(waitFor([&] { return copying.load(); }));
  prep.stop();
  EXPECT_EQ(log.calls().size(), 1u);
  EXPECT_EQ(f.readiness("2026年01月信息价.zdj"), Readiness::NotReady);
  EXPECT_EQ(f.readiness("2026年02月信息价.zdj"), Readiness::NotReady);
  prep.prepare(f.path());  // a stopped preparer starts nothing again
  prep.waitUntilIdle();
  EXPECT_EQ(log.begun(), 1);
}

// Two opens of one library at the same time (neither in the background): the
// second waits for the import of the first and is served from the entry it
// wrote.
TEST(ImportOnce, TwoOpensDuringOneImportGiveOneImport) {
  PrepFolder f;
  f.writeLibrary("2026年01月信息价", prep_fixture::manyProducts());
  const std::string lib = f.file("2026年01月信息价.zdj");
  ImportLog log;
  std::shared_ptr<ado::Database> second;
  std::thread other;
  const auto first = std::this_thread::get_id();
  log.setHook([&](const ImportLog::Call& c) {
    if (c.thread != first || c.done != 0) return;
    other = std::thread([&] { second = ado::Database::open(lib, "4917"); });
    // Until the other open waits, or has begun an import of its own.
    waitFor([&] { return ado::opensWaitingForImport() > 0 || log.begun() > 1; });
  });
  auto one = ado::Database::open(lib, "4917");
  other.join();
  EXPECT_EQ(log.begun(), 1);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->execute("select count(*) from CLProduct").cells.at(0).toText(), "12000");
  EXPECT_EQ(ado::opensWaitingForImport(), 0u);
}

// The import waited for is stopped: the open that waited imports the
// library itself.
TEST(ImportOnce, AnOpenWaitingForAStoppedImportImportsItself) {
  PrepFolder f;
  f.writeLibrary("2026年01月信息价", prep_fixture::manyProducts(5000));
  const std::string lib = f.file("2026年01月信息价.zdj");
  ImportLog log;
  std::atomic<bool> stop{false};
  std::atomic<std::thread::id> background{};
  log.setHook([&](const ImportLog::Call& c) {
    if (c.thread == background.load() && c.done == 0) waitFor([&] { return stop.load(); });
  });
  bool stopped = false;
  std::thread behind([&] {
    background = std::this_thread::get_id();
    ado::setImportStopFlag(&stop);
    try {
      ado::Database::open(lib, "4917");
    } catch (const ado::ImportStopped&) {
      stopped = true;
    }
    ado::setImportStopFlag(nullptr);
  });
  ASSERT_TRUE(waitFor([&] { return log.begun() == 1; }));
  std::shared_ptr<ado::Database> mine;
  std::thread user([&] { mine = ado::Database::open(lib, "4917"); });
  ASSERT_TRUE(waitFor([] { return ado::opensWaitingForImport() == 1; }));
  stop = true;
  behind.join();
  user.join();
  EXPECT_TRUE(stopped);
  ASSERT_TRUE(mine);
  EXPECT_EQ(log.begun(), 2);
  EXPECT_EQ(mine->execute("select count(*) from CLProduct").cells.at(0).toText(), "5000");
  EXPECT_EQ(f.readiness("2026年01月信息价.zdj"), Readiness::Ready);
}

// A background import (on a thread with a stop flag) meets the user's open
// of its library: it gives way at its next row, and the user's open imports
// the library itself instead of waiting on a thread that may get no
// processor.
TEST(ImportOnce, AnOpenTakesABackgroundImportOver) {
  PrepFolder f;
  f.writeLibrary("2026年01月信息价", prep_fixture::manyProducts());
  const std::string lib = f.file("2026年01月信息价.zdj");
  ImportLog log;
  std::atomic<std::thread::id> background{};
  log.setHook([&](const ImportLog::Call& c) {
    if (c.thread == background.load() && c.done == 0) waitFor([] { return ado::opensWaitingForImport() == 1; });
  });
  std::atomic<bool> never{false};
  bool tookOver = false;
  std::thread behind([&] {
    background = std::this_thread::get_id();
    ado::setImportStopFlag(&never);
    try {
      ado::Database::open(lib, "4917");
    } catch (const ado::ImportTakenOver&) {
      tookOver = true;
    }
    ado::setImportStopFlag(nullptr);
  });
  ASSERT_TRUE(waitFor([&] { return log.begun() == 1; }));
  auto mine = ado::Database::open(lib, "4917");
  behind.join();
  EXPECT_TRUE(tookOver);
  int behindCalls = 0;
  for (const auto& c : log.calls()) behindCalls += c.thread == background.load();
  EXPECT_EQ(behindCalls, 1);  // it copied no further
  EXPECT_EQ(mine->execute("select count(*) from CLProduct").cells.at(0).toText(), "12000");
  EXPECT_EQ(f.readiness("2026年01月信息价.zdj"), Readiness::Ready);
}

// The preparation goes on after a library was taken over from it.
TEST(Preparation, GoesOnAfterALibraryIsTakenOver) {
  PrepFolder f;
  f.writeLibrary("2026年02月信息价", prep_fixture::manyProducts());
  f.writeLibrary("2026年01月信息价", earlierMonth());
  const std::string lib = f.file("2026年02月信息价.zdj");
  ImportLog log;
  std::atomic<bool> firstHeld{false};
  log.setHook([&](const ImportLog::Call& c) {
    if (c.done == 0 && c.path == lib && !firstHeld.exchange(true))
      waitFor([] { return ado::opensWaitingForImport() == 1; });
  });
  price_tools::LibraryPreparer prep;
  prep.prepare(f.path());
  ASSERT_TRUE(waitFor([&] { return firstHeld.load(); }));
  ado::Database::open(lib, "4917");
  prep.waitUntilIdle();
  EXPECT_EQ(f.readiness("2026年02月信息价.zdj"), Readiness::Ready);
  EXPECT_EQ(f.readiness("2026年01月信息价.zdj"), Readiness::Ready);
}

}  // namespace
