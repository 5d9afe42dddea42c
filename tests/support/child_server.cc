// SPDX-License-Identifier: MIT
#include "tests/support/child_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

child_server::child_server(const std::vector<std::string> &argv) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  if (pid_ < 0) {
    close(pipe_fds[0]);
    return;
  }
  const std::string marker = "listening on ";
  for (int waited = 0; waited < 150 && port_ == 0;) {
    pollfd ready = {pipe_fds[0], POLLIN, 0};
    int events = poll(&ready, 1, 100);
    if (events == 0) {
      ++waited;
      continue;
    }
    char chunk[256];
    ssize_t count = read(pipe_fds[0], chunk, sizeof chunk);
    if (count <= 0) break;
    output_.append(chunk, static_cast<size_t>(count));
    size_t at = output_.find(marker);
    size_t end = output_.find('\n', at);
    if (at == std::string::npos || end == std::string::npos) continue;
    std::string address = output_.substr(at + marker.size(), end - at - marker.size());
    size_t colon = address.rfind(':');
    if (colon != std::string::npos) port_ = atoi(address.c_str() + colon + 1);
    if (port_ <= 0) break;
  }
  // The test servers print nothing after their listening line.
  close(pipe_fds[0]);
}

child_server::~child_server() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
}

std::string child_server::url(const std::string &path, bool tls) const {
  return std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::string source_dir() {
  return QUORVEL_SOURCE_DIR;
}
