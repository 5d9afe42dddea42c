// SPDX-License-Identifier: MIT
#include "lib/spawn.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

struct spawn_case {
  const char *name;
  const char *script;  // run as sh -c
  spawn_stream in;
  const char *input;  // the pipe's bytes, or the file's content for PATH
  size_t bound;       // capture size
  spawn_end end;
  int value;
  const char *captured;
  bool cut;
};

TEST(Spawn, EndsInputsAndCapturesAreReportedAsTheyHappened) {
  const spawn_case cases[] = {
      {"exit code", "exit 7", spawn_stream::NUL, nullptr, 16, spawn_end::EXITED, 7, "", false},
      {"signal", "kill -TERM $$", spawn_stream::NUL, nullptr, 16, spawn_end::SIGNALED, SIGTERM, "",
       false},
      {"output past the bound", "printf 0123456789abcdef", spawn_stream::NUL, nullptr, 9,
       spawn_end::EXITED, 0, "01234567", true},
      {"output and errors in one", "echo out; echo err >&2", spawn_stream::NUL, nullptr, 64,
       spawn_end::EXITED, 0, "out\nerr\n", false},
      {"stdin from a file", "cat", spawn_stream::PATH, "from the file\n", 64, spawn_end::EXITED, 0,
       "from the file\n", false},
      {"stdin from a pipe", "tr a-z A-Z", spawn_stream::PIPE, "piped", 64, spawn_end::EXITED, 0,
       "PIPED", false},
      // The child leaves before reading: the caller gets no SIGPIPE.
      {"input unread", "exit 3", spawn_stream::PIPE, "unread", 64, spawn_end::EXITED, 3, "", false},
      // Signals 1 to 28 (the low seven digits of each mask) are neither
      // blocked nor ignored in the child.
      {"signal mask and SIGPIPE reset",
       "sed -n 's/^\\(SigBlk\\|SigIgn\\):.*\\(.......\\)$/\\1 \\2/p' /proc/self/status",
       spawn_stream::NUL, nullptr, 128, spawn_end::EXITED, 0, "SigBlk 0000000\nSigIgn 0000000\n",
       false},
  };
  temp_dir dir;
  // What the child must not inherit from its caller.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR1);
  sigset_t before;
  ASSERT_EQ(sigprocmask(SIG_BLOCK, &blocked, &before), 0);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction pipe_before {};
  ASSERT_EQ(sigaction(SIGPIPE, &ignore, &pipe_before), 0);
  for (const spawn_case &c : cases) {
    dir.write("input", c.in == spawn_stream::PATH ? c.input : "");
    const std::string in_path = dir.file("input");
    const char *argv[] = {"sh", "-c", c.script, nullptr};
    char output[128] = "unset";
    spawn_request request{argv};
    request.in = c.in;
    request.in_path = in_path.c_str();
    request.input = c.input;
    request.input_size = c.input != nullptr ? strlen(c.input) : 0;
    request.out = spawn_stream::PIPE;
    request.err = spawn_stream::STDOUT;
    request.output = output;
    request.output_size = c.bound;
    spawn_result result{};
    EXPECT_EQ(spawn_run(request, &result), 0) << c.name;
    EXPECT_EQ(result.end, c.end) << c.name;
    EXPECT_EQ(result.value, c.value) << c.name;
    EXPECT_STREQ(output, c.captured) << c.name;
    EXPECT_EQ(result.captured, strlen(c.captured)) << c.name;
    EXPECT_EQ(result.cut, c.cut) << c.name;
  }
  ASSERT_EQ(sigaction(SIGPIPE, &pipe_before, nullptr), 0);
  ASSERT_EQ(sigprocmask(SIG_SETMASK, &before, nullptr), 0);
}

// A start that the caller waits for itself: the file run as named, with
// the environment given, leading a group of its own; pipes are refused.
TEST(Spawn, AStartReturnsAtOnceWithTheChildInItsOwnGroup) {
  temp_dir dir;
  const std::string out = dir.file("out");
  const char *argv[] = {"not-on-path", "-c",
                        "read _ _ _ _ group _ < /proc/self/stat; echo \"$$ $group $RUN\"", nullptr};
  const char *envp[] = {"RUN=marked", nullptr};
  spawn_request request{argv};
  request.program = "/bin/sh";
  request.envp = envp;
  request.out = spawn_stream::PATH;
  request.out_path = out.c_str();
  request.new_group = true;
  pid_t pid = -1;
  ASSERT_EQ(spawn_start(request, &pid), 0);
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(dir.read("out"), std::to_string(pid) + " " + std::to_string(pid) + " marked\n");

  char capture[8];
  request.out = spawn_stream::PIPE;
  request.output = capture;
  request.output_size = sizeof capture;
  EXPECT_EQ(spawn_start(request, &pid), EINVAL);
}

// Whether the C library's posix_spawn reports a failed exec to its caller
// here: qemu-user runs glibc's CLONE_VM | CLONE_VFORK child as a fork, so
// the error never reaches the parent and the child exits with 127.
bool spawn_reports_exec_failure() {
  pid_t pid = 0;
  char name[] = "quorvel-no-such-program";
  char *argv[] = {name, nullptr};
  if (posix_spawnp(&pid, name, nullptr, nullptr, argv, environ) != 0) return true;
  int status = 0;
  (void)waitpid(pid, &status, 0);
  return false;
}

TEST(Spawn, AProgramNotFoundOrAnUnopenableFileNeverStarts) {
  temp_dir dir;
  const std::string missing = dir.file("missing");
  spawn_result result{};

  // Output into a file: created afresh, mode 0600.
  const char *echo[] = {"sh", "-c", "echo into", nullptr};
  spawn_request into_file{echo};
  into_file.out = spawn_stream::PATH;
  into_file.out_path = missing.c_str();
  EXPECT_EQ(spawn_run(into_file, &result), 0);
  EXPECT_TRUE(spawn_ok(result));
  EXPECT_EQ(dir.read("missing"), "into\n");

  if (!spawn_reports_exec_failure()) GTEST_SKIP() << "posix_spawn cannot report a failed exec here";
  const char *argv[] = {"quorvel-no-such-program", nullptr};
  spawn_request request{argv};
  EXPECT_EQ(spawn_run(request, &result), -1);
  EXPECT_EQ(result.end, spawn_end::NOT_STARTED);
  EXPECT_EQ(result.value, ENOENT);

  const std::string absent = dir.file("absent");
  const char *cat[] = {"cat", nullptr};
  spawn_request from_missing{cat};
  from_missing.in = spawn_stream::PATH;
  from_missing.in_path = absent.c_str();
  EXPECT_EQ(spawn_run(from_missing, &result), -1);
  EXPECT_EQ(result.end, spawn_end::NOT_STARTED);
}

}  // namespace
