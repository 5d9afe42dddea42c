// SPDX-License-Identifier: MIT
#include "lib/payload.h"

#include <mbedtls/aes.h>
#include <syslog.h>

#include <cstdlib>
#include <cstring>

#include "lib/base64_buf.h"
#include "lib/log_verbose.h"

#if !defined(MBEDTLS_CIPHER_MODE_CBC) || defined(MBEDTLS_BLOCK_CIPHER_NO_DECRYPT)
#error "mbedTLS must be built with AES-CBC decryption"
#endif

namespace {

constexpr int BLOCK_SIZE = 16;
constexpr unsigned KEY_BITS = 128;

// One AES context: set up on construction, wiped on every way out.
class aes_context_guard {
 public:
  aes_context_guard() { mbedtls_aes_init(&context_); }
  ~aes_context_guard() { mbedtls_aes_free(&context_); }
  aes_context_guard(const aes_context_guard &) = delete;
  aes_context_guard &operator=(const aes_context_guard &) = delete;
  mbedtls_aes_context *get() { return &context_; }

 private:
  mbedtls_aes_context context_;
};

int decrypt_failed(len_buf *out) {
  len_buf_release(out);
  return -1;
}

}  // namespace

int aes_buf_decrypt(len_buf *out, const len_buf *key, const len_buf *iv, const len_buf *in) {
  if (out == nullptr || key == nullptr || in == nullptr) return -1;
  aes_context_guard aes;

  const int key_result =
      key->bytes == nullptr
          ? MBEDTLS_ERR_AES_BAD_INPUT_DATA
          : mbedtls_aes_setkey_dec(aes.get(), reinterpret_cast<const unsigned char *>(key->bytes),
                                   KEY_BITS);
  if (key_result != 0) {
    if (log_verbose) syslog(LOG_INFO, "Unable to set AES key, error: %d", key_result);
    return decrypt_failed(out);
  }

  // The chaining updates the working IV, never the caller's bytes.
  unsigned char working_iv[BLOCK_SIZE] = {};
  if (iv != nullptr) {
    if (iv->bytes == nullptr) return decrypt_failed(out);
    memcpy(working_iv, iv->bytes, sizeof working_iv);
  }

  // An empty cipher text has no last byte to read the padding from, and a
  // count that describes no bytes cannot be decrypted: both are refused as
  // the library refuses a length that is not a multiple of the block size.
  if (in->length <= 0 || in->bytes == nullptr) {
    if (log_verbose)
      syslog(
          LOG_INFO, "Unable to do AES decryption, error=%d",
          in->length <= 0 ? MBEDTLS_ERR_AES_INVALID_INPUT_LENGTH : MBEDTLS_ERR_AES_BAD_INPUT_DATA);
    return decrypt_failed(out);
  }
  const auto count = static_cast<size_t>(in->length);

  out->bytes = static_cast<char *>(calloc(count, 1));
  if (out->bytes == nullptr) {
    if (log_verbose) syslog(LOG_INFO, "Error no memory");
    return decrypt_failed(out);
  }
  out->length = in->length;

  const int crypt_result = mbedtls_aes_crypt_cbc(aes.get(), MBEDTLS_AES_DECRYPT, count, working_iv,
                                                 reinterpret_cast<const unsigned char *>(in->bytes),
                                                 reinterpret_cast<unsigned char *>(out->bytes));
  if (crypt_result != 0) {
    if (log_verbose) syslog(LOG_INFO, "Unable to do AES decryption, error=%d", crypt_result);
    return decrypt_failed(out);
  }

  // Padding: the last byte, read unsigned, says how many bytes to drop. A
  // value beyond the count would leave a negative count: refused.
  const auto padding = static_cast<unsigned char>(out->bytes[count - 1]);
  if (padding > count) return decrypt_failed(out);
  out->length -= padding;
  return 0;
}

int payload_decrypt(const char *text, const unsigned char *key, char **plain_text) {
  if (text == nullptr || key == nullptr || plain_text == nullptr) return -1;

  len_buf decoded{};
  if (base64_to_buf(&decoded, text) != 0) return -1;

  // The pair only borrows the key, and aes_buf_decrypt only reads it.
  const len_buf key_pair{BLOCK_SIZE, const_cast<char *>(reinterpret_cast<const char *>(key))};
  len_buf plain{};
  const int result = aes_buf_decrypt(&plain, &key_pair, nullptr, &decoded);
  len_buf_release(&decoded);
  if (result != 0) return -1;

  // The plain count is at most the decoded count, itself below INT32_MAX,
  // so one more byte for the NUL fits.
  char *text_out = static_cast<char *>(realloc(plain.bytes, static_cast<size_t>(plain.length) + 1));
  if (text_out == nullptr) {
    if (log_verbose) syslog(LOG_INFO, "Error no memory");
    len_buf_release(&plain);
    return -1;
  }
  text_out[plain.length] = '\0';
  *plain_text = text_out;
  return 0;
}
