// SPDX-License-Identifier: MIT
// Reading what an outside tool (ipset, nft) printed into a file of the
// load's own, for the load's decisions and its log lines.
#pragma once

#include <cstddef>

enum class file_part { HEAD, TAIL };

// Up to size - 1 bytes of the file at path, NUL-terminated ("" when it
// cannot be read; a link is not followed): from its start, or from its end
// (ipset stops at the line it refuses, so its message is the last it
// prints).
void file_read(const char *path, file_part part, char *buffer, size_t size);

// The first line of the file at path, cut to size - 1 bytes, with control
// characters shown as '?', for a log line.
void tool_message_read(const char *path, char *message, size_t size);
