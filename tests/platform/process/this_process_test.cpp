// The running process's own user and environment, as other processes see them.
#include <gtest/gtest.h>

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
  EXPECT_EQ(platform::userKey(), key);
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
