// SPDX-License-Identifier: MIT
// The two documents of the cycle: the stored timestamp file and the
// service's whitelist answer, as far as the cycle itself reads them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lib/json_doc.h"

// Copies the top-level "updateTime" of the timestamp file at path into
// buffer (text form, truncated to size with its NUL). 0 on success; -1 when
// the file is missing (logged), not JSON or without "updateTime".
[[nodiscard]] int timestamp_file_read(const char *path, char *buffer, size_t size);

// Reads the answer document at path: "code" must be the integer 0 and
// "data" an object holding "enabled" and "updateTime". Sets *enabled_out to
// 1 when the text form of "enabled" begins with "true" in any case, else 0,
// and copies the text form of "updateTime" into buffer (truncated to size).
// 0 on success, -1 otherwise (only a missing file is logged).
[[nodiscard]] int response_summary_read(const char *path, int32_t *enabled_out, char *buffer,
                                        size_t size);

// response_summary_read, with *doc owning the parsed document on success
// (empty otherwise): the cycle's check and load read the same document
// without parsing the answer again.
[[nodiscard]] int response_summary_parse(const char *path, json_doc *doc, int32_t *enabled_out,
                                         char *buffer, size_t size);
