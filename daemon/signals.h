// SPDX-License-Identifier: MIT
// Signal dispositions of the run.
#pragma once

// Installs signal_handler for SIGINT, SIGTERM and SIGUSR1 (no flags, empty
// mask) and ignores SIGPIPE. Failures are ignored.
void signals_install();

// SIGUSR1 toggles log_verbose and logs a line; SIGINT and SIGTERM log a
// line and end the process at once with status 0, cleaning up nothing.
void signal_handler(int signo);
