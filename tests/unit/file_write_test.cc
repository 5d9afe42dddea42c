// SPDX-License-Identifier: MIT
#include "lib/file_write.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

TEST(FileWrite, IntegerTextWithoutNewline) {
  temp_dir dir;
  std::string path = dir.file("value");
  EXPECT_EQ(file_int_write(path.c_str(), -42), 0);
  EXPECT_EQ(dir.read("value"), "-42");
  std::string extreme = dir.file("extreme");
  EXPECT_EQ(file_int_write(extreme.c_str(), INT32_MIN), 0);
  EXPECT_EQ(file_read_all(extreme), "-2147483648");
}

TEST(FileWrite, BytesOverwriteWithoutTruncating) {
  temp_dir dir;
  std::string path = dir.file("value");
  dir.write("value", "123");
  EXPECT_EQ(file_int_write(path.c_str(), 7), 0);
  EXPECT_EQ(dir.read("value"), "723");

  dir.write("value", "older content");
  EXPECT_EQ(file_bytes_write(path.c_str(), "NEW", 3), 0);
  EXPECT_EQ(dir.read("value"), "NEWer content");

  // A count of 0 creates a missing file and changes an existing one not.
  EXPECT_EQ(file_bytes_write(path.c_str(), "ignored", 0), 0);
  EXPECT_EQ(dir.read("value"), "NEWer content");
  std::string fresh = dir.file("fresh");
  EXPECT_EQ(file_bytes_write(fresh.c_str(), nullptr, 0), 0);
  EXPECT_EQ(file_read_all(fresh), "");
}

TEST(FileWrite, WordKeepsMemoryOrder) {
  temp_dir dir;
  std::string path = dir.file("word");
  dir.write("word", "abcdefgh");
  uint32_t one = 1;
  EXPECT_EQ(file_word_write(path.c_str(), &one), 0);
  std::string content = dir.read("word");
  ASSERT_EQ(content.size(), 8u);
  unsigned char expected[4];
  memcpy(expected, &one, 4);
  EXPECT_EQ(content.substr(0, 4), std::string(reinterpret_cast<char *>(expected), 4));
  if constexpr (std::endian::native == std::endian::little) {
    EXPECT_EQ(content.substr(0, 4), std::string("\x01\x00\x00\x00", 4));
  }
  EXPECT_EQ(content.substr(4), "efgh");
}

TEST(FileWrite, TextReplacesTheWholeContent) {
  temp_dir dir;
  std::string path = dir.file("text");
  dir.write("text", "sixsix");
  EXPECT_EQ(file_text_write(path.c_str(), "ab"), 0);
  EXPECT_EQ(dir.read("text"), "ab");
}

TEST(FileWrite, BadArgumentsAndUnopenableFiles) {
  temp_dir dir;
  std::string missing = dir.file("no/such/dir");
  EXPECT_EQ(file_bytes_write(missing.c_str(), "x", 1), -1);
  EXPECT_EQ(file_int_write(missing.c_str(), 1), -1);
  EXPECT_EQ(file_word_write(missing.c_str(), "abcd"), -1);
  EXPECT_EQ(file_text_write(missing.c_str(), "x"), -1);
  std::string path = dir.file("value");
  EXPECT_EQ(file_bytes_write(path.c_str(), nullptr, 1), -1);
  EXPECT_EQ(file_bytes_write(path.c_str(), "x", -1), -1);
  EXPECT_EQ(file_word_write(path.c_str(), nullptr), -1);
  EXPECT_EQ(file_bytes_write(nullptr, "x", 1), -1);
  EXPECT_EQ(file_text_write(nullptr, "x"), -1);
  EXPECT_EQ(file_text_write(path.c_str(), nullptr), -1);
  EXPECT_EQ(dir.read("value"), "<missing>");
}

TEST(FileWrite, CreatedFilesAreNeverWritableByOthers) {
  temp_dir dir;
  mode_t saved = umask(0);
  std::string path = dir.file("created");
  int result = file_int_write(path.c_str(), 5);
  umask(saved);
  ASSERT_EQ(result, 0);
  struct stat info = {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, FILE_WRITE_MODE);
}

// In a child limited to files of 4 bytes, writes that cannot complete are
// failures, not successes.
TEST(FileWrite, ShortWritesAreReported) {
  temp_dir dir;
  std::string bytes = dir.file("bytes");
  std::string text = dir.file("text");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {4, 4};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    if (file_bytes_write(bytes.c_str(), "0123456789", 10) != -1) _exit(11);
    if (file_bytes_write(bytes.c_str(), "abcd", 4) != 0) _exit(12);
    if (file_text_write(text.c_str(), "0123456789") != -1) _exit(13);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "check number " << WEXITSTATUS(status) << " failed";
  EXPECT_EQ(file_read_all(bytes), "abcd");
}

}  // namespace
