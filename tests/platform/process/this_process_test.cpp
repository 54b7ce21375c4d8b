// The running process's own user and environment, as other processes see them.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/process/this_process.h"

namespace {

// The first line a shell command prints.
std::string firstLine(const std::string& command) {
  std::string out;
  if (std::FILE* p = ::popen(command.c_str(), "r")) {
    char buf[256];
    if (std::fgets(buf, sizeof buf, p)) out = buf;
    ::pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace

// The close channel is named from the user's key: the updater and the main
// program, two processes of one user, must arrive at the same key.
TEST(ThisProcess, UserKeyAndAdministratorAgreeWithAnotherProcessOfTheUser) {
  const std::string key = platform::userKey();
  ASSERT_FALSE(key.empty());
  EXPECT_EQ(key.find_first_not_of("0123456789"), std::string::npos) << key;
  EXPECT_EQ(key, firstLine("id -u"));
  // Another process of the user, started afresh, arrives at the same key.
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeEnds[0]);
    const std::string theirs = platform::userKey();
    const ssize_t written = ::write(pipeEnds[1], theirs.data(), theirs.size());
    ::_exit(written == static_cast<ssize_t>(theirs.size()) ? 0 : 1);
  }
  ::close(pipeEnds[1]);
  char buf[64] = {};
  const ssize_t got = ::read(pipeEnds[0], buf, sizeof buf - 1);
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(std::string(buf, got > 0 ? static_cast<size_t>(got) : 0), key);
  // The key is the real user, as the system records it (not a process id).
  EXPECT_EQ(key, firstLine("awk '/^Uid:/ {print $2}' /proc/$PPID/status"));
  EXPECT_EQ(platform::runsAsAdministrator(), firstLine("id -u") == "0");
}

TEST(ThisProcess, EnvironmentDefaultsNeverOverrideAValueAlreadySet) {
  ::unsetenv("VELMORA_TEST_DEFAULT");
  platform::setEnvironmentDefault("VELMORA_TEST_DEFAULT", "--first");
  ASSERT_NE(std::getenv("VELMORA_TEST_DEFAULT"), nullptr);
  EXPECT_STREQ(std::getenv("VELMORA_TEST_DEFAULT"), "--first");
  platform::setEnvironmentDefault("VELMORA_TEST_DEFAULT", "--second");
  EXPECT_STREQ(std::getenv("VELMORA_TEST_DEFAULT"), "--first");

  // A value the user set, even an empty one, stays.
  ::setenv("VELMORA_TEST_EMPTY", "", 1);
  platform::setEnvironmentDefault("VELMORA_TEST_EMPTY", "1");
  EXPECT_STREQ(std::getenv("VELMORA_TEST_EMPTY"), "");

  // Programs started afterwards inherit the default.
  EXPECT_EQ(firstLine("printf '%s\\n' \"$VELMORA_TEST_DEFAULT\""), "--first");
  ::unsetenv("VELMORA_TEST_DEFAULT");
  ::unsetenv("VELMORA_TEST_EMPTY");
}
