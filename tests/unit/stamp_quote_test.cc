// SPDX-License-Identifier: MIT
#include "sync/stamp_quote.h"

#include <gtest/gtest.h>
#include <json-c/json.h>

#include <cstdio>

#include "tests/support/temp_dir.h"

namespace {

std::string quoted(const char *stamp) {
  char out[STAMP_QUOTED_SIZE];
  EXPECT_EQ(stamp_quote(stamp, out, sizeof out), 0);
  return out;
}

TEST(StampQuote, PlainStampsAreUnchanged) {
  EXPECT_EQ(quoted(""), "");
  EXPECT_EQ(quoted("2024-03-07 09:05:00"), "2024-03-07 09:05:00");
  EXPECT_EQ(quoted("a$b`c;d|e&f<g>h(i)j*k?l~"), "a$b`c;d|e&f<g>h(i)j*k?l~");
}

TEST(StampQuote, BreakingCharactersAreEscaped) {
  EXPECT_EQ(quoted("a'b"), "a'\\''b");
  EXPECT_EQ(quoted("a\"b"), "a\\u0022b");
  EXPECT_EQ(quoted("a\\b"), "a\\u005cb");
  EXPECT_EQ(quoted("a\nb\tc\x1f"), "a\\u000ab\\u0009c\\u001f");
}

TEST(StampQuote, TooSmallABufferIsRefusedWhole) {
  char out[4];
  EXPECT_EQ(stamp_quote("abc", out, sizeof out), 0);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(stamp_quote("abcd", out, sizeof out), -1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(stamp_quote("a\"", out, sizeof out), -1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(stamp_quote(nullptr, out, sizeof out), -1);
}

TEST(StampQuote, WorstCaseFits) {
  std::string worst(63, '"');
  char out[STAMP_QUOTED_SIZE];
  EXPECT_EQ(stamp_quote(worst.c_str(), out, sizeof out), 0);
  EXPECT_EQ(std::string(out).size(), 63u * 6);
}

// The quoted stamp goes through the shell and echo into a JSON file; read
// back with json-c it must equal the stamp, byte for byte.
TEST(StampQuote, RoundTripsThroughShellEchoAndJson) {
  temp_dir dir;
  const char *stamps[] = {"plain",       "it's",           "say \"hi\"",
                          "back\\slash", "\\n\\c\\t\\\\",  "new\nline",
                          "'\"\\'\"",    "$(touch pwned)", "`touch pwned`"};
  for (const char *stamp : stamps) {
    char command[1024];
    snprintf(command, sizeof command, "cd %s && echo '{\"updateTime\":\"%s\"}' > stamp",
             dir.path().c_str(), quoted(stamp).c_str());
    ASSERT_EQ(system(command), 0) << command;
    json_object *root = json_object_from_file(dir.file("stamp").c_str());
    ASSERT_NE(root, nullptr) << dir.read("stamp");
    EXPECT_STREQ(json_object_get_string(json_object_object_get(root, "updateTime")), stamp);
    json_object_put(root);
  }
  EXPECT_EQ(dir.read("pwned"), "<missing>");
}

}  // namespace
