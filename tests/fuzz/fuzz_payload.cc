// SPDX-License-Identifier: MIT
// Payload decoding on arbitrary keys, IVs and cipher texts. The input is
// 16 key bytes, 16 IV bytes, one byte of switches and the rest:
//
// - the rest as cipher text: aes_buf_decrypt agrees with mbedTLS's own CBC
//   decryption and strips exactly the padding that the last plain byte
//   names, or fails for every length that is no whole number of blocks;
// - the rest (whole blocks) as plain text, encrypted here: decryption
//   gives it back with every possible padding value, also through
//   payload_decrypt over its base64 form with the zero IV;
// - the rest as base64 text for payload_decrypt: a result or -1, nothing
//   left allocated.
#include "tests/fuzz/fuzz_target.h"

#include <mbedtls/aes.h>
#include <mbedtls/base64.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/len_buf.h"
#include "lib/payload.h"

namespace {

constexpr size_t BLOCK = 16;
constexpr size_t HEADER = 2 * BLOCK + 1;

std::vector<unsigned char> cbc(int mode, const unsigned char *key, const unsigned char *iv,
                               const unsigned char *in, size_t count) {
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  if ((mode == MBEDTLS_AES_DECRYPT ? mbedtls_aes_setkey_dec(&aes, key, 128)
                                   : mbedtls_aes_setkey_enc(&aes, key, 128)) != 0)
    abort();
  unsigned char working[BLOCK];
  memcpy(working, iv, BLOCK);
  std::vector<unsigned char> out(count);
  if (mbedtls_aes_crypt_cbc(&aes, mode, count, working, in, out.data()) != 0) abort();
  mbedtls_aes_free(&aes);
  return out;
}

// Decrypts cipher with aes_buf_decrypt and checks the result against the
// plain bytes that mbedTLS gives.
void check_decrypt(const unsigned char *key, const unsigned char *iv_bytes, bool with_iv,
                   const unsigned char *cipher, size_t count) {
  unsigned char iv_copy[BLOCK];
  memcpy(iv_copy, iv_bytes, BLOCK);
  const len_buf key_pair{static_cast<int32_t>(BLOCK),
                         const_cast<char *>(reinterpret_cast<const char *>(key))};
  const len_buf iv{static_cast<int32_t>(BLOCK), reinterpret_cast<char *>(iv_copy)};
  // Exactly the cipher text's bytes on the heap, so reads past it are seen.
  len_buf in{static_cast<int32_t>(count), static_cast<char *>(malloc(count > 0 ? count : 1))};
  if (in.bytes == nullptr) abort();
  if (count > 0) memcpy(in.bytes, cipher, count);

  len_buf out{};
  const int result = aes_buf_decrypt(&out, &key_pair, with_iv ? &iv : nullptr, &in);
  if (memcmp(iv_copy, iv_bytes, BLOCK) != 0) abort();  // the caller's IV is never changed
  if (count == 0 || count % BLOCK != 0) {
    if (result != -1 || out.bytes != nullptr || out.length != 0) abort();
  } else {
    static const unsigned char zero[BLOCK] = {};
    const std::vector<unsigned char> plain =
        cbc(MBEDTLS_AES_DECRYPT, key, with_iv ? iv_bytes : zero,
            reinterpret_cast<const unsigned char *>(in.bytes), count);
    const size_t padding = plain[count - 1];
    if (padding > count) {
      if (result != -1 || out.bytes != nullptr || out.length != 0) abort();
    } else {
      if (result != 0 || out.length != static_cast<int32_t>(count - padding)) abort();
      if (memcmp(out.bytes, plain.data(), count) != 0) abort();  // stripped bytes stay behind
    }
  }
  len_buf_release(&out);
  len_buf_release(&in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < HEADER || size > HEADER + 4096) return 0;
  const unsigned char *key = data;
  const unsigned char *iv = data + BLOCK;
  const bool with_iv = (data[2 * BLOCK] & 1) != 0;
  const unsigned char *rest = data + HEADER;
  const size_t count = size - HEADER;

  check_decrypt(key, iv, with_iv, rest, count);

  // Whole blocks of the rest as plain text: its last byte is the padding.
  const size_t whole = count - count % BLOCK;
  if (whole > 0) {
    static const unsigned char zero[BLOCK] = {};
    const std::vector<unsigned char> cipher =
        cbc(MBEDTLS_AES_ENCRYPT, key, with_iv ? iv : zero, rest, whole);
    check_decrypt(key, iv, with_iv, cipher.data(), whole);

    if (!with_iv) {
      size_t text_size = 0;
      (void)mbedtls_base64_encode(nullptr, 0, &text_size, cipher.data(), whole);
      std::vector<unsigned char> text(text_size);
      if (mbedtls_base64_encode(text.data(), text.size(), &text_size, cipher.data(), whole) != 0)
        abort();
      char *plain_text = nullptr;
      const int result =
          payload_decrypt(reinterpret_cast<const char *>(text.data()), key, &plain_text);
      const size_t padding = rest[whole - 1];
      if (padding > whole) {
        if (result != -1 || plain_text != nullptr) abort();
      } else {
        if (result != 0 || plain_text == nullptr) abort();
        if (memcmp(plain_text, rest, whole - padding) != 0 || plain_text[whole - padding] != '\0')
          abort();
        free(plain_text);
      }
    }
  }

  // The rest as a base64 text of its own.
  std::vector<char> text(rest, rest + count);
  text.push_back('\0');
  char *plain_text = nullptr;
  if (payload_decrypt(text.data(), key, &plain_text) == 0) {
    if (plain_text == nullptr) abort();
    free(plain_text);
  } else if (plain_text != nullptr) {
    abort();
  }
  return 0;
}
