// SPDX-License-Identifier: MIT
#include "lib/base64_buf.h"

#include <mbedtls/base64.h>
#include <syslog.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lib/log_verbose.h"

int base64_to_buf(len_buf *buf, const char *text) {
  if (buf == nullptr || text == nullptr) return -1;
  const size_t text_length = strlen(text);
  // Older releases of the library compute the size as text length * 6 in a
  // size_t; a text that no counted buffer could take is refused before.
  if (text_length > static_cast<size_t>(INT32_MAX) || text_length > SIZE_MAX / 8) {
    buf->bytes = nullptr;
    buf->length = 0;
    return -1;
  }
  const auto *source = reinterpret_cast<const unsigned char *>(text);

  // Size query: the library reports the size it asks for; it leaves 0 for
  // a text that it rejects outright and for an empty text. The result is
  // looked at in the decoding call below.
  size_t predicted = 0;
  const int query = mbedtls_base64_decode(nullptr, 0, &predicted, source, text_length);
  (void)query;
  if (predicted > static_cast<size_t>(INT32_MAX) - 1) {
    buf->bytes = nullptr;
    buf->length = 0;
    return -1;
  }

  // One extra zero-filled byte: the NUL behind the decoded bytes.
  buf->length = static_cast<int32_t>(predicted);
  buf->bytes = static_cast<char *>(calloc(predicted + 1, 1));
  if (buf->bytes == nullptr) {
    if (log_verbose) syslog(LOG_INFO, "Error no memory");
    buf->length = 0;
    return -1;
  }

  size_t written = predicted;
  const int result = mbedtls_base64_decode(reinterpret_cast<unsigned char *>(buf->bytes), predicted,
                                           &written, source, text_length);
  // Only a text that fills exactly the predicted size is accepted.
  if (result != 0 || written != predicted) {
    len_buf_release(buf);
    return -1;
  }
  return 0;
}
