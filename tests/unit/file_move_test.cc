// SPDX-License-Identifier: MIT
#include "lib/file_move.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>

#include "tests/support/fake_tool.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(FileMove, MovesThroughMvAndHandsBackTheRawStatus) {
  temp_dir dir;
  dir.write("from", "content");
  std::string from = dir.file("from");
  std::string to = dir.file("to");
  EXPECT_EQ(file_move(from.c_str(), to.c_str()), 0);
  EXPECT_EQ(dir.read("to"), "content");
  EXPECT_EQ(dir.read("from"), "<missing>");

  // The source is gone now: mv fails with 1, handed back undecoded.
  int status = file_move(from.c_str(), to.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(status, 1 << 8);
}

TEST(FileMove, RunsExactlyTheMvCommand) {
  fake_tool mv("mv", 3);
  EXPECT_EQ(file_move("/a/b.txt", "/c/d-e_f+1"), 3 << 8);
  EXPECT_EQ(mv.calls(), "/a/b.txt /c/d-e_f+1\n");
}

TEST(FileMove, TooLongCommandsAreNeverRunCut) {
  fake_tool mv("mv");
  // "mv " + source + " " + destination: 4 characters around the paths.
  std::string source(125, 'a');
  std::string fits(255 - 4 - source.size(), 'b');
  EXPECT_EQ(file_move(source.c_str(), fits.c_str()), 0);
  std::string longer = fits + "c";
  EXPECT_EQ(file_move(source.c_str(), longer.c_str()), -1);
  EXPECT_EQ(mv.calls(), source + " " + fits + "\n");
}

TEST(FileMove, PathsTheShellWouldReadOtherwiseAreRefused) {
  temp_dir dir;
  fake_tool mv("mv");
  std::string marker = dir.file("ran");
  const std::string unsafe[] = {"a b",
                                "a;touch " + marker,
                                "$(touch " + marker + ")",
                                "`x`",
                                "a'b",
                                "*",
                                "-f",
                                "",
                                "a\nb",
                                "~root",
                                "a|b",
                                "a>b"};
  for (const std::string &path : unsafe) {
    EXPECT_EQ(file_move(path.c_str(), "/tmp-dest"), -1) << path;
    EXPECT_EQ(file_move("/src", path.c_str()), -1) << path;
  }
  EXPECT_EQ(file_move(nullptr, "/x"), -1);
  EXPECT_EQ(file_move("/x", nullptr), -1);
  EXPECT_EQ(mv.calls(), "");
  EXPECT_EQ(dir.read("ran"), "<missing>");
}

}  // namespace
