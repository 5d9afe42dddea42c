// SPDX-License-Identifier: MIT
// Reading a small file whole, or its end, into a caller's buffer: what a
// tool printed into a file, a /proc entry.
#pragma once

#include <sys/types.h>

#include <cstddef>

enum class file_part { HEAD, TAIL };

// Up to size - 1 bytes of the file at path, NUL-terminated: from its start,
// or from its end (ipset stops at the line it refuses, so its message is
// the last it prints). A link is not followed. The count of bytes read, or
// -1 when the file cannot be opened or a read fails (the buffer then holds
// what came before; "" when nothing did).
ssize_t file_read(const char *path, file_part part, char *buffer, size_t size);
