// SPDX-License-Identifier: MIT
// The support library's decoders on arbitrary bytes: URL decoding in place
// (and the encode-decode round trip), base64 decoding, and match rules
// built from JSON objects and tested against the same bytes.
#include "tests/fuzz/fuzz_target.h"

#include <json-c/json.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "lib/base64_buf.h"
#include "lib/len_buf.h"
#include "lib/match_rule.h"
#include "lib/url_codec.h"

namespace {

// A heap copy with the one spare byte that the in-place routines need.
len_buf copy_of(const uint8_t *data, size_t size) {
  len_buf buf{static_cast<int32_t>(size), static_cast<char *>(malloc(size + 1))};
  if (buf.bytes == nullptr) abort();
  if (size > 0) memcpy(buf.bytes, data, size);
  buf.bytes[size] = '\0';
  return buf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > (1 << 20)) return 0;

  len_buf encoded_input = copy_of(data, size);
  if (url_decode(&encoded_input) > encoded_input.length) abort();  // never lengthens
  len_buf_release(&encoded_input);

  len_buf plain = copy_of(data, size);
  int32_t encoded_length = 0;
  char *encoded = url_encode(&plain, &encoded_length);
  if (encoded != nullptr) {
    len_buf round{encoded_length, encoded};
    if (url_decode(&round) != plain.length || memcmp(encoded, plain.bytes, size) != 0) abort();
    free(encoded);
  }

  len_buf decoded{};
  if (base64_to_buf(&decoded, plain.bytes) == 0 && decoded.bytes[decoded.length] != '\0') abort();
  len_buf_release(&decoded);

  json_object *object = json_tokener_parse(plain.bytes);
  match_rule rule{};
  if (match_rule_from_json(&rule, object) == 0) {
    len_buf subject = copy_of(data, size);
    const char saved = subject.bytes[subject.length];
    (void)match_rule_test(&rule, &subject);
    if (subject.bytes[subject.length] != saved) abort();  // the byte after is restored
    len_buf_release(&subject);
  }
  match_rule_release(&rule);
  json_object_put(object);
  len_buf_release(&plain);
  return 0;
}
