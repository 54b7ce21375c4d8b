// The close request between the two programs over its local channel.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include <QCoreApplication>

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
