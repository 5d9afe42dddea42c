// SPDX-License-Identifier: MIT
#include "lib/len_buf.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/ascii_case.h"
#include "lib/log_verbose.h"
#include "lib/text.h"
#include "tests/support/log_capture.h"

namespace {

// A record over bytes that the test owns (never released through len_buf).
len_buf view(const char *bytes, int32_t length) {
  return len_buf{length, const_cast<char *>(bytes)};
}

class LenBuf : public ::testing::Test {
 protected:
  void SetUp() override {
    log_verbose = 0;
    log_capture_clear();
  }
  void TearDown() override { log_verbose = 0; }
};

TEST_F(LenBuf, SetTextCopiesTheTextWithItsNul) {
  char text[] = "host.example";
  len_buf buf{};
  ASSERT_EQ(len_buf_set_text(&buf, text), 0);
  EXPECT_EQ(buf.length, 12);
  ASSERT_NE(buf.bytes, nullptr);
  EXPECT_NE(buf.bytes, text);
  EXPECT_EQ(std::string(buf.bytes, 13), std::string("host.example\0", 13));
  text[0] = 'X';  // the copy does not follow its source
  EXPECT_EQ(buf.bytes[0], 'h');
  len_buf_release(&buf);

  len_buf empty{};
  ASSERT_EQ(len_buf_set_text(&empty, ""), 0);
  EXPECT_EQ(empty.length, 0);
  ASSERT_NE(empty.bytes, nullptr);
  EXPECT_EQ(empty.bytes[0], '\0');
  EXPECT_EQ(len_buf_is_set(&empty), 0);  // bytes, but count 0: empty
  len_buf_release(&empty);

  len_buf untouched{5, nullptr};
  EXPECT_EQ(len_buf_set_text(&untouched, nullptr), -1);
  EXPECT_EQ(untouched.length, 5);
  EXPECT_EQ(len_buf_set_text(nullptr, "x"), -1);
}

TEST_F(LenBuf, AssignSharesTheBytes) {
  len_buf owner{};
  ASSERT_EQ(len_buf_set_text(&owner, "abc"), 0);
  len_buf other{7, nullptr};
  EXPECT_EQ(len_buf_assign(&owner, &other), 0);
  EXPECT_EQ(other.length, 3);
  EXPECT_EQ(other.bytes, owner.bytes);
  len_buf_release(&owner);  // exactly one of the two releases
}

TEST_F(LenBuf, CopyFillsExistingStorageWithoutNul) {
  char storage[8];
  memset(storage, '#', sizeof storage);
  len_buf dst = view(storage, 0);
  len_buf src = view("a\0c", 3);
  EXPECT_EQ(len_buf_copy(&src, &dst), 0);
  EXPECT_EQ(dst.length, 3);
  EXPECT_EQ(std::string(storage, 5), std::string("a\0c##", 5));

  // Missing records or bytes, or a negative count, change nothing.
  len_buf no_bytes{2, nullptr};
  EXPECT_EQ(len_buf_copy(&no_bytes, &dst), 0);
  EXPECT_EQ(len_buf_copy(&src, &no_bytes), 0);
  EXPECT_EQ(len_buf_copy(nullptr, &dst), 0);
  EXPECT_EQ(len_buf_copy(&src, nullptr), 0);
  len_buf negative = view("zz", -2);
  EXPECT_EQ(len_buf_copy(&negative, &dst), 0);
  EXPECT_EQ(dst.length, 3);
  EXPECT_EQ(no_bytes.length, 2);
  EXPECT_EQ(std::string(storage, 5), std::string("a\0c##", 5));
}

TEST_F(LenBuf, IsSetNeedsRecordCountAndBytes) {
  len_buf set = view("abc", 3);
  len_buf zero = view("abc", 0);
  len_buf no_bytes{3, nullptr};
  EXPECT_EQ(len_buf_is_set(&set), -1);
  EXPECT_EQ(len_buf_is_set(&zero), 0);
  EXPECT_EQ(len_buf_is_set(&no_bytes), 0);
  EXPECT_EQ(len_buf_is_set(nullptr), 0);
}

TEST_F(LenBuf, ComparisonsWithAndWithoutCase) {
  len_buf upper = view("ABC", 3);
  len_buf lower = view("abc", 3);
  EXPECT_EQ(len_buf_casecmp(&upper, &lower), 0);
  EXPECT_EQ(len_buf_cmp(&upper, &lower), -1);
  EXPECT_EQ(len_buf_cmp(&lower, &lower), 0);

  len_buf null_a{0, nullptr};
  len_buf null_b{0, nullptr};
  EXPECT_EQ(len_buf_casecmp(&null_a, &null_b), 0);
  EXPECT_EQ(len_buf_cmp(&null_a, &null_b), 0);

  len_buf longer = view("abcd", 4);
  EXPECT_EQ(len_buf_casecmp(&lower, &longer), -1);
  EXPECT_EQ(len_buf_cmp(&lower, &longer), -1);

  len_buf missing{3, nullptr};
  EXPECT_EQ(len_buf_casecmp(&lower, &missing), -1);
  EXPECT_EQ(len_buf_cmp(&missing, &lower), -1);

  // A negative count describes no bytes: never equal, nothing read.
  len_buf negative_a = view("abc", -3);
  len_buf negative_b = view("abc", -3);
  EXPECT_EQ(len_buf_casecmp(&negative_a, &negative_b), -1);
  EXPECT_EQ(len_buf_cmp(&negative_a, &negative_b), -1);
}

TEST_F(LenBuf, ComparisonsAroundNulBytes) {
  // The text comparison ends, as equal, where both hold a NUL; the exact one
  // goes on over every counted byte.
  len_buf a = view("ab\0X", 4);
  len_buf b = view("AB\0y", 4);
  EXPECT_EQ(len_buf_casecmp(&a, &b), 0);
  EXPECT_EQ(len_buf_cmp(&a, &b), -1);
  // A NUL on one side only is a difference.
  len_buf c = view("ab\0x", 4);
  len_buf d = view("abcx", 4);
  EXPECT_EQ(len_buf_casecmp(&c, &d), -1);
}

TEST_F(LenBuf, CaseFoldsOnlyAsciiLetters) {
  // Latin-1 and UTF-8 forms of E with acute accent, upper and lower case.
  len_buf latin_upper = view("\xC9", 1);
  len_buf latin_lower = view("\xE9", 1);
  len_buf utf8_upper = view("\xC3\x89", 2);
  len_buf utf8_lower = view("\xC3\xA9", 2);
  EXPECT_EQ(len_buf_casecmp(&latin_upper, &latin_lower), -1);
  EXPECT_EQ(len_buf_casecmp(&utf8_upper, &utf8_lower), -1);
  // Neighbours of the letter ranges do not fold: @ / ` and [ / {.
  len_buf at = view("@[", 2);
  len_buf grave = view("`{", 2);
  EXPECT_EQ(len_buf_casecmp(&at, &grave), -1);
  EXPECT_EQ(ascii_ncasecmp("Z", "z", 1), 0);
  EXPECT_LT(ascii_ncasecmp("a", "b", 1), 0);
  EXPECT_GT(ascii_ncasecmp("\xE9", "e", 1), 0);  // compared unsigned
}

TEST_F(LenBuf, CaseInsensitiveSearch) {
  EXPECT_STREQ(ascii_casestr("xxABcxx", "abc", 3), "ABcxx");
  EXPECT_STREQ(ascii_casestr("aab", "ab", 2), "ab");
  EXPECT_EQ(ascii_casestr("ab", "abc", 3), nullptr);
  EXPECT_EQ(ascii_casestr("", "a", 1), nullptr);
  EXPECT_STREQ(ascii_casestr("xy", "", 0), "xy");
  EXPECT_EQ(ascii_casestr("caf\xC9", "\xE9", 1), nullptr);
}

TEST_F(LenBuf, DumpWritesOneVerboseLine) {
  len_buf abc = view("abc", 3);
  len_buf empty{};
  len_buf_dump(&abc, "\t");
  len_buf_dump(&empty, "x");
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();

  log_verbose = 1;
  len_buf_dump(&abc, "\t");
  len_buf_dump(&empty, "x");
  len_buf_dump(nullptr, nullptr);
  len_buf_dump(&abc, nullptr);
  // The count bounds what is shown, also without a NUL behind it.
  len_buf head = view("abcdef", 2);
  len_buf_dump(&head, "");
  len_buf negative = view("abc", -1);
  len_buf_dump(&negative, "n:");
  EXPECT_EQ(log_capture_count(LOG_INFO, "\tstring: abc(3)\n"), 1) << log_capture_dump();
  EXPECT_EQ(log_capture_count(LOG_INFO, "xstring empty.\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_INFO, "string empty.\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_INFO, "string: abc(3)\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_INFO, "string: ab(2)\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_INFO, "n:string empty.\n"), 1);
  EXPECT_EQ(log_capture_lines().size(), 6u);
}

TEST_F(LenBuf, ReleaseLeavesEmptyAndMayRepeat) {
  len_buf buf{};
  ASSERT_EQ(len_buf_set_text(&buf, "abc"), 0);
  len_buf_release(&buf);
  EXPECT_EQ(buf.bytes, nullptr);
  EXPECT_EQ(buf.length, 0);
  len_buf_release(&buf);
  EXPECT_EQ(buf.bytes, nullptr);
  EXPECT_EQ(buf.length, 0);
  len_buf count_only{9, nullptr};
  len_buf_release(&count_only);
  EXPECT_EQ(count_only.length, 0);
  len_buf_release(nullptr);
}

TEST(Text, FindLastCountsOverlappingHits) {
  const char *aaa = "aaa";
  EXPECT_EQ(str_find_last(aaa, "aa"), aaa + 1);
  const char *path = "a/b/c";
  EXPECT_EQ(str_find_last(path, "/"), path + 3);
  EXPECT_EQ(str_find_last(path, "a/b/c"), path);
  EXPECT_EQ(str_find_last("abc", ""), nullptr);
  EXPECT_EQ(str_find_last("abc", "x"), nullptr);
  EXPECT_EQ(str_find_last("ab", "abc"), nullptr);
  EXPECT_EQ(str_find_last(nullptr, "a"), nullptr);
  EXPECT_EQ(str_find_last("a", nullptr), nullptr);
}

TEST(Text, PrintableIsSpaceThroughTilde) {
  EXPECT_EQ(str_printable(""), 0);
  EXPECT_EQ(str_printable(" azAZ09~!"), 0);
  EXPECT_EQ(str_printable("a\tb"), -1);
  EXPECT_EQ(str_printable("caf\xE9"), -1);
  EXPECT_EQ(str_printable("\x7F"), -1);
  EXPECT_EQ(str_printable("\x1F"), -1);
  EXPECT_EQ(str_printable(nullptr), -1);
}

TEST(Text, SkipCharStopsAtCount) {
  const char *spaced = "   x";
  EXPECT_EQ(str_skip_char(spaced, 4, ' '), spaced + 3);
  const char *spaces = "    ";
  EXPECT_EQ(str_skip_char(spaces, 4, ' '), spaces + 4);
  EXPECT_EQ(str_skip_char(spaces, 2, ' '), spaces + 2);  // never past count
  EXPECT_EQ(str_skip_char(spaced, 0, ' '), spaced);
  const char nuls[] = {'\0', '\0', 'a'};
  EXPECT_EQ(str_skip_char(nuls, 3, '\0'), nuls + 2);
  EXPECT_EQ(str_skip_char(nullptr, 3, ' '), nullptr);
}

}  // namespace

TEST(Text, DecimalReadHoldsItsBoundAtEveryWidth) {
  struct {
    const char *digits;
    uint64_t max;
    bool read;
    uint64_t value;
  } cases[] = {
      {"5", 5, true, 5},
      {"7", 5, false, 0},  // one digit past a bound under ten
      {"255", 255, true, 255},
      {"256", 255, false, 0},
      {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
      {"18446744073709551616", UINT64_MAX, false, 0},
      {"4294967296", UINT32_MAX, false, 0},
  };
  for (const auto &c : cases) {
    uint64_t value = 0;
    EXPECT_EQ(decimal_read(c.digits, c.max, leading_zeros::TAKEN, &value), c.read) << c.digits;
    if (c.read) {
      EXPECT_EQ(value, c.value) << c.digits;
    }
  }
}
