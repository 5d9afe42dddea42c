// SPDX-License-Identifier: MIT
// Allocation behaviour of the support library, seen through a counting
// allocator that replaces malloc and its siblings in this test program:
// what must allocate nothing, and what a failed allocation leaves behind.
#include <gtest/gtest.h>
#include <mbedtls/aes.h>
#include <mbedtls/base64.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/base64_buf.h"
#include "lib/len_buf.h"
#include "lib/log_verbose.h"
#include "lib/match_rule.h"
#include "lib/payload.h"
#include "lib/url_codec.h"
#include "tests/support/alloc_counter.h"
#include "tests/support/log_capture.h"

namespace {

const unsigned char kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

// base64 of the AES-CBC encryption (zero IV) of text with its padding.
std::string encrypted_payload(const std::string &text) {
  std::vector<unsigned char> plain(text.begin(), text.end());
  const size_t pad = 16 - plain.size() % 16;
  plain.insert(plain.end(), pad, static_cast<unsigned char>(pad));
  std::vector<unsigned char> cipher(plain.size());
  unsigned char iv[16] = {};
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  EXPECT_EQ(mbedtls_aes_setkey_enc(&aes, kKey, 128), 0);
  EXPECT_EQ(mbedtls_aes_crypt_cbc(&aes, MBEDTLS_AES_ENCRYPT, plain.size(), iv, plain.data(),
                                  cipher.data()),
            0);
  mbedtls_aes_free(&aes);
  unsigned char out[256];
  size_t length = 0;
  EXPECT_EQ(mbedtls_base64_encode(out, sizeof out, &length, cipher.data(), cipher.size()), 0);
  return std::string(reinterpret_cast<char *>(out), length);
}

class Alloc : public ::testing::Test {
 protected:
  void SetUp() override {
    log_verbose = 0;
    log_capture_clear();
    alloc_fail_at(-1);
  }
  void TearDown() override {
    alloc_fail_at(-1);
    log_verbose = 0;
  }
};

// --- what allocates nothing --------------------------------------------------

TEST_F(Alloc, MatchingAllocatesNothing) {
  match_rule rules[5] = {};
  ASSERT_EQ(match_rule_from_text(&rules[0], "example", MATCH_INCLUDE, nullptr), 0);
  ASSERT_EQ(match_rule_from_text(&rules[1], "cdn.", MATCH_PREFIX, nullptr), 0);
  ASSERT_EQ(match_rule_from_text(&rules[2], ".com", MATCH_SUFFIX, nullptr), 0);
  ASSERT_EQ(match_rule_from_text(&rules[3], "cdn.example.com", MATCH_ALL, nullptr), 0);
  ASSERT_EQ(match_rule_from_text(&rules[4], "^(cdn|img)([0-9]*)\\.(ex)(am)ple\\.com$",
                                 MATCH_REGULAR, nullptr),
            0);
  char hit[] = "cdn.example.com#";
  char miss[] = "www.elsewhere.org#";
  len_buf subjects[] = {{15, hit}, {17, miss}, {0, hit}};
  int results[5][3];

  const alloc_snapshot before = alloc_now();
  for (int round = 0; round < 100; ++round)
    for (int r = 0; r < 5; ++r)
      for (int s = 0; s < 3; ++s) results[r][s] = match_rule_test(&rules[r], &subjects[s]);
  const alloc_snapshot after = alloc_now();

  EXPECT_EQ(after.calls, before.calls);
  EXPECT_EQ(after.live, before.live);
  for (int r = 0; r < 5; ++r) {
    EXPECT_EQ(results[r][0], 0) << r;
    EXPECT_NE(results[r][1], 0) << r;
    EXPECT_NE(results[r][2], 0) << r;
  }
  // Matched in place: the subjects' texts are as they were.
  EXPECT_STREQ(hit, "cdn.example.com#");
  EXPECT_STREQ(miss, "www.elsewhere.org#");
  for (match_rule &rule : rules) match_rule_release(&rule);
}

// Backtracking too: once a rule has matched, an ordinary subject stays
// within the frames that a PCRE2 expression keeps (classic PCRE recurses on
// the stack), and a match that goes far deeper keeps nothing of what it took.
TEST_F(Alloc, BacktrackingAllocatesNothing) {
  match_rule rule{};
  ASSERT_EQ(match_rule_from_text(&rule, "^(?:a|b)*c$", MATCH_REGULAR, nullptr), 0);
  std::string ordinary;
  for (int i = 0; i < 80; ++i) ordinary += "ab";
  ordinary += "c#";
  std::string hostile;
  for (int i = 0; i < 50000; ++i) hostile += "ab";
  hostile += "c#";
  len_buf subjects[] = {{static_cast<int32_t>(ordinary.size() - 1), ordinary.data()},
                        {static_cast<int32_t>(hostile.size() - 1), hostile.data()}};

  ASSERT_EQ(match_rule_test(&rule, &subjects[0]), 0);
  const alloc_snapshot before = alloc_now();
  const int matched = match_rule_test(&rule, &subjects[0]);
  const alloc_snapshot between = alloc_now();
  const int too_deep = match_rule_test(&rule, &subjects[1]);
  const alloc_snapshot after = alloc_now();

  EXPECT_EQ(between.calls, before.calls);
  EXPECT_EQ(after.live, before.live);
  EXPECT_EQ(matched, 0);
  EXPECT_EQ(too_deep, -1);
  match_rule_release(&rule);
}

TEST_F(Alloc, DecodingAllocatesNothingEncodingOnce) {
  char text[] = "a+b%41%4a%zz%4";
  len_buf buf{14, text};
  alloc_snapshot before = alloc_now();
  EXPECT_EQ(url_decode(&buf), 10);
  EXPECT_EQ(alloc_now().calls, before.calls);

  const std::string input(4096, ' ');
  const len_buf src{4096, const_cast<char *>(input.data())};
  before = alloc_now();
  char *encoded = url_encode(&src, nullptr);
  EXPECT_EQ(alloc_now().calls, before.calls + 1);
  free(encoded);
}

// --- failed allocations --------------------------------------------------------

TEST_F(Alloc, Base64WithoutMemory) {
  for (int verbose : {0, 1}) {
    log_verbose = verbose;
    log_capture_clear();
    len_buf buf{};
    const alloc_snapshot before = alloc_now();
    alloc_fail_at(0);
    EXPECT_EQ(base64_to_buf(&buf, "YWJj"), -1);
    alloc_fail_at(-1);
    EXPECT_EQ(buf.bytes, nullptr);
    EXPECT_EQ(buf.length, 0);
    // The log capture keeps its lines on the heap; without lines nothing stays.
    if (!verbose) {
      EXPECT_EQ(alloc_now().live, before.live);
    }
    EXPECT_EQ(log_capture_count(LOG_INFO, "Error no memory"), verbose) << log_capture_dump();
    EXPECT_EQ(log_capture_lines().size(), static_cast<size_t>(verbose));
  }
}

TEST_F(Alloc, AesWithoutMemory) {
  unsigned char cipher[16] = {};
  len_buf key{16, const_cast<char *>(reinterpret_cast<const char *>(kKey))};
  len_buf in{16, reinterpret_cast<char *>(cipher)};
  len_buf out{};
  log_verbose = 1;
  alloc_fail_at(0);
  EXPECT_EQ(aes_buf_decrypt(&out, &key, nullptr, &in), -1);
  alloc_fail_at(-1);
  EXPECT_EQ(out.bytes, nullptr);
  EXPECT_EQ(out.length, 0);
  EXPECT_EQ(log_capture_count(LOG_INFO, "Error no memory"), 1) << log_capture_dump();
}

// Each of the three allocations of a payload decryption may fail: the
// decoded bytes, the plain bytes and the final resize for the NUL. Every
// failure hands nothing out and leaves nothing allocated.
TEST_F(Alloc, PayloadFailsCleanlyAtEveryAllocation) {
  const std::string payload = encrypted_payload("no padding removed at all.......");
  char *result = nullptr;
  // Unfailed, the call makes exactly three allocation calls.
  alloc_snapshot before = alloc_now();
  ASSERT_EQ(payload_decrypt(payload.c_str(), kKey, &result), 0);
  EXPECT_EQ(alloc_now().calls, before.calls + 3);
  EXPECT_STREQ(result, "no padding removed at all.......");
  free(result);

  for (long failing = 0; failing < 3; ++failing) {
    char sentinel = 's';
    result = &sentinel;
    before = alloc_now();
    alloc_fail_at(failing);
    EXPECT_EQ(payload_decrypt(payload.c_str(), kKey, &result), -1) << failing;
    alloc_fail_at(-1);
    EXPECT_EQ(result, &sentinel) << failing;
    EXPECT_EQ(alloc_now().live, before.live) << failing;
  }
}

TEST_F(Alloc, BuffersAndRulesWithoutMemory) {
  len_buf buf{5, nullptr};
  alloc_fail_at(0);
  EXPECT_EQ(len_buf_set_text(&buf, "abc"), -1);
  EXPECT_EQ(buf.bytes, nullptr);
  EXPECT_EQ(buf.length, 5);

  // The pattern copy, then PCRE's own memory for the expression.
  for (int verbose : {0, 1}) {
    log_verbose = verbose;
    for (long failing = 0; failing < 2; ++failing) {
      match_rule rule{};
      const alloc_snapshot before = alloc_now();
      alloc_fail_at(failing);
      EXPECT_EQ(match_rule_from_text(&rule, "^abc$", MATCH_REGULAR, nullptr), -1) << failing;
      alloc_fail_at(-1);
      EXPECT_EQ(rule.pattern.bytes, nullptr);
      EXPECT_EQ(rule.pattern.length, 0);
      EXPECT_EQ(rule.regex, nullptr);
      if (!verbose) {
        EXPECT_EQ(alloc_now().live, before.live) << failing;
      }
    }
  }
  // PCRE says "failed to get memory", PCRE2 "failed to allocate heap memory".
  EXPECT_EQ(log_capture_count_framed(LOG_INFO, "PCRE compilation failed at offset 5: failed to ",
                                     " memory\n"),
            1)
      << log_capture_dump();
  EXPECT_EQ(log_capture_lines().size(), 1u);

  const len_buf src{3, const_cast<char *>("a b")};
  int32_t length = 77;
  alloc_fail_at(0);
  EXPECT_EQ(url_encode(&src, &length), nullptr);
  alloc_fail_at(-1);
  EXPECT_EQ(length, 77);
}

// The self-check whose encoder gets no memory decodes and compares nothing:
// it prints the sample and the negative verdict, and still exits with 0.
TEST_F(Alloc, SelftestWithoutMemory) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    dup2(fds[1], STDOUT_FILENO);
    // A buffer of its own, so that the first allocation is the encoder's.
    static char buffer[1024];
    setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    alloc_fail_at(0);
    url_codec_selftest();
  }
  close(fds[1]);
  std::string output;
  char chunk[256];
  ssize_t got;
  while ((got = read(fds[0], chunk, sizeof chunk)) > 0)
    output.append(chunk, static_cast<size_t>(got));
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(output,
            "ori:!@#$%^&*()_++|}{\":?><[]';.,/`-=qwertyuiopasdfghjklzxcvbnm\n"
            "dec not equal ori\n");
}

}  // namespace
