// SPDX-License-Identifier: MIT
#include "lib/file_move.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lib/text.h"

namespace {

// True when path reaches mv as exactly one operand that is not an option:
// no blank, quote, glob, variable or command character, no leading '-'.
bool shell_safe_path(const char *path) {
  if (path == nullptr || *path == '\0' || *path == '-') return false;
  for (const char *p = path; *p != '\0'; ++p) {
    char c = *p;
    bool plain = ascii_alnum(c) || strchr("._/+-,:@%=", c) != nullptr;
    if (!plain) return false;
  }
  return true;
}

}  // namespace

int file_move(const char *source, const char *destination) {
  if (!shell_safe_path(source) || !shell_safe_path(destination)) return -1;
  char command[FILE_MOVE_COMMAND_MAX + 1] = {};
  int length = snprintf(command, sizeof command, "mv %s %s", source, destination);
  if (length < 0 || length > FILE_MOVE_COMMAND_MAX) return -1;
  return system(command);
}
