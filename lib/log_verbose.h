// SPDX-License-Identifier: MIT
// The process-wide verbose switch.
//
// Routines of the support library write their detailed lines only while it
// is set. Each program defines it once (the daemon toggles it on SIGUSR1);
// it is of a type that a signal handler may write while the run reads it.
#pragma once

#include <csignal>

// Exported by the program, which hides the rest of its symbols: a shared
// support library reads it there.
extern volatile sig_atomic_t log_verbose __attribute__((visibility("default")));
