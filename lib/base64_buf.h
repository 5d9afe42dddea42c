// SPDX-License-Identifier: MIT
// Decoding of base64 texts into counted buffers.
//
// The decoded bytes are followed by one NUL that the count leaves out, so a
// decoded text also reads as a NUL-terminated text. Used by the payload
// decoder and by the match rules whose pattern arrives in base64.
#pragma once

#include "len_buf.h"

// Decodes the NUL-terminated base64 text into the empty buf. 0: buf holds
// the decoded count and its bytes with a NUL behind them (a single NUL for
// an empty text); the caller releases buf. -1: a null argument (buf then
// untouched), a character outside the alphabet, a misplaced "=", a text
// that decodes to another size than the library predicted for it (as an
// unpadded tail does), a result too large for a counted buffer, or no
// memory ("Error no memory" at LOG_INFO while log_verbose is set); buf is
// then empty.
[[nodiscard]] int base64_to_buf(len_buf *buf, const char *text);
