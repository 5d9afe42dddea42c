// SPDX-License-Identifier: MIT
#include "lib/spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "lib/c_guards.h"

// The caller's environment, handed on as system() would.
extern char **environ;

namespace {

constexpr int OUTPUT_FLAGS = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW;

// The child's file actions and attributes, released on every path.
struct spawn_setup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  bool actions_made = false;
  bool attributes_made = false;
  spawn_setup() = default;
  spawn_setup(const spawn_setup &) = delete;
  spawn_setup &operator=(const spawn_setup &) = delete;
  ~spawn_setup() {
    if (actions_made) posix_spawn_file_actions_destroy(&actions);
    if (attributes_made) posix_spawnattr_destroy(&attributes);
  }
};

// The action that gives the child fd from the stream's source: 0 or an errno.
int stream_action(posix_spawn_file_actions_t *actions, int fd, spawn_stream stream,
                  const char *path, int pipe_end) {
  switch (stream) {
    case spawn_stream::INHERIT:
      return 0;
    case spawn_stream::NUL:
      return posix_spawn_file_actions_addopen(actions, fd, "/dev/null",
                                              fd == 0 ? O_RDONLY : O_WRONLY, 0);
    case spawn_stream::PATH:
      if (path == nullptr) return EINVAL;
      return posix_spawn_file_actions_addopen(actions, fd, path,
                                              fd == 0 ? O_RDONLY | O_NOFOLLOW : OUTPUT_FLAGS, 0600);
    case spawn_stream::PIPE:
      return posix_spawn_file_actions_adddup2(actions, pipe_end, fd);
    case spawn_stream::STDOUT:
      return fd == 2 ? posix_spawn_file_actions_adddup2(actions, 1, 2) : EINVAL;
  }
  return EINVAL;
}

int pipe_make(unique_fd *read_end, unique_fd *write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return errno;
  read_end->reset(fds[0]);
  write_end->reset(fds[1]);
  return 0;
}

// The child's input: a stream socket rather than a pipe, so that a child
// that exits before it read everything costs the caller EPIPE from
// send(MSG_NOSIGNAL), never a SIGPIPE.
int input_channel_make(unique_fd *child_end, unique_fd *our_end) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return errno;
  child_end->reset(fds[0]);
  our_end->reset(fds[1]);
  (void)shutdown(fds[0], SHUT_WR);
  return 0;
}

// Writes the input into to_child and reads from_child into the capture
// until the child closes its end; either descriptor may be invalid.
void pipes_serve(const spawn_request &request, unique_fd *to_child, unique_fd *from_child,
                 spawn_result *result) {
  size_t written = 0;
  char drop[4096];
  while (to_child->valid() || from_child->valid()) {
    pollfd fds[2];
    nfds_t count = 0;
    if (to_child->valid()) fds[count++] = {to_child->get(), POLLOUT, 0};
    if (from_child->valid()) fds[count++] = {from_child->get(), POLLIN, 0};
    if (poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == to_child->get()) {
        ssize_t put = written < request.input_size
                          ? send(fds[i].fd, request.input + written, request.input_size - written,
                                 MSG_NOSIGNAL | MSG_DONTWAIT)
                          : 0;
        if (put > 0) written += static_cast<size_t>(put);
        if ((put < 0 && errno != EAGAIN && errno != EINTR) || written >= request.input_size ||
            (fds[i].revents & (POLLERR | POLLHUP)) != 0)
          to_child->reset();
      } else {
        const size_t room = request.output_size - 1 - result->captured;
        char *into = room > 0 ? request.output + result->captured : drop;
        ssize_t got = read(fds[i].fd, into, room > 0 ? room : sizeof drop);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
          from_child->reset();
          continue;
        }
        if (room > 0)
          result->captured += static_cast<size_t>(got);
        else
          result->cut = true;
      }
    }
  }
  if (request.output != nullptr && request.output_size > 0) request.output[result->captured] = '\0';
}

// Starts the child with its streams from the pipe ends given (-1 where
// the stream is no pipe): 0 with its pid, or an errno.
int child_start(const spawn_request &request, int in_read, int out_write, pid_t *pid) {
  spawn_setup setup;
  int error = posix_spawn_file_actions_init(&setup.actions);
  setup.actions_made = error == 0;
  if (error == 0) error = posix_spawnattr_init(&setup.attributes);
  setup.attributes_made = error == 0;
  if (error == 0) error = stream_action(&setup.actions, 0, request.in, request.in_path, in_read);
  if (error == 0)
    error = stream_action(&setup.actions, 1, request.out, request.out_path, out_write);
  if (error == 0) error = stream_action(&setup.actions, 2, request.err, request.err_path, -1);

  // No signal blocked and every catchable one at its default in the child.
  sigset_t none;
  sigset_t every;
  sigemptyset(&none);
  sigemptyset(&every);
  for (int sig = 1; sig < 32; ++sig)
    if (sig != SIGKILL && sig != SIGSTOP) sigaddset(&every, sig);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (request.new_group) flags |= POSIX_SPAWN_SETPGROUP;
  if (error == 0) error = posix_spawnattr_setsigmask(&setup.attributes, &none);
  if (error == 0) error = posix_spawnattr_setsigdefault(&setup.attributes, &every);
  if (error == 0 && request.new_group) error = posix_spawnattr_setpgroup(&setup.attributes, 0);
  if (error == 0) error = posix_spawnattr_setflags(&setup.attributes, flags);
  if (error != 0) return error;

  char *const *argv = const_cast<char *const *>(request.argv);
  char *const *envp = const_cast<char *const *>(request.envp != nullptr ? request.envp : environ);
  return request.program != nullptr
             ? posix_spawn(pid, request.program, &setup.actions, &setup.attributes, argv, envp)
             : posix_spawnp(pid, request.argv[0], &setup.actions, &setup.attributes, argv, envp);
}

bool request_valid(const spawn_request &request) {
  return request.argv != nullptr && request.argv[0] != nullptr &&
         request.err != spawn_stream::PIPE &&
         (request.out != spawn_stream::PIPE ||
          (request.output != nullptr && request.output_size != 0)) &&
         (request.in != spawn_stream::PIPE || request.input != nullptr || request.input_size == 0);
}

}  // namespace

int spawn_start(const spawn_request &request, pid_t *pid) {
  if (pid == nullptr || !request_valid(request) || request.in == spawn_stream::PIPE ||
      request.out == spawn_stream::PIPE)
    return EINVAL;
  int error = child_start(request, -1, -1, pid);
  // Where the C library's child runs on after the call returned (qemu-user
  // turns a vfork into a fork), the group is made on this side too, so that
  // it exists before the caller signals it.
  if (error == 0 && request.new_group) (void)setpgid(*pid, *pid);
  return error;
}

int spawn_run(const spawn_request &request, spawn_result *result) {
  if (result == nullptr) return -1;
  *result = spawn_result{spawn_end::NOT_STARTED, EINVAL, 0, false};
  if (!request_valid(request)) return -1;
  if (request.output != nullptr && request.output_size > 0) request.output[0] = '\0';

  unique_fd in_read, in_write, out_read, out_write;
  int error = 0;
  if (request.in == spawn_stream::PIPE) error = input_channel_make(&in_read, &in_write);
  if (error == 0 && request.out == spawn_stream::PIPE) error = pipe_make(&out_read, &out_write);
  pid_t pid = -1;
  if (error == 0) error = child_start(request, in_read.get(), out_write.get(), &pid);
  if (error != 0) {
    result->value = error;
    return -1;
  }
  // The child's ends are its own now; ours see its end of the streams.
  in_read.reset();
  out_write.reset();
  if (request.in == spawn_stream::PIPE || request.out == spawn_stream::PIPE)
    pipes_serve(request, &in_write, &out_read, result);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      result->value = errno;
      return -1;
    }
  }
  if (WIFEXITED(status)) {
    result->end = spawn_end::EXITED;
    result->value = WEXITSTATUS(status);
  } else {
    result->end = spawn_end::SIGNALED;
    result->value = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return 0;
}
