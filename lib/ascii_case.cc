// SPDX-License-Identifier: MIT
#include "lib/ascii_case.h"

int ascii_ncasecmp(const char *a, const char *b, size_t count) {
  const auto *x = reinterpret_cast<const unsigned char *>(a);
  const auto *y = reinterpret_cast<const unsigned char *>(b);
  for (size_t i = 0; i < count; ++i) {
    int difference = ascii_lower(x[i]) - ascii_lower(y[i]);
    if (difference != 0 || x[i] == '\0') return difference;
  }
  return 0;
}

const char *ascii_casestr(const char *text, const char *needle, size_t needle_length) {
  if (needle_length == 0) return text;
  const unsigned char first = ascii_lower(static_cast<unsigned char>(needle[0]));
  for (const char *start = text; *start != '\0'; ++start) {
    if (ascii_lower(static_cast<unsigned char>(*start)) != first) continue;
    // The needle holds no NUL, so a match cannot run past the text's end:
    // the text's NUL differs from every needle byte.
    if (ascii_ncasecmp(start + 1, needle + 1, needle_length - 1) == 0) return start;
  }
  return nullptr;
}
