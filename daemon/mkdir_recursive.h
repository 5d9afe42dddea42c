// SPDX-License-Identifier: MIT
// Creating a directory together with its missing parents.
#pragma once

#include <sys/types.h>

// Makes path and every missing parent with mode (the umask applies). 0 when
// something of any file type already exists at path or the final mkdir
// succeeded, -1 otherwise (also for a null path).
[[nodiscard]] int mkdir_recursive(const char *path, mode_t mode);
