// SPDX-License-Identifier: MIT
#include "lib/match_rule.h"

#include <syslog.h>

#include <cstring>

#include "lib/ascii_case.h"
#include "lib/base64_buf.h"
#include "lib/json_doc.h"
#include "lib/log_verbose.h"
#include "lib/match_regex.h"

namespace {

bool has_bytes(const len_buf *buf) {
  return buf->length > 0 && buf->bytes != nullptr;
}

bool names_base64(const char *encoding) {
  return encoding != nullptr && ascii_ncasecmp(encoding, "base64", 6) == 0;
}

// The text comparisons of modes 0 to 3; the subject is NUL-terminated at its
// count while they run.
int compare_text(const len_buf *subject, const len_buf *pattern, uint8_t mode) {
  const auto subject_count = static_cast<size_t>(subject->length);
  const auto pattern_count = static_cast<size_t>(pattern->length);
  switch (mode) {
    case MATCH_INCLUDE: {
      // The pattern reads as text up to its NUL, never beyond its count.
      const size_t needle = strnlen(pattern->bytes, pattern_count);
      return ascii_casestr(subject->bytes, pattern->bytes, needle) != nullptr ? 0 : -1;
    }
    case MATCH_PREFIX:
      return ascii_ncasecmp(subject->bytes, pattern->bytes, pattern_count);
    case MATCH_SUFFIX:
      return ascii_ncasecmp(subject->bytes + (subject_count - pattern_count), pattern->bytes,
                            pattern_count);
    case MATCH_ALL:
      if (subject_count != pattern_count) return -1;
      return ascii_ncasecmp(subject->bytes, pattern->bytes, subject_count);
    default:
      return -1;
  }
}

// Moves a freshly decoded or copied pattern into the rule. 0 or -1; on -1
// the rule holds no pattern bytes.
int fill_pattern(match_rule *rule, const char *text, bool base64) {
  if (base64) {
    len_buf decoded{};
    if (base64_to_buf(&decoded, text) != 0) {
      len_buf_release(&decoded);
      return -1;
    }
    rule->pattern = decoded;
    return 0;
  }
  if (len_buf_set_text(&rule->pattern, text) != 0 || rule->pattern.bytes == nullptr) {
    rule->pattern.bytes = nullptr;
    rule->pattern.length = 0;
    return -1;
  }
  return 0;
}

// Compiles the rule's pattern (as NUL-terminated text, PCRE's built-in
// tables, no options). On failure logs at priority when log_always or
// log_verbose is set, releases the pattern and returns -1.
int compile_pattern(match_rule *rule, int priority, bool log_always) {
  char error[MATCH_REGEX_ERROR_SIZE] = "";
  int offset = 0;
  match_regex *compiled = match_regex_compile(rule->pattern.bytes, &offset, error);
  if (compiled == nullptr) {
    if (log_always || log_verbose)
      syslog(priority, "PCRE compilation failed at offset %d: %s\n", offset, error);
    len_buf_release(&rule->pattern);
    return -1;
  }
  rule->regex = compiled;
  return 0;
}

}  // namespace

const char *match_mode_name(uint32_t mode) {
  switch (mode) {
    case MATCH_INCLUDE:
      return "include";
    case MATCH_PREFIX:
      return "prefix";
    case MATCH_SUFFIX:
      return "suffix";
    case MATCH_ALL:
      return "all";
    case MATCH_REGULAR:
      return "regular";
    default:
      return "not support";
  }
}

int match_text(len_buf *subject, const match_regex *regex, const len_buf *pattern, uint8_t mode) {
  if (subject == nullptr || pattern == nullptr) return -1;
  if (!has_bytes(subject)) return -1;
  if (mode == MATCH_REGULAR) {
    if (regex == nullptr) return -1;
  } else if (!has_bytes(pattern) || subject->length < pattern->length) {
    return -1;
  }

  // Terminate the subject in place; the byte goes back on every path below.
  char *const end = subject->bytes + subject->length;
  const char saved = *end;
  *end = '\0';

  int result;
  if (mode == MATCH_REGULAR) {
    result = match_regex_exec(regex, subject->bytes, subject->length);
  } else {
    result = compare_text(subject, pattern, mode);
  }

  *end = saved;
  return result;
}

int match_rule_test(const match_rule *rule, len_buf *subject) {
  if (rule == nullptr) return -1;
  return match_text(subject, rule->regex, &rule->pattern, static_cast<uint8_t>(rule->mode & 0xFF));
}

int match_rule_from_text(match_rule *rule, const char *text, int32_t mode, const char *encoding) {
  if (rule == nullptr || text == nullptr || mode < MATCH_INCLUDE || mode > MATCH_REGULAR) return -1;
  rule->mode = mode;
  if (fill_pattern(rule, text, names_base64(encoding)) != 0) return -1;
  return compile_pattern(rule, LOG_INFO, false);
}

int match_rule_from_json(match_rule *rule, const json_object *object) {
  if (rule == nullptr) return -1;
  json_object *match = json_object_object_get(object, "match");
  if (match == nullptr) return -1;
  const char *text = json_object_get_string(match);
  if (text == nullptr) return -1;

  rule->mode = MATCH_INCLUDE;
  if (json_object *mode = json_object_object_get(object, "mode"); mode != nullptr) {
    // json-c clamps values outside 32 bits, so they are refused here too.
    const int value = json_int_value(mode);
    if (value < MATCH_INCLUDE || value > MATCH_REGULAR) return -1;
    rule->mode = value;
  }

  json_object *encode = json_object_object_get(object, "encode");
  const bool base64 = encode != nullptr && names_base64(json_object_get_string(encode));
  if (fill_pattern(rule, text, base64) != 0) return -1;

  if (rule->mode != MATCH_REGULAR) return 0;
  return compile_pattern(rule, LOG_WARNING, true);
}

void match_rule_dump(const match_rule *rule) {
  if (rule == nullptr) return;
  len_buf_dump(&rule->pattern, "\t");
  if (log_verbose)
    syslog(LOG_DEBUG, "\tmode: %s\n", match_mode_name(static_cast<uint32_t>(rule->mode)));
}

void match_rule_release(match_rule *rule) {
  if (rule == nullptr) return;
  len_buf_release(&rule->pattern);
  match_regex_free(rule->regex);
  // Reset, so that a second release or a rebuild that compiles nothing
  // cannot free the expression again.
  rule->regex = nullptr;
}
