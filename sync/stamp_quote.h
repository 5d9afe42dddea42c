// SPDX-License-Identifier: MIT
// Making a version stamp safe inside the cycle's shell command lines.
//
// The stamp stands between the double quotes of a JSON string, which in
// turn stands between the single quotes of a shell command line. A stamp
// without a single quote, a double quote, a backslash or a control
// character is copied unchanged.
#pragma once

#include <cstddef>

// The longest quoted form of a stamp of at most 63 characters: each
// character may become a six-character JSON escape.
inline constexpr size_t STAMP_QUOTED_SIZE = 63 * 6 + 1;

// Writes the quoted form of stamp into out: a double quote, a backslash
// and each control character become a JSON \u00XX escape (an escape that
// no echo interprets), a single quote becomes '\'' (leaving and re-entering
// the shell's quoting). 0 on success, -1 when the result does not fit size
// bytes; out then holds the empty text.
[[nodiscard]] int stamp_quote(const char *stamp, char *out, size_t size);
