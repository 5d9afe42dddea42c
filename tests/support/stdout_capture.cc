// SPDX-License-Identifier: MIT
#include "tests/support/stdout_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/temp_dir.h"

stdout_capture::stdout_capture(const std::string &path) : path_(path) {
  fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd >= 0) {
    dup2(fd, STDOUT_FILENO);
    close(fd);
  }
}

stdout_capture::~stdout_capture() {
  finish();
}

std::string stdout_capture::finish() {
  if (saved_ >= 0) {
    fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
  }
  return file_read_all(path_);
}
