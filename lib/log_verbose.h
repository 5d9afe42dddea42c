// SPDX-License-Identifier: MIT
// The process-wide verbose switch.
//
// Routines of the support library write their detailed lines only while it
// is set. Each program defines it once (the daemon toggles it on SIGUSR1);
// it is of a type that a signal handler may write while the run reads it.
#pragma once

#include <csignal>

extern volatile sig_atomic_t log_verbose;
