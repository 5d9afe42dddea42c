// SPDX-License-Identifier: MIT
// The single-instance guard.
//
// The pid file is also the lock: the instance that goes on holds an
// advisory lock (flock) on it for its whole life, so that of any number of
// simultaneous starts exactly one passes the guard. The lock is released by
// the kernel when the process ends, however it ends.
#pragma once

#include <sys/types.h>

inline constexpr char PID_FILE[] = "/tmp/quorvel.pid";

// Refuses the start (status 1, "There's already a service running.") when
// another instance holds the lock on path, or when the pid recorded in path
// names a live process other than this one; otherwise starts a new session
// and rewrites path with this pid ("%d\n", mode 0640 less the umask),
// keeping its lock until the process ends. A pid file that this daemon
// did not make (not a regular file of its effective user with one link) is
// removed unread and made afresh with O_EXCL; where it cannot be removed (a
// read-only /tmp) it is read and locked as it is. Returns setsid()'s result. Exits
// with status 1 when the pid cannot be written. When no pid file can be
// made (a read-only /tmp, a directory in the way), the run goes on without.
pid_t pidfile_lock(const char *path);

// The pid recorded in the file open at fd: its first 15 bytes (at most)
// converted as atoi() does, or 0 when nothing can be read.
[[nodiscard]] int pidfile_read_pid(int fd);
