// SPDX-License-Identifier: MIT
// Reading what an outside tool (ipset, nft) printed into a file of the
// load's own, for the load's decisions and its log lines.
#pragma once

#include <cstddef>

#include "lib/file_read.h"

// The first line of the file at path, cut to size - 1 bytes, with control
// characters shown as '?', for a log line.
void tool_message_read(const char *path, char *message, size_t size);
