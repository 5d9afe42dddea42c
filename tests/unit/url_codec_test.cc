// SPDX-License-Identifier: MIT
#include "lib/url_codec.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Encodes bytes; out_length must agree with the text.
std::string encoded(const std::string &bytes) {
  const len_buf src{static_cast<int32_t>(bytes.size()), const_cast<char *>(bytes.data())};
  int32_t length = -7;
  char *text = url_encode(&src, &length);
  EXPECT_NE(text, nullptr);
  if (text == nullptr) return "<null>";
  std::string result(text);
  EXPECT_EQ(length, static_cast<int32_t>(result.size()));
  free(text);
  return result;
}

// Decodes text in exactly length + 1 heap bytes; returns the decoded bytes
// and checks the NUL and the untouched count.
std::string decoded(const std::string &text) {
  char *storage = static_cast<char *>(malloc(text.size() + 1));
  memcpy(storage, text.data(), text.size());
  storage[text.size()] = '#';
  len_buf buf{static_cast<int32_t>(text.size()), storage};
  const int32_t count = url_decode(&buf);
  EXPECT_EQ(buf.length, static_cast<int32_t>(text.size()));
  EXPECT_GE(count, 0);
  EXPECT_LE(count, buf.length);
  std::string result;
  if (count >= 0) {
    EXPECT_EQ(storage[count], '\0');
    result.assign(storage, static_cast<size_t>(count));
  }
  free(storage);
  return result;
}

const char SAMPLE[] = "!@#$%^&*()_++|}{\":?><[]';.,/`-=qwertyuiopasdfghjklzxcvbnm";
const char SAMPLE_ENCODED[] =
    "%21%40%23%24%25%5E%26%2A%28%29_%2B%2B%7C%7D%7B%22%3A%3F%3E%3C%5B%5D%27%3B.%2C%2F%60-%3D"
    "qwertyuiopasdfghjklzxcvbnm";

// --- url_encode --------------------------------------------------------------

TEST(UrlEncode, ByteClasses) {
  EXPECT_EQ(encoded("a b"), "a+b");
  EXPECT_EQ(encoded(std::string(1, '\0')), "%00");
  EXPECT_EQ(encoded("~"), "%7E");
  EXPECT_EQ(encoded("\xFF"), "%FF");
  EXPECT_EQ(encoded(".-_"), ".-_");
  EXPECT_EQ(encoded("AZaz09"), "AZaz09");
  EXPECT_EQ(encoded("*+%"), "%2A%2B%25");
  EXPECT_EQ(encoded("@[`{/:"), "%40%5B%60%7B%2F%3A");
  EXPECT_EQ(encoded("\n\x7F\x80"), "%0A%7F%80");
  EXPECT_EQ(encoded(SAMPLE), SAMPLE_ENCODED);
  EXPECT_EQ(std::string(SAMPLE_ENCODED).size(), 113u);
}

TEST(UrlEncode, EveryByteValueRoundTrips) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  const std::string text = encoded(all);
  EXPECT_EQ(text.find(' '), std::string::npos);
  EXPECT_EQ(text.size(), 3u * 256 - 2 * 66);  // 65 unreserved bytes and the space: 1 each
  EXPECT_EQ(decoded(text), all);
}

TEST(UrlEncode, EmptyAndRefusedInputs) {
  const len_buf empty{0, nullptr};
  int32_t length = -1;
  char *text = url_encode(&empty, &length);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(length, 0);
  free(text);

  length = 99;
  EXPECT_EQ(url_encode(nullptr, &length), nullptr);
  const len_buf negative{-1, const_cast<char *>("a")};
  EXPECT_EQ(url_encode(&negative, &length), nullptr);
  const len_buf no_bytes{4, nullptr};
  EXPECT_EQ(url_encode(&no_bytes, &length), nullptr);
  // 3 x count + 1 must fit the 32-bit count: refused, not truncated, before
  // any byte is read.
  const len_buf huge{(INT32_MAX - 1) / 3 + 1, const_cast<char *>("a")};
  EXPECT_EQ(url_encode(&huge, &length), nullptr);
  EXPECT_EQ(length, 99);

  const len_buf one{1, const_cast<char *>("x")};
  text = url_encode(&one, nullptr);  // the length is optional
  EXPECT_STREQ(text, "x");
  free(text);
}

// --- url_decode --------------------------------------------------------------

TEST(UrlDecode, EscapesPlusAndStrayPercents) {
  EXPECT_EQ(decoded("a+b%41%4a%zz%4"), std::string("a bAJ%zz%4"));
  EXPECT_EQ(decoded("%2B"), "+");
  EXPECT_EQ(decoded("%252B"), "%2B");  // decoded once only
  EXPECT_EQ(decoded("%"), "%");
  EXPECT_EQ(decoded("100%"), "100%");
  EXPECT_EQ(decoded("%4"), "%4");
  EXPECT_EQ(decoded("%g1%1g"), "%g1%1g");
  EXPECT_EQ(decoded("%00x"), std::string("\0x", 2));
  EXPECT_EQ(decoded("%fF%Ff"), "\xFF\xFF");
  EXPECT_EQ(decoded(""), "");
}

TEST(UrlDecode, ReturnsCountAndKeepsLength) {
  char text[] = "a+b%41%4a%zz%4";
  len_buf buf{14, text};
  EXPECT_EQ(url_decode(&buf), 10);
  EXPECT_EQ(buf.length, 14);
  EXPECT_EQ(std::string(text, 11), std::string("a bAJ%zz%4\0", 11));
}

TEST(UrlDecode, ReadsNothingBeyondTheCount) {
  // The bytes after the count look like the rest of an escape.
  char text[] = "ab%4142";
  len_buf buf{4, text};
  EXPECT_EQ(url_decode(&buf), 4);
  EXPECT_STREQ(text, "ab%4");
}

TEST(UrlDecode, RefusesMalformedRecords) {
  EXPECT_EQ(url_decode(nullptr), -1);
  char text[] = "%41";
  len_buf negative{-3, text};
  EXPECT_EQ(url_decode(&negative), -1);
  EXPECT_STREQ(text, "%41");
  len_buf no_bytes{3, nullptr};
  EXPECT_EQ(url_decode(&no_bytes), -1);
  len_buf nothing{0, nullptr};
  EXPECT_EQ(url_decode(&nothing), 0);
}

TEST(UrlDecode, EveryPrefixIsHandled) {
  const std::string valid = "q=caf%C3%A9+au+lait&x=%2B%25%7e%zz%4";
  for (size_t n = 0; n <= valid.size(); ++n) {
    const std::string prefix = valid.substr(0, n);
    const std::string result = decoded(prefix);
    EXPECT_LE(result.size(), prefix.size());
    // Spaces come from plus signs only (this input escapes no space).
    EXPECT_EQ(result.find(' ') != std::string::npos, prefix.find('+') != std::string::npos)
        << prefix;
  }
  EXPECT_EQ(decoded(valid), "q=caf\xC3\xA9 au lait&x=+%~%zz%4");
}

// --- character routines ------------------------------------------------------

TEST(UrlCodec, HexPairValue) {
  EXPECT_EQ(hex_pair_value("4a"), 74);
  EXPECT_EQ(hex_pair_value("4A"), 74);
  EXPECT_EQ(hex_pair_value("ff"), 255);
  EXPECT_EQ(hex_pair_value("00"), 0);
  EXPECT_EQ(hex_pair_value("a0"), 160);
  EXPECT_EQ(hex_pair_value("9F"), 159);
}

TEST(UrlCodec, StrLowerTouchesOnlyAsciiCapitals) {
  char text[] = "ABC xyz";
  str_lower(text, 7);
  EXPECT_STREQ(text, "abc xyz");
  char partial[] = "ABC xyz";
  str_lower(partial, 2);
  EXPECT_STREQ(partial, "abC xyz");
  char edges[] = "@[Z`{\xC9\xDE";
  str_lower(edges, 7);
  EXPECT_STREQ(edges, "@[z`{\xC9\xDE");
  char untouched[] = "AB";
  str_lower(untouched, 0);
  str_lower(untouched, -5);
  str_lower(nullptr, 3);
  EXPECT_STREQ(untouched, "AB");
}

// --- the self-check program --------------------------------------------------

TEST(UrlCodecSelftest, ProgramPrintsFourLinesAndExitsZero) {
  // Quoted for the shell: the build folder's path may hold blanks.
  FILE *pipe = popen((std::string("'") + URL_CODEC_SELFTEST_BIN + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[256];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(output, std::string("ori:") + SAMPLE + "\nenc:" + SAMPLE_ENCODED + "\ndec:" + SAMPLE +
                        "\ndec equal ori\n");
}

}  // namespace
