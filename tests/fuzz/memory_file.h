// SPDX-License-Identifier: MIT
// A file that lives in memory only (memfd_create), reachable by a path
// through /proc/self/fd: the fuzz targets write each input there, so that
// no run waits for a disk (truncating a file on ext4 flushes it).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

class memory_file {
 public:
  memory_file() : fd_(memfd_create("quorvel-fuzz", MFD_CLOEXEC)) {
    if (fd_ < 0) abort();
    snprintf(path_, sizeof path_, "/proc/self/fd/%d", fd_);
  }
  ~memory_file() { close(fd_); }
  memory_file(const memory_file &) = delete;
  memory_file &operator=(const memory_file &) = delete;

  int fd() const { return fd_; }
  const char *path() const { return path_; }

  // The file's whole content becomes the size bytes at data.
  void fill(const uint8_t *data, size_t size) const {
    if (ftruncate(fd_, 0) != 0) abort();
    if (size > 0 && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) abort();
  }

 private:
  int fd_;
  char path_[32];
};
