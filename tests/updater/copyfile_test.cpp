// The updater's unpacking of a downloaded archive into the program folder.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "updater/install.h"

using testsupport::ProgramFolder;
using testsupport::ZipEntry;

TEST(Unzip, CopyfileDeletesTheArchiveOnlyWhenEverythingWasExtracted) {
  ProgramFolder folder;
  testsupport::makeZip(folder / "good.zip", {{ZipEntry::File, "a.txt", "a"}});
  EXPECT_EQ(updater::copyfile(folder.path(), folder / "good.zip").code, 0);
  EXPECT_FALSE(testsupport::exists(folder / "good.zip"));
  EXPECT_TRUE(testsupport::exists(folder / "a.txt"));
  testsupport::writeFile(folder / "bad.zip", "PK not really");
  EXPECT_NE(updater::copyfile(folder.path(), folder / "bad.zip").code, 0);
  EXPECT_TRUE(testsupport::exists(folder / "bad.zip"));
  EXPECT_NE(updater::copyfile(folder.path(), folder / "none.zip").code, 0);
}
