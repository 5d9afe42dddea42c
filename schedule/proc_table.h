// SPDX-License-Identifier: MIT
// What the schedule reads of other processes under /proc.
#pragma once

#include <sys/types.h>

struct proc_stat {
  char state = '?';                   // R, S, D, Z, ...
  pid_t pgrp = 0;                     // process group
  unsigned long long start_time = 0;  // clock ticks after boot
};

// Reads /proc/PID/stat. 0 on success, -1 when the process is gone or the
// text cannot be read.
[[nodiscard]] int proc_stat_read(pid_t pid, proc_stat *out);

// Parses one /proc/PID/stat text (the program's name may hold blanks and
// parentheses). 0 on success, -1 otherwise.
[[nodiscard]] int proc_stat_parse(const char *text, proc_stat *out);

// True when the environment of PID holds the entry NAME=VALUE exactly,
// wherever it stands (the first 8 MiB are read).
[[nodiscard]] bool proc_environ_has(pid_t pid, const char *entry);

// The members of a process group other than the pid left_out: those that
// still run, how many of those do not carry the environment entry marker
// (every one when marker is null), and the zombies that their parents
// have not reaped yet. A member that ends while it is looked at counts
// as a zombie, or not at all once gone.
struct group_census {
  int live = 0;
  int unmarked = 0;
  int zombies = 0;
};

[[nodiscard]] group_census group_count(pid_t pgrp, const char *marker, pid_t left_out = 0);

// The boot's id (/proc/sys/kernel/random/boot_id) into out (37 bytes at
// least). 0 on success, -1 otherwise.
[[nodiscard]] int boot_id_read(char *out, size_t size);
