// SPDX-License-Identifier: MIT
#include "sync/kept_list.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "sync/file_replace.h"
#include "tests/support/temp_dir.h"

namespace {

bool exists(const std::string &path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

kept_list list_of(const char *stamp, const std::vector<std::string> &elements) {
  kept_list list;
  EXPECT_EQ(kept_list_begin(&list, stamp), 0);
  for (const std::string &element : elements) EXPECT_EQ(kept_list_add(&list, element), 0);
  return list;
}

std::vector<std::string> elements_of(const kept_list &list) {
  std::vector<std::string> elements;
  size_t cursor = 0;
  std::string_view element;
  while (kept_list_next(list, &cursor, &element)) elements.emplace_back(element);
  return elements;
}

class KeptList : public ::testing::Test {
 protected:
  std::string path() const { return dir_.file("kept"); }
  int read(kept_list *list) const { return kept_list_read(path().c_str(), list); }
  temp_dir dir_;
};

TEST_F(KeptList, RoundTripAndOneWritePerChange) {
  const std::vector<std::string> elements = {"1.2.3.4", "10.0.0.0/8", "4 1.0.0.0-1.0.0.255",
                                             std::string(KEPT_ELEMENT_MAX, 'x')};
  // Quotes, a backslash, blanks and bytes above 0x7F are kept as they are.
  const char stamp[] = "2024-05-01 'a\"\\b\xff";
  kept_list list = list_of(stamp, elements);
  EXPECT_EQ(kept_list_store(path().c_str(), list), 0);
  EXPECT_EQ(dir_.read("kept").rfind("quorvel-kept 1 323032342d30352d303120276122", 0), 0u)
      << dir_.read("kept");

  kept_list back;
  ASSERT_EQ(read(&back), KEPT_READ_OK);
  EXPECT_STREQ(back.stamp, stamp);
  EXPECT_EQ(back.count, elements.size());
  EXPECT_EQ(elements_of(back), elements);
  EXPECT_TRUE(kept_list_same(back, list));

  // The same list again leaves the file alone (same inode, no temporary).
  struct stat before {
  }, after{};
  ASSERT_EQ(stat(path().c_str(), &before), 0);
  EXPECT_EQ(kept_list_store(path().c_str(), list), 1);
  ASSERT_EQ(stat(path().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_FALSE(exists(path() + ".tmp"));

  // Another stamp with the same elements, or one element more, is written.
  kept_list restamped = list_of("other", elements);
  EXPECT_FALSE(kept_list_same(restamped, list));
  EXPECT_EQ(kept_list_store(path().c_str(), restamped), 0);
  ASSERT_EQ(read(&back), KEPT_READ_OK);
  EXPECT_STREQ(back.stamp, "other");
  kept_list longer = list_of("other", elements);
  ASSERT_EQ(kept_list_add(&longer, "5.6.7.8"), 0);
  EXPECT_EQ(kept_list_store(path().c_str(), longer), 0);
  ASSERT_EQ(read(&back), KEPT_READ_OK);
  EXPECT_EQ(back.count, elements.size() + 1);

  // An empty list with an empty stamp is a list too.
  kept_list empty = list_of("", {});
  EXPECT_EQ(kept_list_store(path().c_str(), empty), 0);
  const std::string text = dir_.read("kept");
  EXPECT_EQ(text.substr(0, 22), "quorvel-kept 1 \nend 0 ") << text;
  EXPECT_EQ(text.size(), 31u) << text;
  ASSERT_EQ(read(&back), KEPT_READ_OK);
  EXPECT_EQ(back.count, 0u);
  EXPECT_TRUE(elements_of(back).empty());
}

TEST_F(KeptList, BuilderBounds) {
  kept_list list;
  EXPECT_EQ(kept_list_add(&list, "1.2.3.4"), -1) << "not begun";
  EXPECT_EQ(kept_list_begin(&list, std::string(KEPT_STAMP_SIZE, '1').c_str()), -1);
  EXPECT_EQ(kept_list_begin(nullptr, "1"), -1);
  EXPECT_EQ(kept_list_begin(&list, nullptr), -1);
  ASSERT_EQ(kept_list_begin(&list, std::string(KEPT_STAMP_SIZE - 1, '1').c_str()), 0);
  for (std::string_view bad :
       {std::string_view(""), std::string_view("a\nb"), std::string_view("a\tb"),
        std::string_view("a\0b", 3), std::string_view("\x80"), std::string_view("\x7f")})
    EXPECT_EQ(kept_list_add(&list, bad), -1) << bad;
  EXPECT_EQ(kept_list_add(&list, std::string(KEPT_ELEMENT_MAX + 1, 'x')), -1);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(kept_list_store(path().c_str(), kept_list{}), -1);
  EXPECT_FALSE(exists(path()));
}

// Every cut of a valid file, and every kind of damage, is refused whole.
TEST_F(KeptList, OnlyAWholeFileReadsBack) {
  kept_list list = list_of("7", {"1.2.3.4", "10.0.0.0/8"});
  ASSERT_EQ(kept_list_store(path().c_str(), list), 0);
  const std::string valid = dir_.read("kept");
  kept_list back;
  for (size_t cut = 0; cut < valid.size(); ++cut) {
    dir_.write("kept", valid.substr(0, cut));
    EXPECT_EQ(read(&back), KEPT_READ_BROKEN) << "cut at " << cut;
    EXPECT_FALSE(back.bytes) << "cut at " << cut;
  }
  const size_t trailer = valid.find("end ");
  const std::string sum = valid.substr(trailer + 6, 8);
  const std::string damaged[] = {
      valid + "x",
      valid + "\n",
      "quorvel-kept 2 37" + valid.substr(17),
      "quorvel-kept 1 3" + valid.substr(17),   // odd hex
      "quorvel-kept 1 00" + valid.substr(17),  // a NUL in the stamp
      "quorvel-kept 1 3G" + valid.substr(17),
      valid.substr(0, trailer) + "end 3 " + sum + "\n",   // count too high
      valid.substr(0, trailer) + "end 02 " + sum + "\n",  // leading zero
      valid.substr(0, trailer) + "end 2 " + std::string(8, '0') + "\n",
      valid.substr(0, trailer) + "end 2  " + sum + "\n",
      valid.substr(0, trailer) + "\nend 2 " + sum + "\n",  // an empty element
      valid.substr(0, trailer) + "end 2 " + sum + "\r\n",
      valid.substr(0, 17) + "\n1.2.3\t4\n" + valid.substr(trailer),
      "quorvel-kept 1 37\nend 0 " + sum + "\n",
  };
  for (const std::string &text : damaged) {
    dir_.write("kept", text);
    EXPECT_EQ(read(&back), KEPT_READ_BROKEN) << text;
  }
  // A flipped byte of an element changes the sum.
  std::string flipped = valid;
  flipped[valid.find("1.2.3.4")] = '2';
  dir_.write("kept", flipped);
  EXPECT_EQ(read(&back), KEPT_READ_BROKEN);

  // Not a plain file: a link (even to a valid file) or a folder.
  dir_.write("valid", valid);
  ASSERT_EQ(unlink(path().c_str()), 0);
  ASSERT_EQ(symlink(dir_.file("valid").c_str(), path().c_str()), 0);
  EXPECT_EQ(read(&back), KEPT_READ_BROKEN);
  ASSERT_EQ(unlink(path().c_str()), 0);
  EXPECT_EQ(read(&back), KEPT_READ_MISSING);
  ASSERT_EQ(mkdir(path().c_str(), 0755), 0);
  EXPECT_EQ(read(&back), KEPT_READ_BROKEN);
}

// Full flash: the write fails, and neither the old file nor a part of the
// new one is left.
TEST_F(KeptList, AFailedWriteLeavesNoFile) {
  ASSERT_EQ(kept_list_store(path().c_str(), list_of("1", {"1.2.3.4"})), 0);
  std::vector<std::string> many;
  for (int i = 0; i < 1000; ++i)
    many.push_back("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256));
  kept_list big = list_of("2", many);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit = {512, 512};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(10);
    if (kept_list_store(path().c_str(), big) != -1) _exit(11);
    if (errno != EFBIG) _exit(12);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "check number " << WEXITSTATUS(status) << " failed";
  EXPECT_FALSE(exists(path()));
  EXPECT_FALSE(exists(path() + ".tmp"));
}

// A cut between the write and the rename leaves the temporary file: the
// reader never looks at it, and it is cleaned away, never followed.
TEST_F(KeptList, ALeftoverTemporaryFileIsIgnoredAndCleaned) {
  ASSERT_EQ(kept_list_store(path().c_str(), list_of("1", {"1.2.3.4"})), 0);
  const std::string old = dir_.read("kept");
  dir_.write("kept.tmp", old.substr(0, old.size() / 2));
  kept_list back;
  ASSERT_EQ(read(&back), KEPT_READ_OK);
  EXPECT_EQ(elements_of(back), std::vector<std::string>{"1.2.3.4"});
  EXPECT_EQ(file_replace_leftover_clear(path().c_str()), 1);
  EXPECT_FALSE(exists(path() + ".tmp"));
  EXPECT_EQ(file_replace_leftover_clear(path().c_str()), 0);

  // A link planted as the temporary file is replaced, its target untouched.
  dir_.write("target", "target\n");
  ASSERT_EQ(symlink(dir_.file("target").c_str(), (path() + ".tmp").c_str()), 0);
  ASSERT_EQ(kept_list_store(path().c_str(), list_of("2", {"5.6.7.8"})), 0);
  EXPECT_EQ(dir_.read("target"), "target\n");
  EXPECT_FALSE(exists(path() + ".tmp"));
  ASSERT_EQ(read(&back), KEPT_READ_OK);
  EXPECT_STREQ(back.stamp, "2");

  dir_.write("kept.tmp", "x");
  kept_list_remove(path().c_str());
  EXPECT_FALSE(exists(path()));
  EXPECT_FALSE(exists(path() + ".tmp"));
}

}  // namespace
