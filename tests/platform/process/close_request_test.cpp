// The close request between the two programs over its local channel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include "platform/process/process.h"
#include "support/test_support.h"

namespace {

// Runs the event loop until done() or the time is up.
bool spinUntil(const std::function<bool()>& done, int ms = 10000) {
  return testsupport::spinUntil(done, ms);
}

// Runs the event loop for ms, whatever happens meanwhile.
void spinFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Puts folder in front of PATH while it lives.
class PathInFront {
 public:
  explicit PathInFront(const std::string& folder) {
    const char* old = std::getenv("PATH");
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv("PATH", (folder + (had_ ? ":" + old_ : "")).c_str(), 1);
  }
  ~PathInFront() {
    if (had_) ::setenv("PATH", old_.c_str(), 1);
    else ::unsetenv("PATH");
  }

 private:
  bool had_ = false;
  std::string old_;
};

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

// The channel carries one request and nothing else: other lines, a request in
// another spelling, or one cut out of a longer line close nothing, and a
// sender that floods it without ending a line is cut off.
TEST(CloseRequest, OnlyAWholeRequestClosesAndAChannelLeftBehindIsTakenOver) {
  testsupport::coreApp();
  const std::string caption = "Velmora stray " + std::to_string(::getpid());
  const QString name = QString::fromStdString(platform::closeChannelName(caption));
  // A channel left behind by a program that died: its socket file is there,
  // nobody listens on it.
  QString path;
  {
    QLocalServer probe;
    ASSERT_TRUE(probe.listen(name));
    path = probe.fullServerName();
  }
  const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(stale, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray native = path.toLocal8Bit();
  ASSERT_LT(std::size_t(native.size()), sizeof address.sun_path);
  std::memcpy(address.sun_path, native.constData(), std::size_t(native.size()));
  ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(stale);
  ASSERT_TRUE(std::filesystem::exists(native.toStdString()));
  EXPECT_FALSE(platform::isListening(caption));

  int closes = 0;
  platform::CloseRequestListener listener(caption, [&] { ++closes; });
  EXPECT_TRUE(listener.listening());
  EXPECT_TRUE(platform::isListening(caption));

  QLocalSocket talker;
  talker.connectToServer(name);
  ASSERT_TRUE(talker.waitForConnected(2000));
  talker.write("hello\nCLOSE\nclose \n close\nclose");
  talker.flush();
  spinFor(500);
  EXPECT_EQ(closes, 0);
  EXPECT_EQ(talker.state(), QLocalSocket::ConnectedState) << "a few stray bytes are no flood";
  talker.write("\n");  // "close" above, ended now: a whole request
  talker.flush();
  EXPECT_TRUE(spinUntil([&] { return closes == 1; }, 5000));

  // Lines longer than a request, each ending in one.
  QLocalSocket padded;
  padded.connectToServer(name);
  ASSERT_TRUE(padded.waitForConnected(2000));
  QByteArray lines;
  for (int pad = 1; pad <= 140; ++pad) lines += QByteArray(pad, 'x') + "close\n";
  padded.write(lines);
  padded.flush();
  spinFor(500);
  EXPECT_EQ(closes, 1);

  QLocalSocket flood;
  flood.connectToServer(name);
  ASSERT_TRUE(flood.waitForConnected(2000));
  flood.write(QByteArray(100, 'y'));
  flood.flush();
  EXPECT_TRUE(spinUntil([&] { return flood.state() == QLocalSocket::UnconnectedState; }, 5000));
  EXPECT_EQ(closes, 1);
}

// A program is started in its own folder, told through its environment when
// it was to start hidden; only a file that is no program goes to the
// desktop's opener, and only through shellOpen.
TEST(StartProgram, ItsFolderItsHiddenMarkAndTheOpenerOnlyForDocuments) {
  testsupport::coreApp();
  testsupport::ProgramFolder folder;
  namespace fs = std::filesystem;
  const std::string opened = folder / "opened.txt";
  testsupport::writeFile(folder / "bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + opened + "'\n");
  fs::permissions(folder / "bin/xdg-open", fs::perms::owner_all);
  const PathInFront path(folder / "bin");
  ::unsetenv("VELMORA_START_HIDDEN");

  const std::string marks = folder / "marks.txt";
  testsupport::writeFile(folder / "app/report.sh",
                         "#!/bin/sh\necho \"$(pwd -P) ${VELMORA_START_HIDDEN:-shown}\" >> '" + marks + "'\n");
  fs::permissions(folder / "app/report.sh", fs::perms::owner_all);
  const std::string app = fs::canonical(folder / "app").string();
  ASSERT_NE(fs::current_path(), fs::path(app));

  auto marksAre = [&](std::size_t n) { return spinUntil([&] { return testsupport::readLines(marks).size() >= n; }, 10000); };
  EXPECT_TRUE(platform::startProgram(folder / "app/report.sh"));
  ASSERT_TRUE(marksAre(1));
  EXPECT_TRUE(platform::startProgram(folder / "app/report.sh", true));
  ASSERT_TRUE(marksAre(2));
  EXPECT_TRUE(platform::shellOpen(folder / "app/report.sh", true));  // a program: started, not opened
  ASSERT_TRUE(marksAre(3));
  EXPECT_EQ(testsupport::readLines(marks), (std::vector<std::string>{app + " shown", app + " 1", app + " 1"}));
  EXPECT_EQ(std::getenv("VELMORA_START_HIDDEN"), nullptr) << "the mark is the started program's, not ours";

  testsupport::writeFile(folder / "doc.txt", "a document");
  fs::create_directories(folder / "dir");
  EXPECT_FALSE(platform::startProgramFile(folder / "doc.txt"));
  EXPECT_FALSE(platform::shellOpen(folder / "dir"));
  EXPECT_FALSE(platform::shellOpen(folder / "missing.txt"));
  EXPECT_TRUE(platform::shellOpen(folder / "doc.txt"));
  ASSERT_TRUE(spinUntil([&] { return !testsupport::readLines(opened).empty(); }, 10000));
  spinFor(300);
  EXPECT_EQ(testsupport::readLines(opened), std::vector<std::string>{folder / "doc.txt"});
}
