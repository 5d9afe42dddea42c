// SPDX-License-Identifier: MIT
#include "schedule/run_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/c_guards.h"
#include "lib/text.h"

namespace {

constexpr size_t RECORD_TEXT_MAX = 256;
constexpr size_t PATH_MAX_TEXT = 4096;

// Copies the next blank-free word of *text (at most size - 1 bytes) into
// out and steps past it. 0 on success.
int word_take(const char **text, char *out, size_t size) {
  const char *start = *text + strspn(*text, " ");
  size_t length = strcspn(start, " \n");
  if (length == 0 || length >= size) return -1;
  memcpy(out, start, length);
  out[length] = '\0';
  *text = start + length;
  return 0;
}

}  // namespace

int run_record_parse(const char *text, run_record *out) {
  char leader[16];
  char start[24];
  run_record parsed;
  if (word_take(&text, leader, sizeof leader) != 0 || word_take(&text, start, sizeof start) != 0 ||
      word_take(&text, parsed.marker, sizeof parsed.marker) != 0 ||
      word_take(&text, parsed.boot_id, sizeof parsed.boot_id) != 0 || strcmp(text, "\n") != 0)
    return -1;
  if (strspn(leader, "0123456789") != strlen(leader) ||
      strspn(start, "0123456789") != strlen(start) || leader[0] == '0')
    return -1;
  long pid = strtol(leader, nullptr, 10);
  // Pids 0 and 1 are never a run of ours; kill(-1) would reach everyone.
  if (pid <= 1 || pid > 0x3fffffff) return -1;
  parsed.leader = static_cast<pid_t>(pid);
  parsed.start_time = strtoull(start, nullptr, 10);
  *out = parsed;
  return 0;
}

int run_record_write(const char *path, const run_record &record) {
  char text[RECORD_TEXT_MAX];
  char temporary[PATH_MAX_TEXT];
  if (!format_fits(snprintf(text, sizeof text, "%d %llu %s %s\n", static_cast<int>(record.leader),
                            record.start_time, record.marker, record.boot_id),
                   sizeof text) ||
      !format_fits(snprintf(temporary, sizeof temporary, "%s.new", path), sizeof temporary))
    return -1;
  unlink(temporary);
  unique_fd fd(open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.valid()) return -1;
  size_t length = strlen(text);
  bool written = write(fd.get(), text, length) == static_cast<ssize_t>(length);
  if (fd.reset() != 0 || !written || rename(temporary, path) != 0) {
    unlink(temporary);
    return -1;
  }
  return 0;
}

int run_record_read(const char *path, run_record *out) {
  unique_fd fd(open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info {};
  if (!fd.valid() || fstat(fd.get(), &info) != 0) return -1;
  if (!S_ISREG(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 022) != 0 ||
      info.st_nlink != 1)
    return -1;
  char text[RECORD_TEXT_MAX];
  ssize_t count = read(fd.get(), text, sizeof text - 1);
  if (count <= 0) return -1;
  text[count] = '\0';
  return run_record_parse(text, out);
}
