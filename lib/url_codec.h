// SPDX-License-Identifier: MIT
// URL form encoding of counted byte buffers, and its self-check.
//
// Letters, digits, "-", "." and "_" stay as they are, a space becomes "+",
// every other byte "%" and two upper-case hexadecimal digits. Decoding
// works in place, since it never lengthens the text, and accepts digits of
// either case. Character classes are plain ASCII, whatever the locale.
#pragma once

#include <cstdint>

#include "len_buf.h"

// A new NUL-terminated heap text (the caller frees it with free()) holding
// the encoded count bytes of src; when out_length is given it receives the
// text's length. Null for a null src, a negative count, a positive count
// without bytes, a count whose encoding (3 x count + 1) does not fit in 32
// bits, or no memory; out_length is then not written. Allocates once.
[[nodiscard]] char *url_encode(const len_buf *src, int32_t *out_length);

// Decodes the counted bytes of buf in place and writes a NUL after them;
// returns the decoded count and leaves buf->length unchanged (a caller that
// needs it stores the result). The storage must hold length + 1 bytes. A
// "%" that does not start two hexadecimal digits stays as it is. -1 for a
// null buf, a negative count or a positive count without bytes; 0 for a
// count of 0 without bytes (nothing written). Allocates nothing.
[[nodiscard]] int32_t url_decode(len_buf *buf);

// The value 0 to 255 of the two hexadecimal digits at pair; the caller
// makes sure both are hexadecimal digits.
[[nodiscard]] int hex_pair_value(const char *pair);

// Turns A to Z among the first count bytes of text into a to z, in place;
// a null text or a count of 0 or less does nothing.
void str_lower(char *text, int32_t count);

// Encodes a fixed sample, decodes the result in place, prints the lines
// "ori:", "enc:" and "dec:" with the three texts and the verdict "dec equal
// ori" or "dec not equal ori" on standard output, and ends the process with
// status 0. When the encoder has no memory, only "ori:" and the verdict
// "dec not equal ori" are printed.
[[noreturn]] void url_codec_selftest();
