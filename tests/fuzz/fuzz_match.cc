// SPDX-License-Identifier: MIT
// Match rules built from arbitrary texts and tested against arbitrary
// subjects. The input is a mode byte, an encoding byte, the pattern text up
// to the first NUL and the subject after it. A rule that is built holds a
// pattern and an expression, one that is not holds neither; matching
// restores the byte after the subject; and in modes 0 to 3 the result
// agrees with a plain reading of the modes: substring, prefix, suffix or
// whole text, ASCII letters folded, the subject read as text.
#include "tests/fuzz/fuzz_target.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/len_buf.h"
#include "lib/match_rule.h"
#include "tests/support/log_capture.h"

namespace {

char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equal_folded(const char *a, const char *b, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

// Whether subject (count bytes, read as text up to a NUL) matches the NUL-free
// pattern in mode 0 to 3.
bool text_matches(const char *subject, size_t count, const std::string &pattern, int mode) {
  const size_t length = pattern.size();
  if (count == 0 || length == 0 || count < length) return false;
  const size_t text = strnlen(subject, count);
  switch (mode) {
    case MATCH_INCLUDE:
      for (size_t at = 0; at + length <= text; ++at)
        if (equal_folded(subject + at, pattern.data(), length)) return true;
      return false;
    case MATCH_PREFIX:
      return length <= text && equal_folded(subject, pattern.data(), length);
    case MATCH_SUFFIX:
      // The last pattern-length counted bytes; a NUL among them never matches.
      return equal_folded(subject + count - length, pattern.data(), length);
    default:
      return count == length && equal_folded(subject, pattern.data(), length);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2 || size > 2 + 256 + 1 + 512) return 0;
  static const int32_t modes[] = {0, 1, 2, 3, 4, -1, 5, 256};
  static const char *const encodings[] = {nullptr, "base64", "BASE64url", "plain"};
  const int32_t mode = modes[data[0] % 8];
  const char *encoding = encodings[data[1] % 4];
  const char *rest = reinterpret_cast<const char *>(data + 2);
  const size_t rest_size = size - 2;
  const size_t pattern_size = strnlen(rest, rest_size);
  const std::string text(rest, pattern_size);
  const size_t subject_offset = pattern_size < rest_size ? pattern_size + 1 : rest_size;
  const size_t count = rest_size - subject_offset;

  log_capture_clear();
  match_rule rule{};
  const int built = match_rule_from_text(&rule, text.c_str(), mode, encoding);
  if (built != 0) {
    if (rule.pattern.bytes != nullptr || rule.pattern.length != 0 || rule.regex != nullptr) abort();
    match_rule_release(&rule);
    return 0;
  }
  if (rule.mode != mode || rule.regex == nullptr || rule.pattern.bytes == nullptr) abort();
  if (rule.pattern.bytes[rule.pattern.length] != '\0') abort();

  // Exactly the subject's bytes and one more, whose value must come back.
  len_buf subject{static_cast<int32_t>(count), static_cast<char *>(malloc(count + 1))};
  if (subject.bytes == nullptr) abort();
  if (count > 0) memcpy(subject.bytes, rest + subject_offset, count);
  subject.bytes[count] = '#';
  const int result = match_rule_test(&rule, &subject);
  if (subject.bytes[count] != '#') abort();
  if (memcmp(subject.bytes, rest + subject_offset, count) != 0) abort();

  const auto pattern_length = static_cast<size_t>(rule.pattern.length);
  if (mode != MATCH_REGULAR && strnlen(rule.pattern.bytes, pattern_length) == pattern_length) {
    const std::string pattern(rule.pattern.bytes, pattern_length);
    if ((result == 0) != text_matches(subject.bytes, count, pattern, mode)) abort();
  } else if (mode == MATCH_REGULAR && result != 0 && result != -1) {
    abort();
  }
  free(subject.bytes);
  match_rule_release(&rule);
  if (rule.regex != nullptr || rule.pattern.bytes != nullptr) abort();
  return 0;
}
