// SPDX-License-Identifier: MIT
#include "lib/len_buf.h"

#include <syslog.h>

#include <cstdlib>
#include <cstring>

#include "lib/ascii_case.h"
#include "lib/log_verbose.h"

int len_buf_set_text(len_buf *buf, const char *text) {
  if (buf == nullptr || text == nullptr) return -1;
  size_t count = strlen(text);
  // The count is a signed 32-bit value, and callers index the NUL at
  // bytes[length]: a text must leave room for length + 1 in that type.
  if (count > INT32_MAX - 1) {
    buf->bytes = nullptr;
    return -1;
  }
  buf->bytes = static_cast<char *>(malloc(count + 1));
  if (buf->bytes == nullptr) return -1;
  memcpy(buf->bytes, text, count + 1);
  buf->length = static_cast<int32_t>(count);
  return 0;
}

int len_buf_assign(const len_buf *src, len_buf *dst) {
  if (src == nullptr || dst == nullptr) return 0;
  dst->length = src->length;
  dst->bytes = src->bytes;
  return 0;
}

int len_buf_copy(const len_buf *src, len_buf *dst) {
  if (src == nullptr || dst == nullptr || src->bytes == nullptr || dst->bytes == nullptr ||
      src->length < 0)
    return 0;
  memmove(dst->bytes, src->bytes, static_cast<size_t>(src->length));
  dst->length = src->length;
  return 0;
}

int len_buf_is_set(const len_buf *buf) {
  if (buf != nullptr && buf->length != 0 && buf->bytes != nullptr) return -1;
  return 0;
}

// Shared checks of the two comparisons: true when the bytes must be
// compared, otherwise false with the final result (0 or -1) in *result.
// A negative count is refused: it cannot describe any bytes.
static bool comparable(const len_buf *a, const len_buf *b, int *result) {
  *result = -1;
  if (a == nullptr || b == nullptr) return false;
  if (a->length != b->length) return false;
  if (a->length == 0) {
    *result = 0;
    return false;
  }
  if (a->length < 0 || a->bytes == nullptr || b->bytes == nullptr) return false;
  return true;
}

int len_buf_casecmp(const len_buf *a, const len_buf *b) {
  int result = -1;
  if (!comparable(a, b, &result)) return result;
  return ascii_ncasecmp(a->bytes, b->bytes, static_cast<size_t>(a->length)) == 0 ? 0 : -1;
}

int len_buf_cmp(const len_buf *a, const len_buf *b) {
  int result = -1;
  if (!comparable(a, b, &result)) return result;
  return memcmp(a->bytes, b->bytes, static_cast<size_t>(a->length)) == 0 ? 0 : -1;
}

void len_buf_dump(const len_buf *buf, const char *label) {
  if (!log_verbose) return;
  if (label == nullptr) label = "";
  // A negative count would turn the precision off and read to any NUL.
  if (len_buf_is_set(buf) != 0 && buf->length > 0) {
    syslog(LOG_INFO, "%sstring: %.*s(%d)\n", label, static_cast<int>(buf->length), buf->bytes,
           static_cast<int>(buf->length));
  } else {
    syslog(LOG_INFO, "%sstring empty.\n", label);
  }
}

void len_buf_release(len_buf *buf) {
  if (buf == nullptr) return;
  free(buf->bytes);
  buf->bytes = nullptr;
  buf->length = 0;
}
