// SPDX-License-Identifier: MIT
#include "lib/match_rule.h"

#include <gtest/gtest.h>
#include <json-c/json.h>
#include <syslog.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "lib/log_verbose.h"
#include "tests/support/log_capture.h"

namespace {

// A subject in exactly length + 1 heap bytes whose last byte is a sentinel
// that every match must put back.
class subject_text {
 public:
  explicit subject_text(const std::string &text, char sentinel = '#')
      : sentinel_(sentinel), storage_(static_cast<char *>(malloc(text.size() + 1))) {
    memcpy(storage_, text.data(), text.size());
    storage_[text.size()] = sentinel;
    buf_ = {static_cast<int32_t>(text.size()), storage_};
  }
  ~subject_text() { free(storage_); }
  subject_text(const subject_text &) = delete;
  subject_text &operator=(const subject_text &) = delete;

  len_buf *buf() { return &buf_; }
  bool restored() const {
    return buf_.length >= 0 && storage_[buf_.length] == sentinel_ && buf_.bytes == storage_;
  }

 private:
  char sentinel_;
  char *storage_;
  len_buf buf_;
};

// A pattern as the builders make it: its bytes and a NUL behind.
class pattern_text {
 public:
  explicit pattern_text(const std::string &text) : text_(text) {
    buf_ = {static_cast<int32_t>(text_.size()), text_.data()};
  }
  const len_buf *buf() const { return &buf_; }

 private:
  std::string text_;
  len_buf buf_;
};

// A compiled expression owned by the test, made by the library's own
// backend through a mode-4 rule.
class regex_guard {
 public:
  explicit regex_guard(const char *expression) {
    EXPECT_EQ(match_rule_from_text(&rule_, expression, MATCH_REGULAR, nullptr), 0) << expression;
  }
  ~regex_guard() { match_rule_release(&rule_); }
  regex_guard(const regex_guard &) = delete;
  regex_guard &operator=(const regex_guard &) = delete;
  const match_regex *get() const { return rule_.regex; }

 private:
  match_rule rule_{};
};

int match(const std::string &subject, const std::string &pattern, uint8_t mode,
          const match_regex *regex = nullptr) {
  subject_text s(subject);
  pattern_text p(pattern);
  const int result = match_text(s.buf(), regex, p.buf(), mode);
  EXPECT_TRUE(s.restored()) << "subject " << subject << " mode " << int(mode);
  return result;
}

json_object *parse(const char *text) {
  json_object *object = json_tokener_parse(text);
  EXPECT_NE(object, nullptr) << text;
  return object;
}

// A built rule, released at the end of the test.
struct rule_holder {
  match_rule rule{};
  ~rule_holder() { match_rule_release(&rule); }
};

int from_json(match_rule *rule, const char *text) {
  json_object *object = parse(text);
  const int result = match_rule_from_json(rule, object);
  json_object_put(object);  // the rule keeps nothing of the object
  return result;
}

class Match : public ::testing::Test {
 protected:
  void SetUp() override {
    log_verbose = 0;
    log_capture_clear();
  }
  void TearDown() override { log_verbose = 0; }
};

// --- match_text, by mode ---------------------------------------------------

TEST_F(Match, IncludeFindsPatternAnywhereIgnoringCase) {
  EXPECT_EQ(match("xxabcxx", "ABC", MATCH_INCLUDE), 0);
  EXPECT_EQ(match("cdn.Example.COM", "example.com", MATCH_INCLUDE), 0);
  EXPECT_EQ(match("abc", "abc", MATCH_INCLUDE), 0);
  EXPECT_EQ(match("aab", "ab", MATCH_INCLUDE), 0);
  EXPECT_EQ(match("xxabxcx", "abc", MATCH_INCLUDE), -1);
}

TEST_F(Match, PrefixAndSuffixIgnoreCase) {
  EXPECT_EQ(match("ABCD", "ab", MATCH_PREFIX), 0);
  EXPECT_NE(match("xabc", "ab", MATCH_PREFIX), 0);
  EXPECT_EQ(match("abCD", "cd", MATCH_SUFFIX), 0);
  EXPECT_NE(match("abcdx", "cd", MATCH_SUFFIX), 0);
  EXPECT_EQ(match("cd", "CD", MATCH_SUFFIX), 0);
}

TEST_F(Match, AllNeedsTheSameLength) {
  EXPECT_EQ(match("ABC", "abc", MATCH_ALL), 0);
  EXPECT_EQ(match("abcd", "abc", MATCH_ALL), -1);
  EXPECT_NE(match("abd", "abc", MATCH_ALL), 0);
}

TEST_F(Match, RegularIsCaseSensitivePcre) {
  regex_guard anchored("^a.c$");
  EXPECT_EQ(match("abc", "", MATCH_REGULAR, anchored.get()), 0);
  EXPECT_EQ(match("ABC", "", MATCH_REGULAR, anchored.get()), -1);
  EXPECT_EQ(match("abcd", "", MATCH_REGULAR, anchored.get()), -1);
  // Three capturing groups fill the vector of nine: still a match.
  regex_guard groups("(a)(b)(c)(d)");
  EXPECT_EQ(match("xabcdx", "", MATCH_REGULAR, groups.get()), 0);
  regex_guard host("^([a-z0-9-]+\\.)*example\\.com$");
  EXPECT_EQ(match("cdn.img.example.com", "", MATCH_REGULAR, host.get()), 0);
  EXPECT_EQ(match("example.com.evil", "", MATCH_REGULAR, host.get()), -1);
}

// Backtracking runs in bounded memory on either regular-expression library:
// a repeated group over a long subject is a miss, never a stack overflow,
// while one of ordinary length still matches.
TEST_F(Match, DeepBacktrackingEndsAsAMiss) {
  regex_guard repeated("^(?:a|b)*c$");
  std::string ordinary;
  for (int i = 0; i < 80; ++i) ordinary += "ab";
  EXPECT_EQ(match(ordinary + "c", "", MATCH_REGULAR, repeated.get()), 0);
  EXPECT_EQ(match(ordinary + "x", "", MATCH_REGULAR, repeated.get()), -1);
  std::string hostile;
  for (int i = 0; i < 50000; ++i) hostile += "ab";
  EXPECT_EQ(match(hostile + "c", "", MATCH_REGULAR, repeated.get()), -1);
}

std::string repeat(const std::string &text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// One table for either regular-expression library, with the same results:
// many groups, long repeated groups, back references past the third group.
TEST_F(Match, BothLibrariesMatchTheSame) {
  // Literal-first concatenations are built with append: GCC 12's -Wrestrict
  // misreads the inlined "text" + std::string&& in Release builds.
  const std::string url = std::string("http://cdn.example.com/").append(repeat("seg/", 150));
  const struct {
    std::string expression;
    std::string subject;
    int result;
  } cases[] = {
      {repeat("(a)", 46), repeat("a", 46), 0},
      {repeat("(a)", 46), repeat("a", 45), -1},
      {repeat("(a)", 200), std::string("x").append(repeat("a", 200)), 0},
      {std::string("^").append(repeat("(a)?", 8)).append(repeat("a", 8)).append("$"),
       repeat("a", 8), 0},
      {"^http://[^/]+/(seg/)*\\?", url + "?", 0},
      {"^http://[^/]+/(seg/)*\\?", url + "x", -1},
      {"^(?:([a-z]+)/)*end$", repeat("path/", 120) + "end", 0},
      {"^((a)(b)(c))*$", repeat("abc", 100), 0},
      {"(a)(b)(c)(d)(e)\\5\\4", "xabcdeedx", 0},
      {"(a)(b)(c)(d)(e)\\5\\4", "xabcdedex", -1},
      {"^(?:(\\d+)\\.){3}(\\d+)$", "192.168.100.200", 0},
      {"^(?=.*cdn)([a-z.]+)\\.com$", "img.cdn.example.com", 0},
      {"^(?=.*cdn)([a-z.]+)\\.com$", "img.example.com", -1},
  };
  for (const auto &c : cases) {
    regex_guard regex(c.expression.c_str());
    EXPECT_EQ(match(c.subject, "", MATCH_REGULAR, regex.get()), c.result)
        << c.expression.substr(0, 60) << " on " << c.subject.substr(0, 60);
    // The same rule again: what a match keeps changes no later result.
    EXPECT_EQ(match(c.subject, "", MATCH_REGULAR, regex.get()), c.result);
  }
}

TEST_F(Match, EmptyInputsAndUnknownModesNeverMatch) {
  regex_guard any(".*");
  for (uint8_t mode = 0; mode <= 4; ++mode) {
    EXPECT_EQ(match("", "a", mode, any.get()), -1) << int(mode);
  }
  for (uint8_t mode = 0; mode <= 3; ++mode) {
    EXPECT_EQ(match("abc", "", mode), -1) << int(mode);
    EXPECT_EQ(match("ab", "abc", mode), -1) << int(mode);
  }
  EXPECT_EQ(match("abc", "abc", 9), -1);
  EXPECT_EQ(match("abc", "abc", 255), -1);
  EXPECT_EQ(match("abc", "abc", MATCH_REGULAR, nullptr), -1);
  EXPECT_STREQ(match_mode_name(9), "not support");
  EXPECT_STREQ(match_mode_name(static_cast<uint32_t>(-1)), "not support");
  EXPECT_STREQ(match_mode_name(0), "include");
  EXPECT_STREQ(match_mode_name(1), "prefix");
  EXPECT_STREQ(match_mode_name(2), "suffix");
  EXPECT_STREQ(match_mode_name(3), "all");
  EXPECT_STREQ(match_mode_name(4), "regular");
}

// The byte after the subject goes back on every path, refusals included.
TEST_F(Match, ByteAfterSubjectIsRestoredOnEveryPath) {
  regex_guard regex("b");
  pattern_text ab("ab");
  pattern_text empty("");
  pattern_text longer("abcdef");
  for (char sentinel : {'#', '\0', '\xFF'}) {
    for (int mode : {0, 1, 2, 3, 4, 7}) {
      for (const pattern_text *pattern : {&ab, &empty, &longer}) {
        for (const match_regex *expression :
             {regex.get(), static_cast<const match_regex *>(nullptr)}) {
          subject_text subject("xab", sentinel);
          (void)match_text(subject.buf(), expression, pattern->buf(), static_cast<uint8_t>(mode));
          EXPECT_TRUE(subject.restored()) << mode;
        }
      }
    }
  }
  // Refused before the subject is touched at all.
  subject_text subject("abc");
  EXPECT_EQ(match_text(subject.buf(), nullptr, nullptr, MATCH_INCLUDE), -1);
  EXPECT_EQ(match_text(nullptr, regex.get(), ab.buf(), MATCH_REGULAR), -1);
  EXPECT_EQ(match_text(subject.buf(), regex.get(), nullptr, MATCH_REGULAR), -1);
  EXPECT_TRUE(subject.restored());
}

// The sentinel after the subject must not take part in the match.
TEST_F(Match, SubjectEndsAtItsCount) {
  subject_text subject("ab", 'c');
  pattern_text abc("abc");
  pattern_text bc("bc");
  EXPECT_EQ(match_text(subject.buf(), nullptr, bc.buf(), MATCH_INCLUDE), -1);
  regex_guard regex("abc");
  EXPECT_EQ(match_text(subject.buf(), regex.get(), abc.buf(), MATCH_REGULAR), -1);
  regex_guard end("b$");
  EXPECT_EQ(match_text(subject.buf(), end.get(), abc.buf(), MATCH_REGULAR), 0);
  EXPECT_TRUE(subject.restored());
}

TEST_F(Match, NulBytesInsideSubjectAndPattern) {
  const std::string abc_def("abc\0def", 7);
  EXPECT_EQ(match(abc_def, "def", MATCH_INCLUDE), -1);  // the text ends at the NUL
  regex_guard def("def");
  EXPECT_EQ(match(abc_def, "x", MATCH_REGULAR, def.get()), 0);  // the regex sees all 7
  EXPECT_EQ(match(abc_def, "ABC", MATCH_PREFIX), 0);
  // The suffix comparison starts behind the NUL, at count minus pattern count.
  EXPECT_EQ(match(abc_def, "DEF", MATCH_SUFFIX), 0);
  EXPECT_EQ(match(abc_def, std::string("ABC\0XYZ", 7), MATCH_ALL), 0);  // equal up to NUL
  // A pattern with a NUL reads as the text before it.
  EXPECT_EQ(match("xxabyy", std::string("ab\0zz", 5), MATCH_INCLUDE), 0);
  EXPECT_NE(match("abzzz", std::string("ab\0zz", 5), MATCH_PREFIX), 0);
  EXPECT_EQ(match(std::string("ab\0yy", 5), std::string("ab\0zz", 5), MATCH_PREFIX), 0);
}

TEST_F(Match, CaseFoldsOnlyAsciiLetters) {
  EXPECT_EQ(match("caf\xC9", "\xE9", MATCH_INCLUDE), -1);
  EXPECT_NE(match("\xC3\x89t\xC3\xA9", "\xC3\xA9T", MATCH_PREFIX), 0);
  EXPECT_EQ(match("\xC3\x89T\xC3\xA9", "\xC3\x89t\xC3\xA9", MATCH_ALL), 0);
  EXPECT_NE(match("a[", "A{", MATCH_ALL), 0);
  EXPECT_NE(match("@", "`", MATCH_ALL), 0);
  regex_guard lower("\xC3\xA9");
  EXPECT_EQ(match("\xC3\x89", "", MATCH_REGULAR, lower.get()), -1);
}

TEST_F(Match, NegativeCountsAreRefused) {
  char storage[] = "abc#";
  len_buf negative{-2, storage};
  len_buf good{3, storage};
  pattern_text a("a");
  regex_guard regex("a");
  len_buf negative_pattern{-1, storage};
  for (uint8_t mode = 0; mode <= 4; ++mode)
    EXPECT_EQ(match_text(&negative, regex.get(), a.buf(), mode), -1) << int(mode);
  for (uint8_t mode = 0; mode <= 3; ++mode)
    EXPECT_EQ(match_text(&good, nullptr, &negative_pattern, mode), -1) << int(mode);
  EXPECT_STREQ(storage, "abc#");
}

// --- match_rule_from_text ----------------------------------------------------

TEST_F(Match, TextBuilderCopiesAndCompiles) {
  char text[] = "Example";
  rule_holder holder;
  ASSERT_EQ(match_rule_from_text(&holder.rule, text, MATCH_SUFFIX, nullptr), 0);
  text[0] = 'X';  // the rule keeps its own copy
  EXPECT_EQ(holder.rule.mode, MATCH_SUFFIX);
  EXPECT_EQ(holder.rule.pattern.length, 7);
  EXPECT_STREQ(holder.rule.pattern.bytes, "Example");
  EXPECT_NE(holder.rule.regex, nullptr);  // compiled in every mode
  subject_text subject("www.EXAMPLE");
  EXPECT_EQ(match_rule_test(&holder.rule, subject.buf()), 0);
  EXPECT_TRUE(subject.restored());
}

TEST_F(Match, TextBuilderRefusesBadArgumentsUntouched) {
  match_rule rule{};
  rule.mode = 42;
  EXPECT_EQ(match_rule_from_text(&rule, "a", -1, nullptr), -1);
  EXPECT_EQ(match_rule_from_text(&rule, "a", 5, nullptr), -1);
  EXPECT_EQ(match_rule_from_text(&rule, nullptr, 0, nullptr), -1);
  EXPECT_EQ(match_rule_from_text(nullptr, "a", 0, nullptr), -1);
  EXPECT_EQ(rule.mode, 42);
  EXPECT_EQ(rule.pattern.bytes, nullptr);
  EXPECT_EQ(rule.regex, nullptr);
}

TEST_F(Match, TextBuilderDecodesBase64ByName) {
  for (const char *encoding : {"base64", "BASE64", "Base64", "base64url"}) {
    rule_holder holder;
    ASSERT_EQ(match_rule_from_text(&holder.rule, "YWJj", MATCH_ALL, encoding), 0) << encoding;
    EXPECT_EQ(holder.rule.pattern.length, 3);
    EXPECT_EQ(std::string(holder.rule.pattern.bytes, 4), std::string("abc\0", 4));
  }
  for (const char *encoding : {"plain", "base6", ""}) {
    rule_holder holder;
    ASSERT_EQ(match_rule_from_text(&holder.rule, "YWJj", MATCH_ALL, encoding), 0) << encoding;
    EXPECT_STREQ(holder.rule.pattern.bytes, "YWJj");
  }
  match_rule rule{};
  log_verbose = 1;
  EXPECT_EQ(match_rule_from_text(&rule, "YW*j", MATCH_ALL, "base64"), -1);
  EXPECT_EQ(rule.pattern.bytes, nullptr);
  EXPECT_EQ(rule.regex, nullptr);
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();
}

TEST_F(Match, TextBuilderRefusesInvalidExpressionInEveryMode) {
  for (int verbose : {0, 1}) {
    log_verbose = verbose;
    log_capture_clear();
    match_rule rule{};
    EXPECT_EQ(match_rule_from_text(&rule, "a(b", MATCH_PREFIX, nullptr), -1);
    EXPECT_EQ(rule.pattern.bytes, nullptr);
    EXPECT_EQ(rule.pattern.length, 0);
    EXPECT_EQ(rule.regex, nullptr);
    if (verbose) {
      // PCRE says "missing )", PCRE2 "missing closing parenthesis".
      EXPECT_EQ(
          log_capture_count_framed(LOG_INFO, "PCRE compilation failed at offset 3: missing ", "\n"),
          1)
          << log_capture_dump();
      EXPECT_EQ(log_capture_lines().size(), 1u);
    } else {
      EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();
    }
  }
  match_rule rule{};
  EXPECT_EQ(match_rule_from_text(&rule, "*a", MATCH_INCLUDE, nullptr), -1);
}

// --- match_rule_from_json ----------------------------------------------------

TEST_F(Match, JsonBuilderReadsItsMembers) {
  rule_holder holder;
  ASSERT_EQ(from_json(&holder.rule, R"({"match": "img.", "mode": 1, "other": [1]})"), 0);
  EXPECT_EQ(holder.rule.mode, MATCH_PREFIX);
  EXPECT_STREQ(holder.rule.pattern.bytes, "img.");
  EXPECT_EQ(holder.rule.regex, nullptr);  // only mode 4 compiles
  subject_text subject("IMG.cdn.example");
  EXPECT_EQ(match_rule_test(&holder.rule, subject.buf()), 0);

  rule_holder regular;
  ASSERT_EQ(from_json(&regular.rule, R"({"match": "^img[0-9]\\.", "mode": 4})"), 0);
  ASSERT_NE(regular.rule.regex, nullptr);
  subject_text hit("img7.cdn");
  subject_text miss("IMG7.cdn");
  EXPECT_EQ(match_rule_test(&regular.rule, hit.buf()), 0);
  EXPECT_EQ(match_rule_test(&regular.rule, miss.buf()), -1);
}

TEST_F(Match, JsonBuilderModeDefaultsAndLimits) {
  for (const char *text : {R"({"match": "a"})", R"({"match": "a", "mode": null})"}) {
    rule_holder holder;
    ASSERT_EQ(from_json(&holder.rule, text), 0) << text;
    EXPECT_EQ(holder.rule.mode, MATCH_INCLUDE);
  }
  for (const char *text :
       {R"({"match": "a", "mode": 5})", R"({"match": "a", "mode": -1})",
        R"({"match": "a", "mode": 4294967298})", R"({"match": "a", "mode": -4294967295})",
        R"({"match": "a", "mode": NaN})", R"({"match": "a", "mode": Infinity})",
        R"({"match": "a", "mode": 1e300})", R"({"match": "a", "mode": "99999999999"})"}) {
    match_rule rule{};
    rule.mode = 3;
    EXPECT_EQ(from_json(&rule, text), -1) << text;
    EXPECT_EQ(rule.mode, 0) << text;  // set before the mode was read
    EXPECT_EQ(rule.pattern.bytes, nullptr);
  }
  // Other JSON types go through json-c's integer reading.
  struct {
    const char *text;
    int32_t mode;
  } converted[] = {
      {R"({"match": "a", "mode": "2"})", 2},  {R"({"match": "a", "mode": 3.9})", 3},
      {R"({"match": "a", "mode": true})", 1}, {R"({"match": "a", "mode": "regular"})", 0},
      {R"({"match": "a", "mode": [4]})", 0},  {R"({"match": "a", "mode": {"v": 4}})", 0}};
  for (const auto &c : converted) {
    rule_holder holder;
    ASSERT_EQ(from_json(&holder.rule, c.text), 0) << c.text;
    EXPECT_EQ(holder.rule.mode, c.mode) << c.text;
  }
}

TEST_F(Match, JsonBuilderWithoutMatchLeavesRuleUntouched) {
  for (const char *text :
       {R"({"mode": 1})", R"({"match": null, "mode": 1})", R"([1, 2])", R"("match")"}) {
    match_rule rule{};
    rule.mode = 7;
    EXPECT_EQ(from_json(&rule, text), -1) << text;
    EXPECT_EQ(rule.mode, 7) << text;
    EXPECT_EQ(rule.pattern.bytes, nullptr);
  }
  match_rule rule{};
  EXPECT_EQ(match_rule_from_json(&rule, nullptr), -1);
  json_object *object = parse(R"({"match": "a"})");
  EXPECT_EQ(match_rule_from_json(nullptr, object), -1);
  json_object_put(object);
}

TEST_F(Match, JsonBuilderTakesOtherMatchValuesAsJsonText) {
  rule_holder holder;
  ASSERT_EQ(from_json(&holder.rule, R"({"match": 123, "mode": 3})"), 0);
  EXPECT_STREQ(holder.rule.pattern.bytes, "123");
}

TEST_F(Match, JsonBuilderDecodesBase64ByEncode) {
  for (const char *text :
       {R"({"match": "YWJj", "encode": "BASE64"})", R"({"match": "YWJj", "encode": "Base64"})"}) {
    rule_holder holder;
    ASSERT_EQ(from_json(&holder.rule, text), 0) << text;
    EXPECT_EQ(holder.rule.pattern.length, 3);
    EXPECT_EQ(std::string(holder.rule.pattern.bytes, 4), std::string("abc\0", 4));
  }
  for (const char *text :
       {R"({"match": "YWJj"})", R"({"match": "YWJj", "encode": null})",
        R"({"match": "YWJj", "encode": "hex"})", R"({"match": "YWJj", "encode": ["base64"]})"}) {
    rule_holder holder;
    ASSERT_EQ(from_json(&holder.rule, text), 0) << text;
    EXPECT_STREQ(holder.rule.pattern.bytes, "YWJj") << text;
  }
  match_rule rule{};
  EXPECT_EQ(from_json(&rule, R"({"match": "Y*", "encode": "base64", "mode": 2})"), -1);
  EXPECT_EQ(rule.pattern.bytes, nullptr);
  EXPECT_EQ(rule.mode, 2);
}

// The two builders differ: which modes compile, the message's priority and
// whether it needs log_verbose, and when the mode is checked.
TEST_F(Match, BuildersDifferOnInvalidExpressions) {
  rule_holder plain;
  EXPECT_EQ(from_json(&plain.rule, R"({"match": "a(b", "mode": 1})"), 0);
  EXPECT_EQ(plain.rule.regex, nullptr);
  match_rule from_text{};
  EXPECT_EQ(match_rule_from_text(&from_text, "a(b", 1, nullptr), -1);
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();

  match_rule regular{};
  EXPECT_EQ(from_json(&regular, R"({"match": "a(b", "mode": 4})"), -1);
  EXPECT_EQ(regular.pattern.bytes, nullptr);
  EXPECT_EQ(regular.regex, nullptr);
  EXPECT_EQ(
      log_capture_count_framed(LOG_WARNING, "PCRE compilation failed at offset 3: missing ", "\n"),
      1)
      << log_capture_dump();
  EXPECT_EQ(log_capture_lines().size(), 1u);
}

TEST_F(Match, JsonEveryPrefixIsHandled) {
  const std::string valid =
      R"({"match": "XihbYS16XSspXC5jZG4kAA==", "encode": "base64", "mode": 4})";
  for (size_t n = 0; n <= valid.size(); ++n) {
    json_object *object = json_tokener_parse(valid.substr(0, n).c_str());
    match_rule rule{};
    const int result = match_rule_from_json(&rule, object);
    if (n == valid.size()) {
      EXPECT_EQ(result, 0);
    }
    if (result != 0) {
      EXPECT_EQ(rule.pattern.bytes, nullptr);
      EXPECT_EQ(rule.regex, nullptr);
    }
    match_rule_release(&rule);
    json_object_put(object);
  }
  // Every prefix of the base64 value, in both kinds of mode.
  const std::string encoded = "XihbYS16XSspXC5jZG4kAA==";
  for (size_t n = 0; n <= encoded.size(); ++n) {
    for (int mode : {0, 4}) {
      json_object *object = json_object_new_object();
      json_object_object_add(object, "match", json_object_new_string(encoded.substr(0, n).c_str()));
      json_object_object_add(object, "encode", json_object_new_string("base64"));
      json_object_object_add(object, "mode", json_object_new_int(mode));
      match_rule rule{};
      if (match_rule_from_json(&rule, object) == 0) {
        ASSERT_NE(rule.pattern.bytes, nullptr);
        EXPECT_EQ(rule.pattern.bytes[rule.pattern.length], '\0');
      }
      match_rule_release(&rule);
      json_object_put(object);
    }
  }
}

TEST_F(Match, DecodedPatternWithTrailingNulMatches) {
  // "^([a-z]+)\.cdn$" with a NUL byte: the expression ends at the NUL.
  rule_holder holder;
  ASSERT_EQ(from_json(&holder.rule, R"({"match": "XihbYS16XSspXC5jZG4kAA==", "encode": "base64",
                                        "mode": 4})"),
            0);
  EXPECT_EQ(holder.rule.pattern.length, 16);
  subject_text hit("img.cdn");
  subject_text miss("img.cdn.x");
  EXPECT_EQ(match_rule_test(&holder.rule, hit.buf()), 0);
  EXPECT_EQ(match_rule_test(&holder.rule, miss.buf()), -1);
}

// --- dump and release --------------------------------------------------------

TEST_F(Match, DumpShowsPatternAndModeWhileVerbose) {
  rule_holder holder;
  ASSERT_EQ(match_rule_from_text(&holder.rule, "cdn", MATCH_SUFFIX, nullptr), 0);
  match_rule_dump(&holder.rule);
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();
  log_verbose = 1;
  match_rule_dump(&holder.rule);
  match_rule odd{};
  odd.mode = -1;
  match_rule_dump(&odd);
  ASSERT_EQ(log_capture_lines().size(), 4u) << log_capture_dump();
  EXPECT_EQ(log_capture_lines()[0].priority, LOG_INFO);
  EXPECT_EQ(log_capture_lines()[0].text, "\tstring: cdn(3)\n");
  EXPECT_EQ(log_capture_lines()[1].priority, LOG_DEBUG);
  EXPECT_EQ(log_capture_lines()[1].text, "\tmode: suffix\n");
  EXPECT_EQ(log_capture_count(LOG_INFO, "\tstring empty.\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_DEBUG, "\tmode: not support\n"), 1);
}

TEST_F(Match, ReleaseFreesOnceAndAllowsRebuild) {
  match_rule rule{};
  ASSERT_EQ(match_rule_from_text(&rule, "^a", MATCH_REGULAR, nullptr), 0);
  match_rule_release(&rule);
  EXPECT_EQ(rule.pattern.bytes, nullptr);
  EXPECT_EQ(rule.pattern.length, 0);
  EXPECT_EQ(rule.regex, nullptr);
  match_rule_release(&rule);  // a second release frees nothing again
  // Rebuilt from JSON in a mode that compiles nothing, then released: the
  // earlier expression is not freed a second time.
  ASSERT_EQ(from_json(&rule, R"({"match": "a", "mode": 0})"), 0);
  match_rule_release(&rule);
  match_rule_release(nullptr);
}

}  // namespace
