// SPDX-License-Identifier: MIT
#include "lib/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "lib/c_guards.h"

ssize_t file_read(const char *path, file_part part, char *buffer, size_t size) {
  if (buffer == nullptr || size == 0) return -1;
  buffer[0] = '\0';
  unique_fd fd(open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return -1;
  struct stat info {};
  if (part == file_part::TAIL && fstat(fd.get(), &info) == 0 &&
      static_cast<size_t>(info.st_size) >= size)
    (void)lseek(fd.get(), info.st_size - static_cast<off_t>(size - 1), SEEK_SET);
  size_t used = 0;
  ssize_t outcome = 0;
  while (used < size - 1) {
    ssize_t got = read(fd.get(), buffer + used, size - 1 - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) outcome = -1;
    if (got <= 0) break;
    used += static_cast<size_t>(got);
  }
  buffer[used] = '\0';
  return outcome < 0 ? -1 : static_cast<ssize_t>(used);
}
