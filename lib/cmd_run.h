// SPDX-License-Identifier: MIT
// Runs one shell command line and decodes its wait status.
#pragma once

// Runs command with system() (sh -c) and waits for it. Returns the exit
// status (0 to 255) of a command that exited normally, and -1 when no shell
// could be run, the shell was ended by a signal or dumped core, or command
// is null. Diagnostics are written only while log_verbose is set.
[[nodiscard]] int cmd_run(const char *command);

// Prints "cmd:  <command>" on standard output, then runs it as cmd_run does.
[[nodiscard]] int cmd_print_run(const char *command);
