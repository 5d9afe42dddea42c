// SPDX-License-Identifier: MIT
#include "lib/payload.h"

#include <gtest/gtest.h>
#include <mbedtls/aes.h>
#include <mbedtls/base64.h>
#include <syslog.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/base64_buf.h"
#include "lib/log_verbose.h"
#include "tests/support/log_capture.h"

namespace {

using bytes = std::vector<unsigned char>;

bytes from_hex(const std::string &hex) {
  bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

len_buf view(const bytes &data) {
  return len_buf{static_cast<int32_t>(data.size()),
                 const_cast<char *>(reinterpret_cast<const char *>(data.data()))};
}

std::string counted(const len_buf &buf) {
  return std::string(buf.bytes, static_cast<size_t>(buf.length));
}

// CBC encryption by mbedTLS itself, the reference for the decoder.
bytes encrypt_cbc(const bytes &key, const bytes &iv_in, const bytes &plain) {
  EXPECT_EQ(plain.size() % 16, 0u);
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  EXPECT_EQ(mbedtls_aes_setkey_enc(&aes, key.data(), 128), 0);
  bytes iv = iv_in.empty() ? bytes(16, 0) : iv_in;
  bytes out(plain.size());
  EXPECT_EQ(mbedtls_aes_crypt_cbc(&aes, MBEDTLS_AES_ENCRYPT, plain.size(), iv.data(), plain.data(),
                                  out.data()),
            0);
  mbedtls_aes_free(&aes);
  return out;
}

bytes pkcs7(const std::string &text) {
  bytes out(text.begin(), text.end());
  const size_t pad = 16 - out.size() % 16;
  out.insert(out.end(), pad, static_cast<unsigned char>(pad));
  return out;
}

std::string base64(const bytes &data) {
  size_t size = 0;
  (void)mbedtls_base64_encode(nullptr, 0, &size, data.data(), data.size());
  std::string out(size, '\0');
  EXPECT_EQ(mbedtls_base64_encode(reinterpret_cast<unsigned char *>(out.data()), size, &size,
                                  data.data(), data.size()),
            0);
  out.resize(size);
  return out;
}

const bytes KEY = from_hex("2b7e151628aed2a6abf7158809cf4f3c");

class Payload : public ::testing::Test {
 protected:
  void SetUp() override {
    log_verbose = 0;
    log_capture_clear();
  }
  void TearDown() override { log_verbose = 0; }
};

// --- base64_to_buf -------------------------------------------------------

TEST_F(Payload, Base64DecodesWithNulBehind) {
  len_buf buf{};
  ASSERT_EQ(base64_to_buf(&buf, "YWJj"), 0);
  EXPECT_EQ(buf.length, 3);
  EXPECT_EQ(std::string(buf.bytes, 4), std::string("abc\0", 4));
  len_buf_release(&buf);

  ASSERT_EQ(base64_to_buf(&buf, "YQ=="), 0);
  EXPECT_EQ(std::string(buf.bytes, 2), std::string("a\0", 2));
  len_buf_release(&buf);

  // Line breaks between groups are part of the format.
  ASSERT_EQ(base64_to_buf(&buf, "YWJj\r\nZGVm\n"), 0);
  EXPECT_EQ(counted(buf), "abcdef");
  len_buf_release(&buf);

  // Decoded NUL bytes are counted; the extra NUL stays behind them.
  ASSERT_EQ(base64_to_buf(&buf, "AGEA"), 0);
  EXPECT_EQ(buf.length, 3);
  EXPECT_EQ(std::string(buf.bytes, 4), std::string("\0a\0\0", 4));
  len_buf_release(&buf);
}

TEST_F(Payload, Base64EmptyTextIsOneNul) {
  len_buf buf{};
  ASSERT_EQ(base64_to_buf(&buf, ""), 0);
  EXPECT_EQ(buf.length, 0);
  ASSERT_NE(buf.bytes, nullptr);
  EXPECT_EQ(buf.bytes[0], '\0');
  len_buf_release(&buf);
}

TEST_F(Payload, Base64RefusesMalformedTextsSilently) {
  log_verbose = 1;
  const char *malformed[] = {
      "YW*j",  "Y===",  "=YWJ",     "YW=j",      "YWJj====",
      " YWJj", "YW Jj", "YQ==YQ==", "\200\201ab"};  // bytes 0x80 and 0x81, then ab
  for (const char *text : malformed) {
    len_buf buf{};
    EXPECT_EQ(base64_to_buf(&buf, text), -1) << text;
    EXPECT_EQ(buf.bytes, nullptr) << text;
    EXPECT_EQ(buf.length, 0) << text;
  }
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();

  len_buf untouched{4, nullptr};
  EXPECT_EQ(base64_to_buf(&untouched, nullptr), -1);
  EXPECT_EQ(untouched.length, 4);
  EXPECT_EQ(base64_to_buf(nullptr, "YWJj"), -1);
}

// An unpadded tail makes the library predict more bytes than it then
// writes: such a text is refused instead of yielding zero-filled bytes.
TEST_F(Payload, Base64RefusesAnotherSizeThanPredicted) {
  for (const char *text : {"YQ", "YWI", "YQ=", "YWJjZA", "YWJjZGU"}) {
    len_buf buf{};
    EXPECT_EQ(base64_to_buf(&buf, text), -1) << text;
    EXPECT_EQ(buf.bytes, nullptr) << text;
    EXPECT_EQ(buf.length, 0) << text;
  }
}

TEST_F(Payload, Base64EveryPrefixIsHandled) {
  const std::string valid = "SGVsbG8sIHJvdXRlciEgAAECA/79\r\nYWJjZA==";
  for (size_t n = 0; n <= valid.size(); ++n) {
    // Exactly sized heap copies, so a read past the text shows under ASan.
    std::string prefix = valid.substr(0, n);
    char *text = strdup(prefix.c_str());
    len_buf buf{};
    const int result = base64_to_buf(&buf, text);
    if (result == 0) {
      ASSERT_GE(buf.length, 0);
      EXPECT_EQ(buf.bytes[buf.length], '\0') << prefix;
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(buf.bytes, nullptr);
      EXPECT_EQ(buf.length, 0);
    }
    // Whole groups of four decode, with or without the line break.
    if (n == 0 || n == 28 || n == 30 || n == valid.size()) {
      EXPECT_EQ(result, 0) << n;
    }
    len_buf_release(&buf);
    free(text);
  }
}

// --- aes_buf_decrypt -----------------------------------------------------

// NIST SP 800-38A, F.2.2 CBC-AES128.Decrypt. The last plain byte is 0x10,
// so sixteen bytes go as padding while the storage keeps all four blocks.
TEST_F(Payload, AesMatchesPublishedCbcVector) {
  const bytes iv = from_hex("000102030405060708090a0b0c0d0e0f");
  const bytes iv_before = iv;
  const bytes cipher = from_hex(
      "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
      "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
  const bytes plain = from_hex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  len_buf key = view(KEY);
  len_buf iv_pair = view(iv);
  len_buf in = view(cipher);
  len_buf out{};
  ASSERT_EQ(aes_buf_decrypt(&out, &key, &iv_pair, &in), 0);
  EXPECT_EQ(out.length, 48);
  EXPECT_EQ(memcmp(out.bytes, plain.data(), plain.size()), 0);
  EXPECT_EQ(iv, iv_before);  // the caller's IV is never changed
  len_buf_release(&out);

  // Only the key's bytes count, whatever its length says.
  len_buf odd_key{3, key.bytes};
  ASSERT_EQ(aes_buf_decrypt(&out, &odd_key, &iv_pair, &in), 0);
  EXPECT_EQ(memcmp(out.bytes, plain.data(), plain.size()), 0);
  len_buf_release(&out);
}

// The IV needs no alignment and only its first sixteen bytes are used.
TEST_F(Payload, AesIvAtAnyAddress) {
  const bytes iv = from_hex("000102030405060708090a0b0c0d0e0f");
  // One byte before the IV, one after it.
  bytes shifted(1 + iv.size() + 1, 0xAA);
  memcpy(shifted.data() + 1, iv.data(), iv.size());
  shifted.back() = 0xBB;
  const bytes plain = pkcs7("odd alignment");
  const bytes cipher = encrypt_cbc(KEY, iv, plain);
  len_buf key = view(KEY);
  len_buf iv_pair{5, reinterpret_cast<char *>(shifted.data() + 1)};
  len_buf in = view(cipher);
  len_buf out{};
  ASSERT_EQ(aes_buf_decrypt(&out, &key, &iv_pair, &in), 0);
  EXPECT_EQ(counted(out), "odd alignment");
  len_buf_release(&out);
}

TEST_F(Payload, AesWithoutIvUsesZeroIv) {
  const bytes cipher = encrypt_cbc(KEY, {}, pkcs7("zero iv: first block, second"));
  len_buf key = view(KEY);
  len_buf in = view(cipher);
  len_buf out{};
  ASSERT_EQ(aes_buf_decrypt(&out, &key, nullptr, &in), 0);
  EXPECT_EQ(counted(out), "zero iv: first block, second");

  // The first plain block is the bare block decryption of the first cipher
  // block: nothing else is mixed in.
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  ASSERT_EQ(mbedtls_aes_setkey_dec(&aes, KEY.data(), 128), 0);
  unsigned char block[16];
  ASSERT_EQ(mbedtls_aes_crypt_ecb(&aes, MBEDTLS_AES_DECRYPT, cipher.data(), block), 0);
  mbedtls_aes_free(&aes);
  EXPECT_EQ(memcmp(out.bytes, block, 16), 0);
  len_buf_release(&out);
}

TEST_F(Payload, AesPaddingConsultsOnlyTheLastByte) {
  len_buf key = view(KEY);
  struct padding_case {
    unsigned char last;
    int32_t blocks;
    int32_t expected;  // -1: refused
  } cases[] = {
      {16, 2, 16},    // the whole second block
      {0, 2, 32},     // nothing removed
      {32, 2, 0},     // everything: an empty plain text
      {33, 2, -1},    // more than there is
      {0xFF, 1, -1},  // a value of 128 or more beyond the count
      {0x80, 9, 16},  // a large value that fits is taken as it is
      {0xFF, 16, 1},
  };
  for (const padding_case &c : cases) {
    bytes plain(static_cast<size_t>(c.blocks) * 16, 'p');
    plain.back() = c.last;
    plain[plain.size() - 2] = 'q';  // claimed bytes are neither checked nor cleared
    const bytes cipher = encrypt_cbc(KEY, {}, plain);
    len_buf in = view(cipher);
    len_buf out{};
    const int result = aes_buf_decrypt(&out, &key, nullptr, &in);
    if (c.expected < 0) {
      EXPECT_EQ(result, -1) << int(c.last);
      EXPECT_EQ(out.bytes, nullptr);
      EXPECT_EQ(out.length, 0);
    } else {
      ASSERT_EQ(result, 0) << int(c.last);
      EXPECT_EQ(out.length, c.expected) << int(c.last);
      EXPECT_EQ(memcmp(out.bytes, plain.data(), plain.size()), 0);
    }
    len_buf_release(&out);
  }
}

TEST_F(Payload, AesRefusesBadLengthsWithMessage) {
  len_buf key = view(KEY);
  const bytes twenty(20, 0x42);
  const bytes block(16, 0x42);
  len_buf wrong_size = view(twenty);
  len_buf empty{0, const_cast<char *>("")};
  len_buf negative{-16, const_cast<char *>(reinterpret_cast<const char *>(block.data()))};
  len_buf no_bytes{16, nullptr};
  for (int verbose : {0, 1}) {
    log_verbose = verbose;
    log_capture_clear();
    for (len_buf *in : {&wrong_size, &empty, &negative, &no_bytes}) {
      len_buf out{};
      EXPECT_EQ(aes_buf_decrypt(&out, &key, nullptr, in), -1) << in->length;
      EXPECT_EQ(out.bytes, nullptr);
      EXPECT_EQ(out.length, 0);
    }
    if (verbose) {
      EXPECT_EQ(log_capture_count(LOG_INFO, "Unable to do AES decryption, error=-34"), 3)
          << log_capture_dump();
      EXPECT_EQ(log_capture_count(LOG_INFO, "Unable to do AES decryption, error=-33"), 1)
          << log_capture_dump();
      EXPECT_EQ(log_capture_lines().size(), 4u);
    } else {
      EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();
    }
  }
}

TEST_F(Payload, AesRefusesMissingKeyAndIvBytes) {
  const bytes cipher = encrypt_cbc(KEY, {}, pkcs7("x"));
  len_buf in = view(cipher);
  len_buf no_key{16, nullptr};
  len_buf key = view(KEY);
  len_buf no_iv_bytes{16, nullptr};
  log_verbose = 1;
  len_buf out{};
  EXPECT_EQ(aes_buf_decrypt(&out, &no_key, nullptr, &in), -1);
  EXPECT_EQ(out.bytes, nullptr);
  EXPECT_EQ(log_capture_count(LOG_INFO, "Unable to set AES key, error: -33"), 1)
      << log_capture_dump();
  EXPECT_EQ(aes_buf_decrypt(&out, &key, &no_iv_bytes, &in), -1);
  EXPECT_EQ(out.bytes, nullptr);
  EXPECT_EQ(aes_buf_decrypt(nullptr, &key, nullptr, &in), -1);
  EXPECT_EQ(aes_buf_decrypt(&out, nullptr, nullptr, &in), -1);
  EXPECT_EQ(aes_buf_decrypt(&out, &key, nullptr, nullptr), -1);
}

// A wrong key is not detected; whatever comes out stays inside bounds.
TEST_F(Payload, AesWrongKeyStaysInBounds) {
  const bytes other_key = from_hex("000102030405060708090a0b0c0d0e0f");
  len_buf key = view(other_key);
  for (const char *text : {"a", "some longer payload text, three blocks long....."}) {
    const bytes cipher = encrypt_cbc(KEY, {}, pkcs7(text));
    len_buf in = view(cipher);
    len_buf out{};
    const int result = aes_buf_decrypt(&out, &key, nullptr, &in);
    if (result == 0) {
      EXPECT_GE(out.length, 0);
      EXPECT_LE(out.length, in.length);
      EXPECT_NE(counted(out), text);
    } else {
      EXPECT_EQ(out.bytes, nullptr);
    }
    len_buf_release(&out);
  }
}

// --- payload_decrypt -----------------------------------------------------

TEST_F(Payload, DecryptsOneBlockPayload) {
  const bytes plain = {'h', 'e', 'l', 'l', 'o', 11, 11, 11, 11, 11, 11, 11, 11, 11, 11, 11};
  const std::string text = base64(encrypt_cbc(KEY, {}, plain));
  char *result = nullptr;
  ASSERT_EQ(payload_decrypt(text.c_str(), KEY.data(), &result), 0);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(std::string(result, 6), std::string("hello\0", 6));
  free(result);
}

TEST_F(Payload, DecryptsPayloadsOfManySizes) {
  for (size_t size : {0u, 1u, 15u, 16u, 17u, 100u, 4096u}) {
    std::string message(size, '\0');
    for (size_t i = 0; i < size; ++i) message[i] = static_cast<char>('a' + i % 26);
    const std::string text = base64(encrypt_cbc(KEY, {}, pkcs7(message)));
    char *result = nullptr;
    ASSERT_EQ(payload_decrypt(text.c_str(), KEY.data(), &result), 0) << size;
    EXPECT_EQ(std::string(result), message);
    free(result);
  }
}

// A last byte of 0 removes nothing: the text grows by one byte for its NUL.
TEST_F(Payload, DecryptWithoutPaddingStillEndsInNul) {
  bytes plain(32, 'z');
  plain.back() = 0;
  const std::string text = base64(encrypt_cbc(KEY, {}, plain));
  char *result = nullptr;
  ASSERT_EQ(payload_decrypt(text.c_str(), KEY.data(), &result), 0);
  EXPECT_EQ(memcmp(result, plain.data(), 32), 0);
  EXPECT_EQ(result[32], '\0');
  free(result);
}

TEST_F(Payload, DecryptFailuresHandOutNothing) {
  char sentinel = 's';
  char *result = &sentinel;
  const std::string good = base64(encrypt_cbc(KEY, {}, pkcs7("x")));
  EXPECT_EQ(payload_decrypt(good.c_str(), nullptr, &result), -1);
  EXPECT_EQ(payload_decrypt(nullptr, KEY.data(), &result), -1);
  EXPECT_EQ(payload_decrypt(good.c_str(), KEY.data(), nullptr), -1);
  EXPECT_EQ(payload_decrypt("not*base64", KEY.data(), &result), -1);
  EXPECT_EQ(payload_decrypt("", KEY.data(), &result), -1);  // no cipher text at all
  // Twenty bytes: not whole blocks.
  const std::string twenty = base64(bytes(20, 1));
  log_verbose = 1;
  EXPECT_EQ(payload_decrypt(twenty.c_str(), KEY.data(), &result), -1);
  EXPECT_EQ(log_capture_count(LOG_INFO, "Unable to do AES decryption, error=-34"), 1)
      << log_capture_dump();
  EXPECT_EQ(result, &sentinel);
}

TEST_F(Payload, DecryptEveryPrefixIsHandled) {
  const std::string valid = base64(encrypt_cbc(KEY, {}, pkcs7("prefix loop, two blocks")));
  for (size_t n = 0; n <= valid.size(); ++n) {
    char *text = strdup(valid.substr(0, n).c_str());
    char *result = nullptr;
    const int status = payload_decrypt(text, KEY.data(), &result);
    if (status == 0) {
      ASSERT_NE(result, nullptr);
      free(result);
    } else {
      EXPECT_EQ(result, nullptr);
    }
    // Only whole 16-byte blocks decrypt: 24 and 44 base64 characters.
    if (n == valid.size()) {
      EXPECT_EQ(status, 0);
    }
    if (n < 24) {
      EXPECT_EQ(status, -1) << n;
    }
    free(text);
  }
}

}  // namespace
