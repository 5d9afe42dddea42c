// SPDX-License-Identifier: MIT
// The single-instance guard.
//
// The lock that marks the running instance lives in a folder of the
// daemon's own, LOCK_DIR, that only its user can write: the instance that
// goes on holds an advisory lock (flock) on LOCK_DIR/LOCK_NAME for its
// whole life, and the kernel releases it when the process ends, however it
// ends. Of any number of simultaneous starts exactly one takes it. Only
// while holding it does a start replace what stands at the pid path (in
// /tmp, where any user may plant any name): every other start that could
// remove something there waits on the same lock, so no start ever removes
// the fresh file of another. Where that folder cannot be used (no /var/run,
// a read-only one, a folder of another user in its place) the pid file
// itself is locked, and nothing at the pid path is ever removed.
#pragma once

#include <sys/types.h>

inline constexpr char PID_FILE[] = "/tmp/quorvel.pid";
// /var/run is root's on a router (OpenWrt makes it at boot, under /tmp):
// no other user can plant a name in it.
inline constexpr char LOCK_DIR[] = "/var/run/quorvel";
inline constexpr char LOCK_NAME[] = "pid.lock";

// How the guard ended. Every outcome but GUARD_LOCKED has a reason.
enum guard_outcome {
  GUARD_LOCKED,           // the lock in LOCK_DIR held, the pid file written
  GUARD_LOCKED_PID_FILE,  // LOCK_DIR unusable: the pid file itself locked and written
  GUARD_NO_PID_FILE,      // the lock held, no pid file can be made
  GUARD_NO_LOCK,          // no lock can be taken (the pid check alone)
  GUARD_REFUSED,          // another instance runs
  GUARD_WRITE_FAILED,     // the pid file was made but the pid cannot be written
};

struct guard_result {
  guard_outcome outcome;
  const char *reason;  // static text; nullptr for GUARD_LOCKED and GUARD_REFUSED
};

// Takes the instance lock in lock_dir (made with mode 0700 where missing)
// and makes path the pid file of this process ("%d\n", mode 0640 less the
// umask). Refused when another start holds the lock or the pid recorded in
// path (its first 15 bytes, read only from a file of this daemon's own)
// names a live process other than this one. Anything at path that is not
// the daemon's own file (a link, FIFO, socket, another user's file, a hard
// link) is removed unread only while the lock in lock_dir is held, and
// never followed. Prints nothing and never exits: the caller reports.
[[nodiscard]] guard_result pidfile_lock(const char *path, const char *lock_dir);

// A few words naming outcome, for the log line of a run that is not
// GUARD_LOCKED.
[[nodiscard]] const char *guard_outcome_text(guard_outcome outcome);

// The pid recorded in the file open at fd: its first 15 bytes (at most)
// converted as atoi() does, or 0 when nothing can be read.
[[nodiscard]] int pidfile_read_pid(int fd);
