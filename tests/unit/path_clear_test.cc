#include "sync/path_clear.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

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
