// SPDX-License-Identifier: MIT
#include "daemon/mkdir_recursive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/temp_dir.h"

namespace {

mode_t mode_of(const std::string &path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return 0;
  return info.st_mode;
}

TEST(MkdirRecursive, MakesMissingParentsWithTheGivenMode) {
  temp_dir dir;
  mode_t old_mask = umask(022);
  std::string deep = dir.file("a/b/c");
  EXPECT_EQ(mkdir_recursive(deep.c_str(), 0750), 0);
  umask(old_mask);
  EXPECT_TRUE(S_ISDIR(mode_of(dir.file("a"))));
  EXPECT_TRUE(S_ISDIR(mode_of(deep)));
  EXPECT_EQ(mode_of(deep) & 07777, 0750u);
}

TEST(MkdirRecursive, DecimalSixHundredIsOctal1130LessTheUmask) {
  temp_dir dir;
  mode_t old_mask = umask(022);
  std::string path = dir.file("quorvel");
  EXPECT_EQ(mkdir_recursive(path.c_str(), 600), 0);
  umask(old_mask);
  EXPECT_EQ(mode_of(path) & 07777, 01130u & ~022u);
}

TEST(MkdirRecursive, AnythingAlreadyThereCounts) {
  temp_dir dir;
  dir.write("plain", "x");
  EXPECT_EQ(mkdir_recursive(dir.file("plain").c_str(), 0700), 0);
  EXPECT_TRUE(S_ISREG(mode_of(dir.file("plain"))));
  EXPECT_EQ(mkdir_recursive(dir.path().c_str(), 0700), 0);
}

TEST(MkdirRecursive, RelativePathUnderTheWorkingDirectory) {
  temp_dir dir;
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  EXPECT_EQ(mkdir_recursive("only", 0700), 0);
  EXPECT_EQ(mkdir_recursive("x/y", 0700), 0);
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_TRUE(S_ISDIR(mode_of(dir.file("only"))));
  EXPECT_TRUE(S_ISDIR(mode_of(dir.file("x/y"))));
}

TEST(MkdirRecursive, FailuresReportMinusOne) {
  temp_dir dir;
  dir.write("file", "x");
  EXPECT_EQ(mkdir_recursive(nullptr, 0700), -1);
  EXPECT_EQ(mkdir_recursive("", 0700), -1);
  // A parent that is a plain file cannot hold a directory.
  EXPECT_EQ(mkdir_recursive(dir.file("file/sub/dir").c_str(), 0700), -1);
}

}  // namespace
