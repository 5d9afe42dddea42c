// SPDX-License-Identifier: MIT
#include "schedule/proc_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lib/c_guards.h"
#include "lib/file_read.h"
#include "lib/text.h"

namespace {

constexpr size_t STAT_TEXT_MAX = 1024;
// A process's environment is read whole, a piece at a time: the daemon
// gets the schedule's entry first, in its first piece, while the shells and
// programs that it starts pass the entry on wherever they place it (a shell
// in the order of its own variable table).
constexpr size_t ENVIRON_PIECE = 4096;
// Linux gives arguments and environment together at most a quarter of the
// stack limit; a larger environment is read this far only.
constexpr size_t ENVIRON_MAX = 8u << 20;
// Field 22 of /proc/PID/stat; field 3 is the state, the first after ')'.
constexpr int START_TIME_FIELD = 22;
// A member that seems to lack the marker is looked at again this often,
// this many microseconds apart, before it counts as a stranger: an exec or
// an exit takes that long only on a machine that is busy.
constexpr int MEMBER_LOOKS = 50;
constexpr useconds_t MEMBER_LOOK_US = 2000;

struct dir_closer {
  void operator()(DIR *dir) const noexcept { closedir(dir); }
};

// The pid named by a /proc entry, or 0 for one that names none.
pid_t entry_pid(const char *name) {
  if (name[0] < '1' || name[0] > '9' || strspn(name, "0123456789") != strlen(name)) return 0;
  return static_cast<pid_t>(strtol(name, nullptr, 10));
}

enum class member { MARKED, STRANGER, ENDED, GONE };

// Whether the live member pid (stat as first read) carries marker. One
// that seems to lack it is looked at again until it shows the marker,
// ends or is gone: an ending process reads empty once it has given up its
// memory, and one in the middle of an exec reads empty or only in part.
// One that lacks the marker all that time is a stranger.
member member_look(pid_t pid, const proc_stat &first, const char *marker) {
  for (int look = 0;; ++look) {
    if (proc_environ_has(pid, marker)) return member::MARKED;
    proc_stat now;
    if (proc_stat_read(pid, &now) != 0 || now.start_time != first.start_time ||
        now.pgrp != first.pgrp)
      return member::GONE;
    if (now.state == 'Z' || now.state == 'X') return member::ENDED;
    if (look == MEMBER_LOOKS) return member::STRANGER;
    usleep(MEMBER_LOOK_US);
  }
}

}  // namespace

int proc_stat_parse(const char *text, proc_stat *out) {
  // The name stands in parentheses and may hold any byte: the fields go on
  // after its last ')'.
  const char *name_end = strrchr(text, ')');
  if (name_end == nullptr || name_end[1] != ' ') return -1;
  const char *field = name_end + 2;
  proc_stat parsed;
  parsed.state = field[0];
  for (int number = 3; number <= START_TIME_FIELD; ++number) {
    char *end = nullptr;
    if (number == 5) parsed.pgrp = static_cast<pid_t>(strtol(field, &end, 10));
    if (number == START_TIME_FIELD) {
      parsed.start_time = strtoull(field, &end, 10);
      if (end == field) return -1;
    }
    field = strchr(field, ' ');
    if (field == nullptr && number < START_TIME_FIELD) return -1;
    if (field != nullptr) ++field;
  }
  *out = parsed;
  return 0;
}

int proc_stat_read(pid_t pid, proc_stat *out) {
  char path[32];
  char text[STAT_TEXT_MAX];
  if (!format_fits(snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid)),
                   sizeof path) ||
      file_read(path, file_part::HEAD, text, sizeof text) <= 0)
    return -1;
  return proc_stat_parse(text, out);
}

bool proc_environ_has(pid_t pid, const char *entry) {
  char path[32];
  if (!format_fits(snprintf(path, sizeof path, "/proc/%d/environ", static_cast<int>(pid)),
                   sizeof path))
    return false;
  unique_fd fd(open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  const size_t entry_length = strlen(entry);
  // Entries are NUL-separated and may span pieces: the bytes of the current
  // entry that matched entry so far, until one differs.
  size_t matched = 0;
  bool matching = true;
  bool whole = false;
  char piece[ENVIRON_PIECE];
  for (size_t total = 0; total < ENVIRON_MAX;) {
    ssize_t count = read(fd.get(), piece, sizeof piece);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return false;
    whole = count == 0;
    if (whole) break;
    total += static_cast<size_t>(count);
    for (ssize_t at = 0; at < count; ++at) {
      char byte = piece[at];
      if (byte == '\0') {
        if (matching && matched == entry_length) return true;
        matched = 0;
        matching = true;
      } else if (matching && matched < entry_length && byte == entry[matched]) {
        ++matched;
      } else {
        matching = false;
      }
    }
  }
  // The last entry may lack its NUL (a program that rewrote its
  // environment's memory), but not one cut at the bound.
  return whole && matching && matched == entry_length && entry_length > 0;
}

group_census group_count(pid_t pgrp, const char *marker, pid_t left_out) {
  group_census census;
  std::unique_ptr<DIR, dir_closer> proc(opendir("/proc"));
  if (!proc) return census;
  while (const dirent *entry = readdir(proc.get())) {
    pid_t pid = entry_pid(entry->d_name);
    proc_stat stat;
    if (pid == 0 || pid == left_out || proc_stat_read(pid, &stat) != 0 || stat.pgrp != pgrp)
      continue;
    if (stat.state == 'Z' || stat.state == 'X') {
      ++census.zombies;
      continue;
    }
    if (marker == nullptr) {
      ++census.live;
      ++census.unmarked;
      continue;
    }
    switch (member_look(pid, stat, marker)) {
      case member::MARKED:
        ++census.live;
        break;
      case member::STRANGER:
        ++census.live;
        ++census.unmarked;
        break;
      case member::ENDED:
        ++census.zombies;
        break;
      case member::GONE:
        break;
    }
  }
  return census;
}

int boot_id_read(char *out, size_t size) {
  char text[64];
  ssize_t count = file_read("/proc/sys/kernel/random/boot_id", file_part::HEAD, text, sizeof text);
  if (count <= 0) return -1;
  text[strcspn(text, "\n")] = '\0';
  if (!format_fits(snprintf(out, size, "%s", text), size)) return -1;
  return 0;
}
