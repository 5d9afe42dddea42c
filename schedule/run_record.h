// SPDX-License-Identifier: MIT
// The record of the run in progress, kept in RAM (under /var/run or /tmp)
// so that a schedule started after one that was killed (the OOM killer,
// kill -9) can end what that schedule's run left behind.
//
// One line: "<leader pid> <leader start time> <marker> <boot id>\n". The
// leader is the daemon, whose pid is also the run's process group; its
// start time comes from /proc/PID/stat, in clock ticks after boot; the
// marker is an environment entry that every process of the run inherits.
#pragma once

#include <sys/types.h>

#include <cstddef>

inline constexpr size_t RUN_MARKER_MAX = 64;
inline constexpr size_t BOOT_ID_MAX = 40;

struct run_record {
  pid_t leader = 0;
  unsigned long long start_time = 0;
  char marker[RUN_MARKER_MAX] = {};
  char boot_id[BOOT_ID_MAX] = {};
};

// Replaces the record at path (written beside it, then renamed over it).
// 0 on success, -1 otherwise.
[[nodiscard]] int run_record_write(const char *path, const run_record &record);

// Reads the record at path. It is trusted only as a regular file of this
// process's effective user, writable by nobody else, with one link, opened
// without following a link. 0 on success; -1 when there is none, it is not
// trusted or it cannot be parsed.
[[nodiscard]] int run_record_read(const char *path, run_record *out);

// Parses the text of a record. 0 on success, -1 otherwise.
[[nodiscard]] int run_record_parse(const char *text, run_record *out);
