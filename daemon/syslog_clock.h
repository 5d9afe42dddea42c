// SPDX-License-Identifier: MIT
// The clock of the C library's syslog() stamps.
//
// The signal handler formats its syslog line by hand, so its stamp must
// follow the same clock as every other line of the process: glibc (and
// uClibc) stamp local time, musl stamps UTC. CMake builds the one source
// file that matches the C library: syslog_clock_local.cc or
// syslog_clock_utc.cc.
#pragma once

#include <ctime>

// Seconds east of UTC of the syslog stamps at the time now: the local time
// zone's offset (0 when it cannot be had) or 0 for a C library that stamps
// UTC. Not async-signal-safe: called before the handler is installed.
long syslog_clock_offset(time_t now);
