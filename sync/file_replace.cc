// SPDX-License-Identifier: MIT
#include "sync/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "lib/c_guards.h"
#include "lib/text.h"

namespace {

constexpr mode_t REPLACE_MODE = 0644;

bool temporary_path(const char *path, char (&out)[FILE_REPLACE_PATH_SIZE]) {
  return path != nullptr && format_fits(snprintf(out, sizeof out, "%s.tmp", path), sizeof out);
}

// Writes all length bytes, resuming after short writes and interruptions.
bool write_all(int fd, const void *data, size_t length) {
  const char *at = static_cast<const char *>(data);
  while (length > 0) {
    ssize_t written = write(fd, at, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    at += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

// Flushes the folder that holds path, so that a rename in it lasts. A
// failure here leaves the new file complete: the old one may come back
// after a cut, which its caller must be ready for anyway.
void folder_flush(const char *path) {
  char folder[FILE_REPLACE_PATH_SIZE];
  if (!format_fits(snprintf(folder, sizeof folder, "%s", path), sizeof folder)) return;
  char *slash = strrchr(folder, '/');
  if (slash == nullptr) {
    snprintf(folder, sizeof folder, ".");
  } else if (slash == folder) {
    slash[1] = '\0';
  } else {
    *slash = '\0';
  }
  unique_fd fd(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) (void)fsync(fd.get());
}

// Writes the pieces into a fresh temporary file and flushes it.
bool temporary_write(const char *temporary, const file_piece *pieces, size_t count) {
  // A leftover (even a link planted there) is replaced, never followed.
  if (unlink(temporary) != 0 && errno != ENOENT) return false;
  unique_fd fd(open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, REPLACE_MODE));
  if (!fd.valid()) return false;
  for (size_t i = 0; i < count; ++i)
    if (!write_all(fd.get(), pieces[i].data, pieces[i].length)) return false;
  if (fsync(fd.get()) != 0) return false;
  return fd.reset() == 0;
}

}  // namespace

int file_replace(const char *path, const file_piece *pieces, size_t count) {
  char temporary[FILE_REPLACE_PATH_SIZE];
  if (!temporary_path(path, temporary) || (pieces == nullptr && count > 0)) {
    errno = EINVAL;
    return -1;
  }
  if (temporary_write(temporary, pieces, count) && rename(temporary, path) == 0) {
    folder_flush(path);
    return 0;
  }
  int error = errno;
  (void)unlink(temporary);
  (void)unlink(path);
  errno = error;
  return -1;
}

int file_replace_leftover_clear(const char *path) {
  char temporary[FILE_REPLACE_PATH_SIZE];
  if (!temporary_path(path, temporary)) return 0;
  return unlink(temporary) == 0 ? 1 : 0;
}
