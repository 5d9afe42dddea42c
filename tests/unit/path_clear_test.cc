#include "sync/path_clear.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/support/temp_dir.h"

namespace {

bool exists(const std::string &path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

TEST(PathClear, EveryKindThatCanGoIsRemoved) {
  temp_dir dir;
  const std::string path = dir.file("answer");

  dir.write("answer", "old");
  EXPECT_EQ(path_clear(path.c_str()), 0);
  EXPECT_FALSE(exists(path));

  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(path_clear(path.c_str()), 0);
  EXPECT_FALSE(exists(path));

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

  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  EXPECT_EQ(path_clear(path.c_str()), 0);
  EXPECT_FALSE(exists(path));
}

TEST(PathClear, ALinkGoesItsTargetStays) {
  temp_dir dir;
  dir.write("target", "keep");
  ASSERT_EQ(symlink(dir.file("target").c_str(), dir.file("answer").c_str()), 0);
  EXPECT_EQ(path_clear(dir.file("answer").c_str()), 0);
  EXPECT_FALSE(exists(dir.file("answer")));
  EXPECT_EQ(dir.read("target"), "keep");

  // A link to a directory is removed the same way, its directory kept.
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
  ASSERT_EQ(symlink(dir.file("folder").c_str(), dir.file("answer").c_str()), 0);
  EXPECT_EQ(path_clear(dir.file("answer").c_str()), 0);
  EXPECT_FALSE(exists(dir.file("answer")));
  EXPECT_TRUE(exists(dir.file("folder")));
}

TEST(PathClear, ADirectoryThatIsNotEmptyStays) {
  temp_dir dir;
  ASSERT_EQ(mkdir(dir.file("answer").c_str(), 0700), 0);
  dir.write("answer/inside", "x");
  errno = 0;
  EXPECT_EQ(path_clear(dir.file("answer").c_str()), -1);
  EXPECT_EQ(errno, ENOTEMPTY);
  EXPECT_EQ(dir.read("answer/inside"), "x");
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
