// SPDX-License-Identifier: MIT
// A program built on the installed quorvel support library, outside the
// project's tree: counted buffers, the URL codec, a match rule and the HTTP
// piece's body collector. Prints what it did and exits with status 0 when
// every result is the expected one.
#include <quorvel/http_transfer.h>
#include <quorvel/len_buf.h>
#include <quorvel/log_verbose.h>
#include <quorvel/match_rule.h>
#include <quorvel/url_codec.h>
#include <quorvel/version.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if QUORVEL_VERSION < QUORVEL_VERSION_OF(0, 1, 0)
#error "this program needs quorvel 0.1 or later"
#endif

// The library's verbose switch: each program defines it once.
volatile sig_atomic_t log_verbose = 0;

namespace {

int failures = 0;

void check(bool ok, const char *what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

}  // namespace

int main() {
  std::printf("quorvel %s\n", QUORVEL_VERSION_STRING);

  len_buf text = {};
  check(len_buf_set_text(&text, "a b&c") == 0, "len_buf_set_text");
  char *encoded = url_encode(&text, nullptr);
  check(encoded != nullptr && std::strcmp(encoded, "a+b%26c") == 0, "url_encode gives a+b%26c");
  std::free(encoded);

  match_rule rule = {};
  check(match_rule_from_text(&rule, "^a [a-z]&", MATCH_REGULAR, nullptr) == 0,
        "match_rule_from_text compiles a regular expression");
  check(match_rule_test(&rule, &text) == 0, "the rule matches");
  match_rule_release(&rule);

  len_buf body = {};
  char chunk[] = "answer";
  check(response_append(chunk, 1, 6, &body) == 6 && body.length == 6 &&
            std::strcmp(body.bytes, "answer") == 0,
        "response_append gathers a chunk");
  len_buf_release(&body);
  len_buf_release(&text);

  return failures == 0 ? 0 : 1;
}
