// SPDX-License-Identifier: MIT
// Case-insensitive comparison and search in the POSIX locale.
//
// Only the ASCII letters A to Z and a to z fold to their other case; every
// other byte, among them 0x80 to 0xFF, compares exactly. Unlike the C
// library's strncasecmp and strcasestr, the result never depends on a locale
// that some caller of the library may have set.
#pragma once

#include <cstddef>

// The byte with A to Z turned into a to z.
inline unsigned char ascii_lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Compares at most count bytes as text: stops at the first difference or at
// a NUL byte that both hold. 0 when equal, otherwise the difference of the
// two folded bytes (negative when a sorts first), like strncasecmp.
[[nodiscard]] int ascii_ncasecmp(const char *a, const char *b, size_t count);

// Start of the first occurrence of the needle_length bytes at needle in the
// NUL-terminated text, ignoring case; text itself for an empty needle; null
// when there is none. The needle must hold no NUL within needle_length.
[[nodiscard]] const char *ascii_casestr(const char *text, const char *needle, size_t needle_length);
