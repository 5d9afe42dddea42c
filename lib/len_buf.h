// SPDX-License-Identifier: MIT
// len_buf: the support library's counted byte buffer.
//
// A signed 32-bit count followed by a pointer to heap bytes from the C
// allocator that the buffer owns. Buffers filled from a text or from base64
// keep one NUL byte after the counted bytes, so they also read as text. A
// buffer is "set" when it is supplied, its count is not 0 and it has bytes;
// every other buffer is "empty".
#pragma once

#include <cstdint>

struct len_buf {
  int32_t length;
  char *bytes;
};

// Fills the (empty) buffer with a heap copy of text and its NUL. 0, or -1
// when the copy cannot be allocated or the text is longer than
// INT32_MAX - 1 (bytes is then null, length unchanged). Earlier bytes are
// not released.
[[nodiscard]] int len_buf_set_text(len_buf *buf, const char *text);

// dst refers to src's bytes afterwards; exactly one of the two releases them.
int len_buf_assign(const len_buf *src, len_buf *dst);

// Copies src's counted bytes into the storage dst already owns and sets
// dst's count. Changes nothing when a record or a bytes pointer is missing.
// Always 0; allocates nothing and appends no NUL.
int len_buf_copy(const len_buf *src, len_buf *dst);

// -1 when buf is set, 0 when it is empty (-1 stands for true here).
[[nodiscard]] int len_buf_is_set(const len_buf *buf);

// Equality ignoring the case of ASCII letters only, stopping as equal at a
// shared NUL; 0 when equal (also for two counts of 0), -1 otherwise and for
// a negative count.
[[nodiscard]] int len_buf_casecmp(const len_buf *a, const len_buf *b);

// Byte-exact equality of the counted bytes; 0 when equal (also for two
// counts of 0), -1 otherwise and for a negative count.
[[nodiscard]] int len_buf_cmp(const len_buf *a, const len_buf *b);

// One LOG_INFO line showing the buffer, only while log_verbose is set; a
// buffer that is empty or has a negative count shows as empty.
void len_buf_dump(const len_buf *buf, const char *label);

// Frees the bytes and leaves the buffer empty; null and released buffers
// are ignored.
void len_buf_release(len_buf *buf);
