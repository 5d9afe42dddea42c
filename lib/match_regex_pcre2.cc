// PCRE2 (libpcre2-8) behind match_regex.h. A pcre2_code is the expression
// itself.
//
// pcre2_match keeps its backtracking frames in heap memory that it takes
// through the match data's allocator. Here every match gets a general
// context whose allocator hands out pieces of a fixed arena on the
// caller's stack, for the match data, the match context and the frames, and
// the heap limit keeps the frames inside that arena: a match never touches
// the heap, and one that would need more frames than the arena holds ends
// as a miss, like any other run-time error.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstddef>
#include <cstdint>

#include "lib/match_regex.h"

namespace {

// PCRE2 starts with 20 KiB of frames (more for expressions with many
// groups) and doubles them while its heap limit allows; the old frames are
// still held while the doubled ones are filled. The limit lets it grow
// once, the arena holds both generations and the small records.
constexpr uint32_t kFrameLimitKiB = 40;
constexpr size_t kArenaSize = 64 * 1024;

struct stack_arena {
  alignas(std::max_align_t) unsigned char bytes[kArenaSize];
  size_t used;
};

void *arena_malloc(size_t size, void *data) {
  auto *arena = static_cast<stack_arena *>(data);
  constexpr size_t align = alignof(std::max_align_t);
  const size_t start = (arena->used + align - 1) / align * align;
  if (start > kArenaSize || size > kArenaSize - start) return nullptr;
  arena->used = start + size;
  return arena->bytes + start;
}

// The arena goes away with the caller's stack frame: nothing to give back
// piece by piece.
void arena_free(void *, void *) {}

pcre2_code *as_code(match_regex *regex) {
  return reinterpret_cast<pcre2_code *>(regex);
}
const pcre2_code *as_code(const match_regex *regex) {
  return reinterpret_cast<const pcre2_code *>(regex);
}

}  // namespace

match_regex *match_regex_compile(const char *pattern, int *error_offset,
                                 char (&error)[kMatchRegexErrorSize]) {
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
  }
  return reinterpret_cast<match_regex *>(compiled);
}

int match_regex_exec(const match_regex *regex, const char *subject, int length) {
  stack_arena arena;
  arena.used = 0;
  pcre2_general_context *general = pcre2_general_context_create(arena_malloc, arena_free, &arena);
  if (general == nullptr) return -1;
  pcre2_match_context *context = pcre2_match_context_create(general);
  // Three pairs of offsets, as classic PCRE's vector of nine holds.
  pcre2_match_data *data = pcre2_match_data_create(3, general);
  int result = -1;
  if (context != nullptr && data != nullptr) {
    pcre2_set_heap_limit(context, kFrameLimitKiB);
    // 0 means the offsets did not fit every capture: still a match.
    result = pcre2_match(as_code(regex), reinterpret_cast<PCRE2_SPTR>(subject),
                         static_cast<PCRE2_SIZE>(length), 0, 0, data, context) >= 0
                 ? 0
                 : -1;
  }
  pcre2_match_data_free(data);
  pcre2_match_context_free(context);
  pcre2_general_context_free(general);
  return result;
}

void match_regex_free(match_regex *regex) {
  pcre2_code_free(as_code(regex));
}
