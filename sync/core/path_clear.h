// SPDX-License-Identifier: MIT
// Clearing the path that the agent's answer is redirected into.
//
// The shell's redirection would block on a FIFO, fail on a directory and
// write through a symbolic link into whatever it names, so the cycle
// clears the path itself before the agent runs and again at the end.
#pragma once

// Removes whatever stands at path without following it: a file, FIFO,
// socket, device node or symbolic link (the link itself, never its target),
// or an empty directory. 0 when nothing stands there afterwards (also when
// nothing stood there or a parent is missing or not a directory). -1 with
// errno set when something stays: a directory that is not empty (ENOTEMPTY)
// or a removal that the system refused.
[[nodiscard]] int path_clear(const char *path);
