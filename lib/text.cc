// SPDX-License-Identifier: MIT
#include "lib/text.h"

#include <cstring>

const char *str_find_last(const char *text, const char *needle) {
  if (text == nullptr || needle == nullptr || needle[0] == '\0') return nullptr;
  const char *last = nullptr;
  // Restart one character after each hit, so that overlapping hits count.
  for (const char *hit = strstr(text, needle); hit != nullptr; hit = strstr(hit + 1, needle))
    last = hit;
  return last;
}

int str_printable(const char *text) {
  if (text == nullptr) return -1;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; ++p) {
    if (*p < 0x20 || *p > 0x7E) return -1;
  }
  return 0;
}

const char *str_skip_char(const char *data, size_t count, char ch) {
  if (data == nullptr) return nullptr;
  size_t index = 0;
  while (index < count && data[index] == ch) ++index;
  return data + index;
}
