// The close request between the two programs over its local channel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <memory>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include "platform/process/process.h"
#include "support/test_support.h"

namespace {

// Runs the event loop until done() or the time is up.
bool spinUntil(const std::function<bool()>& done, int ms = 10000) {
  return testsupport::spinUntil(done, ms);
}

}  // namespace

TEST(CloseRequest, ReachesTheListenerOfThatCaptionOnly) {
  testsupport::coreApp();
  const std::string caption = "Velmora 测试 " + std::to_string(::getpid());
  EXPECT_FALSE(platform::isListening(caption));
  EXPECT_FALSE(platform::requestClose(caption));
  int closes = 0, others = 0;
  {
    platform::CloseRequestListener listener(caption, [&] { ++closes; });
    platform::CloseRequestListener other(caption + "x", [&] { ++others; });
    ASSERT_TRUE(listener.listening());
    EXPECT_TRUE(platform::isListening(caption));
    EXPECT_TRUE(platform::requestClose(caption));
    EXPECT_TRUE(spinUntil([&] { return closes == 1; }, 3000));
    // A second program under the same caption does not steal the channel.
    platform::CloseRequestListener second(caption, [] {});
    EXPECT_FALSE(second.listening());
  }
  EXPECT_EQ(others, 0);
  EXPECT_FALSE(platform::isListening(caption));
  EXPECT_TRUE(platform::waitUntilClosed(caption, 100));
  // A program that ends its listener from the close handler (as a window that
  // closes does) must not be read from afterwards.
  std::unique_ptr<platform::CloseRequestListener> owned;
  owned = std::make_unique<platform::CloseRequestListener>(caption, [&] { owned.reset(); });
  ASSERT_TRUE(owned->listening());
  EXPECT_TRUE(platform::requestClose(caption));
  EXPECT_TRUE(spinUntil([&] { return owned == nullptr; }, 3000));
  EXPECT_NE(platform::closeChannelName("a"), platform::closeChannelName("b"));
  EXPECT_EQ(platform::closeChannelName("a").find('/'), std::string::npos);
}

TEST(CloseRequest, WaitingEndsWhenTheListenerGoesOrWhenTheTimeIsUp) {
  testsupport::coreApp();
  const std::string caption = "Velmora wait " + std::to_string(::getpid());
  // The listener lives in a thread of its own with its own event loop, as the
  // main program does beside the waiting updater.
  QThread thread;
  std::unique_ptr<platform::CloseRequestListener> listener;
  std::atomic<bool> up{false};
  QObject worker;
  worker.moveToThread(&thread);
  thread.start();
  QMetaObject::invokeMethod(&worker, [&] {
    listener = std::make_unique<platform::CloseRequestListener>(caption, [] {});
    up = listener->listening();
  }, Qt::BlockingQueuedConnection);
  ASSERT_TRUE(up);
  // Still listening: the wait runs to its end and says so.
  QElapsedTimer clock;
  clock.start();
  EXPECT_FALSE(platform::waitUntilClosed(caption, 300));
  EXPECT_GE(clock.elapsed(), 300);
  // The listener goes while the wait is under way: the wait ends then.
  QTimer::singleShot(400, &worker, [&] { listener.reset(); });
  clock.restart();
  EXPECT_TRUE(platform::waitUntilClosed(caption, 10000));
  EXPECT_GE(clock.elapsed(), 300);
  EXPECT_LT(clock.elapsed(), 9000);
  thread.quit();
  thread.wait();
}

TEST(StartProgramFile, OnlyAnElfOrAScriptIsStartedAndNothingGoesToTheOpener) {
  testsupport::coreApp();
  testsupport::ProgramFolder folder;
  const std::string mark = folder / "ran.txt";
  // A script without its execute bit: given it for this start.
  testsupport::writeFile(folder / "run.sh", "#!/bin/sh\necho ran > " + mark + "\n");
  std::filesystem::permissions(folder / "run.sh", std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_TRUE(platform::isProgramFile(folder / "run.sh"));
  EXPECT_TRUE(platform::startProgramFile(folder / "run.sh"));
  EXPECT_TRUE(testsupport::spinUntil([&] { return testsupport::exists(mark); }, 5000));
  // An ELF program of the system.
  EXPECT_TRUE(platform::isProgramFile("/bin/true"));
  EXPECT_TRUE(platform::startProgramFile("/bin/true"));
  // No program: a text, a page, a file too short to tell, an empty one, a
  // folder, a FIFO (tested without blocking), a missing file.
  testsupport::writeFile(folder / "doc.txt", "just a text that an opener would show");
  testsupport::writeFile(folder / "page.htm", "<html></html>");
  testsupport::writeFile(folder / "short", "#");
  testsupport::writeFile(folder / "elfish", "\x7f" "EL");
  testsupport::writeFile(folder / "empty", "");
  std::filesystem::create_directories(folder / "dir");
  ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
  for (const char* name : {"doc.txt", "page.htm", "short", "elfish", "empty", "dir", "fifo", "missing"}) {
    EXPECT_FALSE(platform::isProgramFile(folder / name)) << name;
    EXPECT_FALSE(platform::startProgramFile(folder / name)) << name;
  }
  // Not given an execute bit either.
  EXPECT_EQ(std::filesystem::status(folder / "doc.txt").permissions() & std::filesystem::perms::owner_exec,
            std::filesystem::perms::none);
  // startProgram itself wants the execute bit.
  EXPECT_FALSE(platform::startProgram(folder / "doc.txt"));
  EXPECT_FALSE(platform::startProgram(folder / "missing"));
}
