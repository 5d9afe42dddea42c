// SPDX-License-Identifier: MIT
// Speed of the support library's URL codec, match rules and payload
// decoding, each beside the reference it is measured against.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <mbedtls/aes.h>
#include <mbedtls/base64.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lib/log_verbose.h"
#include "lib/match_rule.h"
#include "lib/payload.h"
#include "lib/url_codec.h"

volatile sig_atomic_t log_verbose = 0;

namespace {

// The fastest of the repetitions: on a shared machine the least disturbed
// run is the closest to what the code itself costs.
double fastest(const std::vector<double> &runs) {
  double best = runs.empty() ? 0.0 : runs[0];
  for (double run : runs) best = run < best ? run : best;
  return best;
}

// Mixed bytes as a form body carries them: mostly letters and digits, some
// spaces and punctuation, some bytes above 0x7F.
std::string mixed_bytes(size_t size) {
  static const char kCommon[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._";
  std::string out(size, '\0');
  uint32_t state = 12345;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    const uint32_t r = (state >> 16) & 0xFF;
    if (r < 160) {
      out[i] = kCommon[r % (sizeof kCommon - 1)];
    } else if (r < 185) {
      out[i] = ' ';
    } else {
      out[i] = static_cast<char>(r * 7);
    }
  }
  return out;
}

void BM_url_encode(benchmark::State &state) {
  const std::string input = mixed_bytes(static_cast<size_t>(state.range(0)));
  const len_buf src{static_cast<int32_t>(input.size()), const_cast<char *>(input.data())};
  for (auto _ : state) {
    char *text = url_encode(&src, nullptr);
    benchmark::DoNotOptimize(text);
    free(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_url_encode)->Arg(64)->Arg(4 << 10)->Arg(1 << 20)->ComputeStatistics("min", fastest);

void BM_curl_easy_escape(benchmark::State &state) {
  const std::string input = mixed_bytes(static_cast<size_t>(state.range(0)));
  CURL *curl = curl_easy_init();
  for (auto _ : state) {
    char *text = curl_easy_escape(curl, input.data(), static_cast<int>(input.size()));
    benchmark::DoNotOptimize(text);
    curl_free(text);
  }
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_curl_easy_escape)
    ->Arg(64)
    ->Arg(4 << 10)
    ->Arg(1 << 20)
    ->ComputeStatistics("min", fastest);

// Host-name-sized subjects, each with room for the byte after it.
void BM_match_text(benchmark::State &state) {
  static const char *const kPatterns[] = {"example", "img", ".com", "img3.cdn.example.com",
                                          "^img[0-9]+\\.cdn\\.example\\.(com|net)$"};
  const auto mode = static_cast<int32_t>(state.range(0));
  match_rule rule{};
  if (match_rule_from_text(&rule, kPatterns[mode], mode, nullptr) != 0) {
    state.SkipWithError("rule not built");
    return;
  }
  std::vector<std::string> hosts = {"img3.cdn.example.com",           "www.example.net",
                                    "static.assets.cdn-provider.org", "IMG12.CDN.EXAMPLE.NET",
                                    "api.service.example.com",        "mirror.local"};
  std::vector<len_buf> subjects;
  for (std::string &host : hosts)
    subjects.push_back({static_cast<int32_t>(host.size()), host.data()});
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(match_rule_test(&rule, &subjects[i]));
    if (++i == subjects.size()) i = 0;
  }
  match_rule_release(&rule);
  state.SetLabel(match_mode_name(static_cast<uint32_t>(mode)));
}
BENCHMARK(BM_match_text)->DenseRange(0, 4)->ComputeStatistics("min", fastest);

const unsigned char kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                                0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

// base64 of a cipher text of size bytes (its last plain byte is 16); size
// is a positive multiple of the AES block, else the text is empty.
std::string payload_of(size_t size) {
  if (size == 0 || size % 16 != 0) return {};
  std::vector<unsigned char> plain(size, 'p');
  plain[size - 1] = 16;
  std::vector<unsigned char> cipher(size);
  unsigned char iv[16] = {};
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  (void)mbedtls_aes_setkey_enc(&aes, kKey, 128);
  (void)mbedtls_aes_crypt_cbc(&aes, MBEDTLS_AES_ENCRYPT, size, iv, plain.data(), cipher.data());
  mbedtls_aes_free(&aes);
  size_t length = 0;
  (void)mbedtls_base64_encode(nullptr, 0, &length, cipher.data(), size);
  std::string text(length, '\0');
  (void)mbedtls_base64_encode(reinterpret_cast<unsigned char *>(text.data()), length, &length,
                              cipher.data(), size);
  text.resize(length);
  return text;
}

void BM_payload_decrypt(benchmark::State &state) {
  const std::string text = payload_of(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    char *plain = nullptr;
    if (payload_decrypt(text.c_str(), kKey, &plain) != 0) state.SkipWithError("failed");
    benchmark::DoNotOptimize(plain);
    free(plain);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_payload_decrypt)
    ->RangeMultiplier(4)
    ->Range(16, 64 << 10)
    ->ComputeStatistics("min", fastest);

// The bare mbedTLS calls that payload_decrypt wraps, into buffers made once
// outside the loop: the floor that the wrapper is measured against.
void BM_bare_mbedtls(benchmark::State &state) {
  const std::string text = payload_of(static_cast<size_t>(state.range(0)));
  const auto *source = reinterpret_cast<const unsigned char *>(text.data());
  std::vector<unsigned char> decoded(static_cast<size_t>(state.range(0)) + 1);
  std::vector<unsigned char> plain(static_cast<size_t>(state.range(0)) + 1);
  for (auto _ : state) {
    size_t size = 0;
    (void)mbedtls_base64_decode(nullptr, 0, &size, source, text.size());
    size_t written = 0;
    (void)mbedtls_base64_decode(decoded.data(), size, &written, source, text.size());
    mbedtls_aes_context aes;
    mbedtls_aes_init(&aes);
    (void)mbedtls_aes_setkey_dec(&aes, kKey, 128);
    unsigned char iv[16] = {};
    (void)mbedtls_aes_crypt_cbc(&aes, MBEDTLS_AES_DECRYPT, written, iv, decoded.data(),
                                plain.data());
    mbedtls_aes_free(&aes);
    plain[written - plain[written - 1]] = '\0';
    benchmark::DoNotOptimize(plain.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_bare_mbedtls)
    ->RangeMultiplier(4)
    ->Range(16, 64 << 10)
    ->ComputeStatistics("min", fastest);

}  // namespace
