// SPDX-License-Identifier: MIT
#include "sync/core/path_clear.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "sync/core/scratch_dir.h"
#include "tests/support/temp_dir.h"

namespace {

bool exists(const std::string &path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// A file, FIFO, link to a file and directories, empty or not, at the
// answer path are tested end to end with the daemon; these are the kinds
// the end-to-end runs do not make.
TEST(PathClear, SocketsAndLinksToDirectoriesGo) {
  temp_dir dir;
  const std::string path = dir.file("answer");

  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  close(sock);
  EXPECT_EQ(path_clear(path.c_str()), 0);
  EXPECT_FALSE(exists(path));

  // The link goes, the directory it points at stays.
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
  ASSERT_EQ(symlink(dir.file("folder").c_str(), path.c_str()), 0);
  EXPECT_EQ(path_clear(path.c_str()), 0);
  EXPECT_FALSE(exists(path));
  EXPECT_TRUE(exists(dir.file("folder")));
}

TEST(PathClear, NothingThereIsClear) {
  temp_dir dir;
  EXPECT_EQ(path_clear(dir.file("missing").c_str()), 0);
  dir.write("plain", "x");
  // The parent is a file: nothing can stand at the path.
  EXPECT_EQ(path_clear(dir.file("plain/answer").c_str()), 0);
  EXPECT_EQ(path_clear(nullptr), -1);
}

}  // namespace

namespace {

// The load's private folder: ours alone, and gone with what it holds (a
// link in it is removed, not followed) when the guard ends.
TEST(ScratchDir, PrivateAndRemovedWhole) {
  temp_dir dir;
  const std::string outside = dir.file("outside");
  ASSERT_EQ(mkdir(outside.c_str(), 0700), 0);
  ASSERT_EQ(close(creat((outside + "/kept").c_str(), 0600)), 0);
  std::string made;
  {
    scratch_dir scratch;
    ASSERT_EQ(scratch.make(dir.path().c_str(), "load"), 0);
    made = scratch.path();
    struct stat info {};
    ASSERT_EQ(lstat(made.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    char file[256];
    ASSERT_EQ(scratch.file("input", file, sizeof file), 0);
    EXPECT_EQ(std::string(file), made + "/input");
    EXPECT_NE(scratch.file("a/b", file, sizeof file), 0);
    EXPECT_NE(scratch.file("input", file, 8), 0);
    ASSERT_EQ(close(creat(file, 0600)), 0);
    ASSERT_EQ(symlink(outside.c_str(), (made + "/link").c_str()), 0);
  }
  EXPECT_FALSE(exists(made));
  EXPECT_TRUE(exists(outside + "/kept"));

  // A folder of the pattern that a killed load left goes with the next
  // make; names of another pattern and links stay.
  ASSERT_EQ(mkdir(dir.file("load.Ab12Cd").c_str(), 0700), 0);
  ASSERT_EQ(close(creat(dir.file("load.Ab12Cd/input").c_str(), 0600)), 0);
  ASSERT_EQ(mkdir(dir.file("load.Ab12Cd7").c_str(), 0700), 0);
  ASSERT_EQ(symlink(outside.c_str(), dir.file("load.Zz99Yy").c_str()), 0);
  {
    scratch_dir next;
    ASSERT_EQ(next.make(dir.path().c_str(), "load"), 0);
    EXPECT_FALSE(exists(dir.file("load.Ab12Cd")));
    EXPECT_TRUE(exists(dir.file("load.Ab12Cd7")));
    EXPECT_TRUE(exists(dir.file("load.Zz99Yy")));
    EXPECT_TRUE(exists(outside + "/kept"));
  }

  scratch_dir bad;
  EXPECT_NE(bad.make(dir.path().c_str(), "../x"), 0);
  EXPECT_STREQ(bad.path(), "");
}

}  // namespace
