// SPDX-License-Identifier: MIT
#include "sync/core/path_clear.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int path_clear(const char *path) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  struct stat info {};
  if (lstat(path, &info) != 0) return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
  if ((S_ISDIR(info.st_mode) ? rmdir(path) : unlink(path)) == 0) return 0;
  // Removed by someone else meanwhile: the path is clear all the same.
  return errno == ENOENT ? 0 : -1;
}
