#include "sync/tool_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "lib/c_guards.h"

size_t file_head(const char *path, char *buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = '\0';
  unique_fd fd(open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return 0;
  size_t used = 0;
  while (used < size - 1) {
    ssize_t got = read(fd.get(), buffer + used, size - 1 - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += static_cast<size_t>(got);
  }
  buffer[used] = '\0';
  return used;
}

void tool_message_read(const char *path, char *message, size_t size) {
  (void)file_head(path, message, size);
  if (message == nullptr || size == 0) return;
  for (char *p = message; *p != '\0'; ++p) {
    if (*p == '\n') {
      *p = '\0';
      break;
    }
    if (*p < 0x20 || *p == 0x7f) *p = '?';
  }
}
