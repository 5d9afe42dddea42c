// SPDX-License-Identifier: MIT
#include "sync/stamp_quote.h"

#include <cstring>

int stamp_quote(const char *stamp, char *out, size_t size) {
  if (stamp == nullptr || out == nullptr || size == 0) return -1;
  static constexpr char hex[] = "0123456789abcdef";
  size_t used = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(stamp); *p != '\0'; ++p) {
    char piece[7] = {};
    size_t piece_length = 1;
    if (*p == '\'') {
      memcpy(piece, "'\\''", 4);
      piece_length = 4;
    } else if (*p == '"' || *p == '\\' || *p < 0x20) {
      memcpy(piece, "\\u00", 4);
      piece[4] = hex[*p >> 4];
      piece[5] = hex[*p & 0x0f];
      piece_length = 6;
    } else {
      piece[0] = static_cast<char>(*p);
    }
    if (piece_length >= size - used) {
      out[0] = '\0';
      return -1;
    }
    memcpy(out + used, piece, piece_length);
    used += piece_length;
  }
  out[used] = '\0';
  return 0;
}
