// SPDX-License-Identifier: MIT
#include "lib/cmd_run.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include "lib/log_verbose.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

class CmdRun : public ::testing::Test {
 protected:
  void SetUp() override {
    log_capture_clear();
    log_verbose = 0;
  }
  void TearDown() override { log_verbose = 0; }
};

TEST_F(CmdRun, ReturnsTheExitStatusOfTheShell) {
  EXPECT_EQ(cmd_run("exit 0"), 0);
  EXPECT_EQ(cmd_run("exit 7"), 7);
  EXPECT_EQ(cmd_run("exit 255"), 255);
  EXPECT_EQ(cmd_run("true; false"), 1);
  EXPECT_TRUE(log_capture_lines().empty());
}

TEST_F(CmdRun, ShellEndedBySignalIsAFailure) {
  log_verbose = 1;
  const char *command = "kill -TERM $$";
  EXPECT_EQ(cmd_run(command), -1);
  EXPECT_EQ(log_capture_count(LOG_INFO, "func[cmd_run]:kill -TERM $$ signal 15\n"), 1)
      << log_capture_dump();
  EXPECT_EQ(log_capture_lines().size(), 1u);
}

TEST_F(CmdRun, SignalLinesOnlyWhileVerbose) {
  EXPECT_EQ(cmd_run("kill -KILL $$"), -1);
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();
}

TEST_F(CmdRun, CoreDumpGivesOnlyTheCoreLine) {
  temp_dir dir;
  log_verbose = 1;
  std::string command = "cd " + dir.path() + " && ulimit -c unlimited && kill -SEGV $$";
  int result = cmd_run(command.c_str());
  EXPECT_EQ(result, -1);
  // Whether the kernel writes a core depends on the machine's core pattern
  // and limits; either way exactly one of the two lines is written.
  ASSERT_EQ(log_capture_lines().size(), 1u) << log_capture_dump();
  const std::string &text = log_capture_lines()[0].text;
  EXPECT_TRUE(text == "func[cmd_run]:" + command + " core dump!\n" ||
              text == "func[cmd_run]:" + command + " signal 11\n")
      << text;
}

TEST_F(CmdRun, ChildKilledInsideTheShellGivesTheShellsStatus) {
  EXPECT_EQ(cmd_run("sh -c 'kill -TERM $$'; exit $?"), 128 + 15);
}

TEST_F(CmdRun, NullCommandRunsNothing) {
  EXPECT_EQ(cmd_run(nullptr), -1);
}

}  // namespace
