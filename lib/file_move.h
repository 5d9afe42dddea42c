// SPDX-License-Identifier: MIT
// Moving a file with the shell's mv command.
#pragma once

// The longest command "mv <source> <destination>" that is run, in bytes.
inline constexpr int FILE_MOVE_COMMAND_MAX = 255;

// Runs "mv <source> <destination>" through system() and returns system()'s
// raw wait status undecoded: 0 when mv succeeded, the wait status of a
// failing mv or shell otherwise, -1 when no shell could be started.
// Nothing is run, and -1 is returned, when an argument is null or empty,
// when a path begins with '-' or holds a character other than letters,
// digits and "._/+-,:@%=" (the paths are given to the shell unquoted), or
// when the command would be longer than FILE_MOVE_COMMAND_MAX: a cut
// command could move the wrong file.
[[nodiscard]] int file_move(const char *source, const char *destination);
