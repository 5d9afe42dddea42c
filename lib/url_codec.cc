// SPDX-License-Identifier: MIT
#include "lib/url_codec.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// The bytes that stand for themselves in the encoding.
constexpr std::array<bool, 256> UNRESERVED = [] {
  std::array<bool, 256> table{};
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) table[c] = true;
  for (int c = '0'; c <= '9'; ++c) table[c] = true;
  table['-'] = table['.'] = table['_'] = true;
  return table;
}();

bool is_hex_digit(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int hex_digit_value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + ('a' - 'A'));
  return (c >= '0' && c <= '9') ? c - 0x30 : c - 0x57;
}

// The 57-character sample of the self-check.
constexpr char SAMPLE[] = "!@#$%^&*()_++|}{\":?><[]';.,/`-=qwertyuiopasdfghjklzxcvbnm";

}  // namespace

char *url_encode(const len_buf *src, int32_t *out_length) {
  if (src == nullptr) return nullptr;
  const int32_t count = src->length;
  if (count < 0 || (count > 0 && src->bytes == nullptr)) return nullptr;
  // 3 x count + 1 must fit in the signed 32-bit result count.
  if (count > (INT32_MAX - 1) / 3) return nullptr;

  // One allocation for the largest result; the output never grows.
  auto *out = static_cast<char *>(calloc(3 * static_cast<size_t>(count) + 1, 1));
  if (out == nullptr) return nullptr;

  const auto *in = reinterpret_cast<const unsigned char *>(src->bytes);
  char *write = out;
  for (int32_t i = 0; i < count; ++i) {
    const unsigned char c = in[i];
    if (UNRESERVED[c]) {
      *write++ = static_cast<char>(c);
    } else if (c == ' ') {
      *write++ = '+';
    } else {
      write[0] = '%';
      write[1] = HEX_DIGITS[c >> 4];
      write[2] = HEX_DIGITS[c & 0x0F];
      write += 3;
    }
  }
  *write = '\0';
  if (out_length != nullptr) *out_length = static_cast<int32_t>(write - out);
  return out;
}

int32_t url_decode(len_buf *buf) {
  if (buf == nullptr || buf->length < 0) return -1;
  if (buf->bytes == nullptr) return buf->length == 0 ? 0 : -1;

  const auto *read = reinterpret_cast<const unsigned char *>(buf->bytes);
  const unsigned char *const end = read + buf->length;
  char *write = buf->bytes;
  while (read < end) {
    const unsigned char c = *read;
    const auto rest = end - read - 1;
    if (c == '+') {
      *write = ' ';
    } else if (c == '%' && rest >= 2 && is_hex_digit(read[1]) && is_hex_digit(read[2])) {
      *write = static_cast<char>(hex_pair_value(reinterpret_cast<const char *>(read + 1)));
      read += 2;
    } else {
      *write = static_cast<char>(c);
    }
    ++read;
    ++write;
  }
  *write = '\0';
  return static_cast<int32_t>(write - buf->bytes);
}

int hex_pair_value(const char *pair) {
  return 16 * hex_digit_value(static_cast<unsigned char>(pair[0])) +
         hex_digit_value(static_cast<unsigned char>(pair[1]));
}

void str_lower(char *text, int32_t count) {
  if (text == nullptr || count <= 0) return;
  for (int32_t i = 0; i < count; ++i) {
    if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] + ('a' - 'A'));
  }
}

void url_codec_selftest() {
  const auto sample_length = static_cast<int32_t>(sizeof SAMPLE - 1);
  printf("ori:%s\n", SAMPLE);

  // Refers to the sample without owning it; the encoder only reads it.
  const len_buf sample{sample_length, const_cast<char *>(SAMPLE)};
  char *encoded = url_encode(&sample, nullptr);
  if (encoded == nullptr) {
    // Nothing to decode or compare: the round trip did not happen.
    puts("dec not equal ori");
    exit(0);
  }
  printf("enc:%s\n", encoded);

  len_buf coded{static_cast<int32_t>(strlen(encoded)), encoded};
  (void)url_decode(&coded);
  printf("dec:%s\n", encoded);

  const bool equal = strlen(encoded) == static_cast<size_t>(sample_length) &&
                     memcmp(encoded, SAMPLE, static_cast<size_t>(sample_length)) == 0;
  puts(equal ? "dec equal ori" : "dec not equal ori");
  // The encoded text goes with the process.
  exit(0);
}
