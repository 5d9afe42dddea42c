// SPDX-License-Identifier: MIT
// Replacing a file on flash so that a power cut leaves the old content or
// the new one, never a part: the bytes go to a temporary file beside it
// ("<path>.tmp"), which is flushed to the device, renamed over the file,
// and the folder is flushed so that the rename itself lasts.
#pragma once

#include <cstddef>

// Room for the temporary file's path, its NUL included.
inline constexpr size_t FILE_REPLACE_PATH_SIZE = 256;

// The pieces of the new content, written in order.
struct file_piece {
  const void *data;
  size_t length;
};

// Replaces the file at path with the pieces. 0 when the new content is in
// place; -1 otherwise, with errno telling why, and then neither the
// temporary file nor the file at path is left behind: a file that could
// not be renewed must not outlive what it stood for.
[[nodiscard]] int file_replace(const char *path, const file_piece *pieces, size_t count);

// Removes the temporary file that a cut between the write and the rename
// left beside path. 1 when one was removed, 0 when there was none (or it
// could not be removed).
int file_replace_leftover_clear(const char *path);
