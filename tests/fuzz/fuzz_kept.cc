// SPDX-License-Identifier: MIT
// The kept list's reader over arbitrary files. A file that reads back is
// exactly the file that its stamp and elements make again: the same bytes
// up to the trailer, the trailer's count, and elements that the builder
// takes. Anything else is refused whole, with the list left empty.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sync/kept_list.h"
#include "tests/fuzz/fuzz_target.h"

namespace {

// A plain file in RAM where there is one (the reader refuses links, so the
// memory file of the other targets, reached through /proc/self/fd, would
// never be read).
const char *input_path() {
  static char path[64] = {};
  if (path[0] == '\0') {
    const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(path, sizeof path, "%s/quorvel-fuzz-kept-%d", base, static_cast<int>(getpid()));
    atexit([] { unlink(input_path()); });
  }
  return path;
}

void input_write(const uint8_t *data, size_t size) {
  int fd = open(input_path(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) abort();
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) abort();
  close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 16)) return 0;
  input_write(data, size);
  kept_list list;
  int result = kept_list_read(input_path(), &list);
  if (result != KEPT_READ_OK) {
    if (result != KEPT_READ_BROKEN || list.bytes || list.count != 0) abort();
    return 0;
  }
  kept_list again;
  if (kept_list_begin(&again, list.stamp) != 0) abort();
  size_t cursor = 0;
  std::string_view element;
  while (kept_list_next(list, &cursor, &element))
    if (kept_list_add(&again, element) != 0) abort();
  if (!kept_list_same(list, again) || list.length >= size) abort();
  if (memcmp(list.bytes.get(), data, list.length) != 0) abort();
  char trailer[32];
  snprintf(trailer, sizeof trailer, "end %zu ", list.count);
  if (size - list.length != strlen(trailer) + 9 ||
      memcmp(data + list.length, trailer, strlen(trailer)) != 0 || data[size - 1] != '\n')
    abort();
  return 0;
}
