// SPDX-License-Identifier: MIT
// The cycle's documents on arbitrary bytes: the answer and timestamp
// readers end with a result, and a stamp taken from any text is quoted so
// that it can leave neither the JSON string nor the shell's single quotes.
#include "tests/fuzz/fuzz_target.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sync/documents.h"
#include "sync/stamp_quote.h"
#include "tests/fuzz/memory_file.h"

namespace {

const memory_file &document() {
  static memory_file file;
  return file;
}

// What the quoted form may hold: no double quote, backslash or control
// byte outside an escape, and single quotes only as '\''.
void check_quoted(const char *quoted) {
  for (const char *p = quoted; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\\') {
      if (strncmp(p, "\\u00", 4) == 0) {
        p += 5;
        continue;
      }
      abort();
    }
    if (c == '\'') {
      if (strncmp(p, "'\\''", 4) != 0) abort();
      p += 3;
      continue;
    }
    if (c == '"' || c < 0x20) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  document().fill(data, size);

  int32_t enabled = -1;
  char stamp[64];
  if (response_summary_read(document().path(), &enabled, stamp, sizeof stamp) == 0) {
    if (enabled != 0 && enabled != 1) abort();
    if (memchr(stamp, '\0', sizeof stamp) == nullptr) abort();
  }
  (void)timestamp_file_read(document().path(), stamp, sizeof stamp);

  // A stamp is at most 63 characters of any bytes but NUL.
  char text[64] = {};
  size_t length = 0;
  for (size_t i = 0; i < size && length < 63; ++i)
    if (data[i] != 0) text[length++] = static_cast<char>(data[i]);
  char quoted[STAMP_QUOTED_SIZE];
  if (stamp_quote(text, quoted, sizeof quoted) != 0) abort();  // the worst case always fits
  check_quoted(quoted);
  return 0;
}
