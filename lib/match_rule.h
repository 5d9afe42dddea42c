// SPDX-License-Identifier: MIT
// Match rules: a pattern with a mode that decides whether a subject text
// matches it as a substring, a prefix, a suffix, the whole text or a PCRE
// regular expression (classic PCRE or PCRE2, chosen when the library is
// built; match rules behave the same over both).
//
// Modes 0 to 3 compare as NUL-terminated text, folding only the ASCII
// letters; mode 4 runs the compiled expression (no option flags, so case
// counts) over the subject's explicit count, NUL bytes included. Matching
// copies nothing and, but for the cases below, allocates nothing: the byte
// after the subject's counted bytes is made NUL for the duration of a call
// and then restored. A rule is built
// from a text or from a JSON object {"match", "mode", "encode"}; the rule
// owns its pattern bytes and compiled expression and keeps no reference to
// what it was built from.
#pragma once

#include <json-c/json.h>

#include <cstdint>

#include "len_buf.h"

enum match_mode : int32_t {
  MATCH_INCLUDE = 0,
  MATCH_PREFIX = 1,
  MATCH_SUFFIX = 2,
  MATCH_ALL = 3,
  MATCH_REGULAR = 4,
};

// A compiled expression of the library's regular-expression backend (a
// PCRE pcre or a PCRE2 pcre2_code); opaque to callers.
struct match_regex;

// A caller-provided record, zero-filled before it is built.
struct match_rule {
  len_buf pattern;     // owned by the rule
  int32_t mode;        // 0 to 4 once built
  match_regex *regex;  // owned by the rule; null when none was compiled
};

// "include", "prefix", "suffix", "all", "regular", or "not support" for
// every other value (negative numbers too). A constant text.
[[nodiscard]] const char *match_mode_name(uint32_t mode);

// 0 when subject matches. -1 for a null subject or pattern, a subject or (in
// modes 0 to 3) a pattern that is empty or has a negative count, a pattern
// longer than the subject, a null regex in mode 4, an unknown mode, a miss
// in modes 0 and 4 and any PCRE run-time error, among them a match that
// backtracks deeper than its bound (500 levels on classic PCRE, 2000 on
// PCRE2: a repeated group over a subject of thousands of characters); in
// modes 1 to 3 a miss gives the non-zero result of the case-insensitive
// comparison. Callers test for 0 only. The subject's storage must hold
// length + 1 bytes; the byte at bytes[length] holds its earlier value again
// on return.
//
// Memory of a mode-4 match: classic PCRE recurses on the machine stack, up
// to about 256 KiB at its bound, and takes a temporary vector from the heap
// for an expression that refers back to its fourth or a later group. PCRE2
// needs a few KiB of stack (20 KiB more before release 10.41) and keeps
// its backtracking frames with the compiled expression (up to 64 KiB, or ten
// frames of an expression with very many groups): a match that fits them
// allocates nothing; a deeper one takes a block of its own and frees it
// before it returns. Either way the expression is matched by one thread at
// a time.
[[nodiscard]] int match_text(len_buf *subject, const match_regex *regex, const len_buf *pattern,
                             uint8_t mode);

// match_text with the rule's regex, pattern and the low 8 bits of its mode.
[[nodiscard]] int match_rule_test(const match_rule *rule, len_buf *subject);

// Builds the empty rule from text in mode 0 to 4; encoding null means plain
// text, a name beginning with "base64" in any case means base64. The
// pattern is compiled as a regular expression in every mode. 0, or -1: a
// null rule or text or a mode out of range (rule untouched), invalid base64,
// no memory, or a pattern that does not compile ("PCRE compilation failed at
// offset %d: %s\n" at LOG_INFO while log_verbose is set); after a failure
// the rule holds no pattern and no expression, only its mode may be set.
[[nodiscard]] int match_rule_from_text(match_rule *rule, const char *text, int32_t mode,
                                       const char *encoding);

// Builds the empty rule from a JSON object: "match" (required, its text
// form), "mode" (optional integer 0 to 4, default 0), "encode" (optional,
// "base64" in any case at its start means base64); members holding null
// count as absent. Only mode 4 compiles an expression. 0, or -1: a null
// rule, no "match" (rule untouched), a mode out of range (mode left 0),
// invalid base64, no memory, or an expression that does not compile ("PCRE
// compilation failed at offset %d: %s\n" at LOG_WARNING, always).
[[nodiscard]] int match_rule_from_json(match_rule *rule, const json_object *object);

// Verbose lines that show the rule's pattern (LOG_INFO) and mode (LOG_DEBUG).
void match_rule_dump(const match_rule *rule);

// Frees the pattern and the compiled expression and leaves both empty. A
// null rule is ignored; a rule released twice is released once.
void match_rule_release(match_rule *rule);
