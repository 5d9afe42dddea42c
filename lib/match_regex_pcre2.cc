// SPDX-License-Identifier: MIT
// PCRE2 (libpcre2-8) behind match_regex.h.
//
// pcre2_match keeps its backtracking frames in heap memory that belongs to
// the match data block and is reused by the block's next match. Each
// expression keeps a block of its own, whose first frames (20 KiB) are taken
// when it is compiled and which may grow to KEPT_FRAMES_KIB as its matches
// need: a match that fits what the block holds allocates nothing. One that
// needs more is run again with a block of its own, bounded by depth only,
// which is freed at once; so an expression with many groups or a long
// repeated group matches what classic PCRE matches, and the memory kept
// with a rule stays small.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdint>
#include <cstdlib>

#include "lib/match_regex.h"

namespace {

// Backtracking deeper than this ends as a miss: four times the classic
// backend's recursion limit, whose levels are at least as many as PCRE2's
// frames for the same match.
constexpr uint32_t DEPTH_LIMIT = 2000;

// The frames an expression keeps: some 500 levels of an expression without
// groups, or ten frames where a frame is larger (PCRE2's first block).
constexpr size_t KEPT_FRAMES_KIB = 64;
constexpr size_t FIRST_FRAMES_COUNT = 10;

// Three pairs of offsets, as classic PCRE's vector of nine holds.
constexpr uint32_t OFFSET_PAIRS = 3;

}  // namespace

struct match_regex {
  pcre2_code *code;
  pcre2_match_data *kept;        // with its first frames, for every match
  pcre2_match_context *bounded;  // heap limit: what the kept block may grow to
  pcre2_match_context *deep;     // depth limit only
};

namespace {

void parts_free(match_regex *regex) {
  pcre2_match_context_free(regex->deep);
  pcre2_match_context_free(regex->bounded);
  pcre2_match_data_free(regex->kept);
  pcre2_code_free(regex->code);
  free(regex);
}

// 0 for a match (also when the offsets did not fit every capture), the
// library's error code otherwise.
int match_run(const match_regex *regex, const char *subject, int length, pcre2_match_data *data,
              pcre2_match_context *context) {
  const int found = pcre2_match(regex->code, reinterpret_cast<PCRE2_SPTR>(subject),
                                static_cast<PCRE2_SIZE>(length), 0, 0, data, context);
  return found >= 0 ? 0 : found;
}

}  // namespace

match_regex *match_regex_compile(const char *pattern, int *error_offset,
                                 char (&error)[MATCH_REGEX_ERROR_SIZE]) {
  int code = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code *compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                                       0, &code, &offset, nullptr);
  *error_offset = 0;
  if (compiled == nullptr) {
    // Offsets are below the pattern's length, which comes from a len_buf.
    *error_offset = offset <= INT32_MAX ? static_cast<int>(offset) : INT32_MAX;
    // A message cut to the buffer is still NUL-terminated.
    if (pcre2_get_error_message(code, reinterpret_cast<PCRE2_UCHAR *>(error), sizeof error) ==
        PCRE2_ERROR_BADDATA)
      error[0] = '\0';
    return nullptr;
  }
  auto *regex = static_cast<match_regex *>(calloc(1, sizeof(match_regex)));
  if (regex == nullptr) {
    pcre2_code_free(compiled);
    pcre2_get_error_message(PCRE2_ERROR_NOMEMORY, reinterpret_cast<PCRE2_UCHAR *>(error),
                            sizeof error);
    return nullptr;
  }
  regex->code = compiled;
  regex->kept = pcre2_match_data_create(OFFSET_PAIRS, nullptr);
  regex->bounded = pcre2_match_context_create(nullptr);
  regex->deep = pcre2_match_context_create(nullptr);
  size_t frame_size = 0;
  if (regex->kept == nullptr || regex->bounded == nullptr || regex->deep == nullptr ||
      pcre2_pattern_info(compiled, PCRE2_INFO_FRAMESIZE, &frame_size) != 0) {
    parts_free(regex);
    pcre2_get_error_message(PCRE2_ERROR_NOMEMORY, reinterpret_cast<PCRE2_UCHAR *>(error),
                            sizeof error);
    return nullptr;
  }
  size_t kept_kib = (frame_size * FIRST_FRAMES_COUNT + 1023) / 1024;
  if (kept_kib < KEPT_FRAMES_KIB) kept_kib = KEPT_FRAMES_KIB;
  pcre2_set_heap_limit(regex->bounded, static_cast<uint32_t>(kept_kib));
  pcre2_set_depth_limit(regex->bounded, DEPTH_LIMIT);
  pcre2_set_depth_limit(regex->deep, DEPTH_LIMIT);
  // The kept block takes its first frames now, not in the first match.
  if (match_run(regex, "", 0, regex->kept, regex->bounded) == PCRE2_ERROR_NOMEMORY) {
    parts_free(regex);
    pcre2_get_error_message(PCRE2_ERROR_NOMEMORY, reinterpret_cast<PCRE2_UCHAR *>(error),
                            sizeof error);
    return nullptr;
  }
  return regex;
}

int match_regex_exec(const match_regex *regex, const char *subject, int length) {
  int result = match_run(regex, subject, length, regex->kept, regex->bounded);
  if (result == PCRE2_ERROR_HEAPLIMIT) {
    pcre2_match_data *data = pcre2_match_data_create(OFFSET_PAIRS, nullptr);
    result = data == nullptr ? -1 : match_run(regex, subject, length, data, regex->deep);
    pcre2_match_data_free(data);
  }
  return result == 0 ? 0 : -1;
}

void match_regex_free(match_regex *regex) {
  if (regex != nullptr) parts_free(regex);
}
