// SPDX-License-Identifier: MIT
// Reading the cycle's JSON documents from files.
#pragma once

#include "lib/json_doc.h"

// Answer documents larger than this are refused unread: a router has
// little memory, and a real whitelist is far smaller.
inline constexpr long JSON_FILE_MAX_BYTES = 16L * 1024 * 1024;

// Parses the regular file at path. Returns the document, or an empty owner
// when the file cannot be opened, is not a regular file, is larger than
// JSON_FILE_MAX_BYTES or is not JSON.
json_doc json_file_parse(const char *path);
