// SPDX-License-Identifier: MIT
#include "lib/file_write.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "lib/c_guards.h"

namespace {

// Writes all count bytes, going on after a short write; false when the
// file refuses any of them.
bool write_all(int fd, const char *data, size_t count) {
  while (count > 0) {
    ssize_t written = write(fd, data, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    data += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

int file_int_write(const char *path, int32_t value) {
  char text[16] = {};
  int length = snprintf(text, sizeof text, "%d", static_cast<int>(value));
  if (length < 0 || static_cast<size_t>(length) >= sizeof text) return -1;
  return file_bytes_write(path, text, length);
}

int file_word_write(const char *path, const void *data) {
  if (data == nullptr) return -1;
  return file_bytes_write(path, data, 4);
}

int file_bytes_write(const char *path, const void *data, int32_t length) {
  if (path == nullptr || length < 0 || (data == nullptr && length != 0)) return -1;
  // No O_TRUNC: older content beyond the new bytes stays in place.
  unique_fd fd(open(path, O_WRONLY | O_CREAT, FILE_WRITE_MODE));
  if (!fd.valid()) return -1;
  bool written = write_all(fd.get(), static_cast<const char *>(data), static_cast<size_t>(length));
  // A failed close can be the first sign of a write that never reached
  // the disk, so it counts as well.
  bool closed = fd.reset() == 0;
  return written && closed ? 0 : -1;
}

int file_text_write(const char *path, const char *text) {
  if (path == nullptr || text == nullptr) return -1;
  unique_file stream(fopen(path, "w"));
  if (!stream) return -1;
  bool written = fputs(text, stream.get()) >= 0;
  // fclose flushes the stream: its result tells whether the text arrived.
  bool closed = fclose(stream.release()) == 0;
  return written && closed ? 0 : -1;
}
