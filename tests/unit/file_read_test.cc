// SPDX-License-Identifier: MIT
#include "lib/file_read.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/temp_dir.h"

TEST(FileRead, HeadOrTailCutToTheBufferNeverThroughALink) {
  temp_dir dir;
  dir.write("text", "first line\nlast line\n");
  ASSERT_EQ(symlink(dir.file("text").c_str(), dir.file("link").c_str()), 0);
  const struct {
    const char *name;
    file_part part;
    size_t size;
    ssize_t count;
    const char *read;
  } cases[] = {
      {"text", file_part::HEAD, 6, 5, "first"},
      {"text", file_part::TAIL, 11, 10, "last line\n"},
      {"link", file_part::HEAD, 64, -1, ""},
  };
  for (const auto &c : cases) {
    char buffer[64] = "unset";
    EXPECT_EQ(file_read(dir.file(c.name).c_str(), c.part, buffer, c.size), c.count) << c.name;
    EXPECT_STREQ(buffer, c.read) << c.name << " " << c.size;
  }
}
