// SPDX-License-Identifier: MIT
// Classic PCRE (libpcre) behind match_regex.h. A pcre handle is the
// expression itself.
#include <pcre.h>

#include <cstdio>

#include "lib/match_regex.h"

namespace {

// The PCRE result vector: three pairs and PCRE's working third, on the
// stack. An expression that refers back to its fourth or a later group
// makes PCRE take a temporary vector of its own from the heap.
constexpr int VECTOR_SIZE = 9;

// PCRE backtracks by recursion on the machine stack, some hundred bytes a
// level: a long subject under a repeated group would overflow the stack
// and end the process. Past this depth (about 256 KiB of stack) the match
// fails instead, as a miss.
constexpr unsigned long RECURSION_LIMIT = 500;

pcre *as_pcre(match_regex *regex) {
  return reinterpret_cast<pcre *>(regex);
}
const pcre *as_pcre(const match_regex *regex) {
  return reinterpret_cast<const pcre *>(regex);
}

}  // namespace

match_regex *match_regex_compile(const char *pattern, int *error_offset,
                                 char (&error)[MATCH_REGEX_ERROR_SIZE]) {
  const char *text = nullptr;
  *error_offset = 0;
  pcre *compiled = pcre_compile(pattern, 0, &text, error_offset, nullptr);
  if (compiled == nullptr) snprintf(error, sizeof error, "%s", text != nullptr ? text : "");
  return reinterpret_cast<match_regex *>(compiled);
}

int match_regex_exec(const match_regex *regex, const char *subject, int length) {
  int vector[VECTOR_SIZE] = {};
  // The recursion limit only: no study data.
  pcre_extra limits{};
  limits.flags = PCRE_EXTRA_MATCH_LIMIT_RECURSION;
  limits.match_limit_recursion = RECURSION_LIMIT;
  // 0 means the vector was too small for every capture: still a match.
  const int found = pcre_exec(as_pcre(regex), &limits, subject, length, 0, 0, vector, VECTOR_SIZE);
  return found >= 0 ? 0 : -1;
}

void match_regex_free(match_regex *regex) {
  if (regex != nullptr) pcre_free(as_pcre(regex));
}
