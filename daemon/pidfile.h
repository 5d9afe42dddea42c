// The single-instance guard.
#pragma once

#include <sys/types.h>

inline constexpr char PID_FILE[] = "/tmp/quorvel.pid";

// Refuses the start (status 1, "There's already a service running.") when
// the pid recorded in path names a live process other than this one;
// otherwise starts a new session and rewrites path with this pid. Returns
// setsid()'s result. Exits with status 1 when the pid cannot be written.
pid_t pidfile_lock(const char *path);
