// SPDX-License-Identifier: MIT
// Storing small values in files.
//
// The byte writers open with O_WRONLY | O_CREAT and never O_TRUNC: the new
// bytes overwrite the file from its first byte and older content beyond
// them stays. A file they create gets the mode FILE_WRITE_MODE (less the
// process's file-creation mask). file_text_write, by contrast, replaces the
// whole content. None of them logs anything.
#pragma once

#include <sys/types.h>

#include <cstdint>

// Owner read and write, read for the others: never writable by everyone,
// even under a permissive umask.
inline constexpr mode_t FILE_WRITE_MODE = 0644;

// Writes value as decimal text ("%d": an optional minus sign and at most 10
// digits, no newline, no NUL) over the start of the file at path. The result
// of file_bytes_write for that text.
[[nodiscard]] int file_int_write(const char *path, int32_t value);

// Writes exactly the 4 bytes at data, in memory order, over the start of
// the file. 0 when all 4 were written; -1 for a null argument, a file that
// cannot be opened, or a failed or short write or close.
[[nodiscard]] int file_word_write(const char *path, const void *data);

// Writes the length bytes at data over the start of the file (a length of
// 0 only creates a missing file). 0 when all were written; -1 for a null
// path, null data with a non-zero length, a negative length, a file that
// cannot be opened, or a failed or short write or close.
[[nodiscard]] int file_bytes_write(const char *path, const void *data, int32_t length);

// Replaces the content of the file at path with text (without its NUL),
// through a stream opened in mode "w". 0 when the text reached the file, -1
// for a null argument or a failed open, write or close.
int file_text_write(const char *path, const char *text);
