// SPDX-License-Identifier: MIT
#include "sync/core/tool_output.h"

void tool_message_read(const char *path, char *message, size_t size) {
  if (message == nullptr || size == 0) return;
  file_read(path, file_part::HEAD, message, size);
  for (char *p = message; *p != '\0'; ++p) {
    if (*p == '\n') {
      *p = '\0';
      break;
    }
    if (*p < 0x20 || *p == 0x7f) *p = '?';
  }
}
