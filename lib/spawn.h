// SPDX-License-Identifier: MIT
// Starting a program without a shell: its argument vector as given, each
// standard stream from or to a file, a pipe or /dev/null, and a typed
// account of how it ended. The child starts with no signal blocked and
// SIGPIPE (like every other signal) at its default action, whatever the
// caller ignores or blocks. Output read through a pipe is kept up to a
// stated bound; the rest is read and dropped, and the cut is reported.
#pragma once

#include <sys/types.h>

#include <cstddef>

// Where one standard stream of the child comes from or goes to.
enum class spawn_stream {
  INHERIT,  // the caller's own
  NUL,      // /dev/null
  PATH,     // a file at a path: read (stdin), or created or truncated, mode 0600 (output); never a
            // link
  PIPE,     // stdin: the request's input bytes; stdout: captured into the request's buffer
  STDOUT,   // stderr only: wherever stdout goes ("2>&1")
};

struct spawn_request {
  const char *const *argv;        // argv[0] is looked up on PATH as execvp does; null-terminated
  const char *program = nullptr;  // else: the file run, as named (no PATH lookup)
  const char *const *envp = nullptr;  // null: the caller's environment
  spawn_stream in = spawn_stream::NUL;
  spawn_stream out = spawn_stream::INHERIT;
  spawn_stream err = spawn_stream::INHERIT;
  const char *in_path = nullptr;   // for in == PATH
  const char *out_path = nullptr;  // for out == PATH
  const char *err_path = nullptr;  // for err == PATH
  const char *input = nullptr;     // for in == PIPE: the bytes written to the child
  size_t input_size = 0;
  char *output = nullptr;  // for out == PIPE: the capture, NUL-terminated
  size_t output_size = 0;  // its size in bytes, the NUL included
  bool new_group = false;  // the child leads a process group of its own
};

// How the child ended.
enum class spawn_end { EXITED, SIGNALED, NOT_STARTED };

struct spawn_result {
  spawn_end end;
  int value;        // the exit code, the signal number, or the errno of the failed start
  size_t captured;  // bytes kept in the request's output
  bool cut;         // the child wrote more than output_size - 1 bytes
};

// Runs the request's program and waits for it. 0 when it ran (whatever
// its end; see *result), -1 when it could not be started (result->end is
// NOT_STARTED, result->value the errno: no such program, a file that
// cannot be opened, no process left).
[[nodiscard]] int spawn_run(const spawn_request &request, spawn_result *result);

// Starts the request's program and returns at once, its pid in *pid: the
// caller waits for it. Requests whose streams are pipes are refused. 0, or
// the errno of the failed start (EINVAL for a request refused).
[[nodiscard]] int spawn_start(const spawn_request &request, pid_t *pid);

// True when the child exited with code 0.
[[nodiscard]] inline bool spawn_ok(const spawn_result &result) {
  return result.end == spawn_end::EXITED && result.value == 0;
}
