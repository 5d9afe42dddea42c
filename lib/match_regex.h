// SPDX-License-Identifier: MIT
// The regular-expression backend of the match rules: classic PCRE
// (match_regex_pcre.cc) or PCRE2 (match_regex_pcre2.cc), one of them linked
// into the library. Both compile with no option flags and the library's
// built-in character tables, so case counts and bytes 0x80 to 0xFF are no
// letters; both give the same result for every expression and subject
// that classic PCRE matches within its recursion bound.
#pragma once

#include <cstddef>

struct match_regex;

// Room for the backend's compilation error text, NUL included.
constexpr size_t MATCH_REGEX_ERROR_SIZE = 128;

// Compiles the NUL-terminated pattern. The expression, which the caller
// frees with match_regex_free, or null on failure with the byte offset of
// the error in *error_offset and its text in error (always NUL-terminated).
[[nodiscard]] match_regex *match_regex_compile(const char *pattern, int *error_offset,
                                               char (&error)[MATCH_REGEX_ERROR_SIZE]);

// 0 when the expression matches somewhere in the length bytes at subject
// (NUL bytes included), -1 on a miss and on any run-time error. length must
// not be negative; subject[length] must be readable. Allocates nothing on
// the common path (see match_text in match_rule.h).
[[nodiscard]] int match_regex_exec(const match_regex *regex, const char *subject, int length);

// Frees an expression of match_regex_compile; null is ignored.
void match_regex_free(match_regex *regex);
