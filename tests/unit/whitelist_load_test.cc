// SPDX-License-Identifier: MIT
#include "sync/whitelist_load.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include "lib/json_doc.h"
#include "tests/support/fake_tool.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

class WhitelistLoad : public ::testing::Test {
 protected:
  void SetUp() override { log_capture_clear(); }

  int load(const std::string &body) {
    dir.write("answer", body);
    testing::internal::CaptureStdout();
    int result = whitelist_load(dir.file("answer").c_str(), &state);
    testing::internal::GetCapturedStdout();
    return result;
  }

  temp_dir dir;
  fake_tool ipset{"ipset"};
  cdn_state state{};
};

TEST_F(WhitelistLoad, ValidDocumentFlushesThenAdds) {
  EXPECT_EQ(
      load("{\"code\":0,\"data\":{\"updateTime\":\"2\",\"config\":{\"host\":[\"1.2.3.4\"]}}}"), 0);
  EXPECT_EQ(ipset.calls(), "flush cdnwhite\nadd cdnwhite 1.2.3.4\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "config load success:\n"), 1);
}

TEST(WhitelistLoadFlush, AFailedFlushAddsNothing) {
  temp_dir dir;
  fake_tool missing_set{"ipset", 1};
  cdn_state state{};
  log_capture_clear();
  dir.write("answer",
            "{\"code\":0,\"data\":{\"updateTime\":\"2\",\"config\":{\"host\":[\"1.2.3.4\"]}}}");
  EXPECT_EQ(whitelist_load(dir.file("answer").c_str(), &state), WHITELIST_LOAD_FLUSH);
  EXPECT_EQ(missing_set.calls(), "flush cdnwhite\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "load set cdnwhite flush fail.\n"), 1)
      << log_capture_dump();
  EXPECT_EQ(log_capture_count(LOG_WARNING, "load return -7\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "config load success:\n"), 0);
}

TEST_F(WhitelistLoad, HostsThatAreNotAnArrayStillSucceed) {
  EXPECT_EQ(load("{\"code\":0,\"data\":{\"updateTime\":\"2\",\"config\":{\"host\":{}}}}"), 0);
  EXPECT_EQ(ipset.calls(), "flush cdnwhite\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip list end -3\n"), 1);
}

TEST_F(WhitelistLoad, EachValidationFailureLeavesTheSetAlone) {
  struct {
    const char *body;
    int code;
    const char *message;
  } cases[] = {
      {"not json", -2, "load file parse fail.\n"},
      {"{\"data\":{}}", -3, "load file parse code fail.\n"},
      {"{\"code\":1,\"data\":{}}", -4, "load file parse code not equal 0.\n"},
      // NaN is no number: not 0 on any CPU.
      {"{\"code\":NaN,\"data\":{}}", -4, "load file parse code not equal 0.\n"},
      {"{\"code\":0}", -5, "load file parse data fail.\n"},
      {"{\"code\":0,\"data\":{\"config\":{\"host\":[]}}}", -6, "load file parse config fail.\n"},
      {"{\"code\":0,\"data\":{\"updateTime\":\"1\"}}", -6, "load file parse config fail.\n"},
      {"{\"code\":0,\"data\":{\"updateTime\":\"1\",\"config\":{}}}", -6,
       "load file parse config fail.\n"},
      {"{\"code\":0,\"data\":[1]}", -6, "load file parse config fail.\n"},
      {"{\"code\":0,\"data\":{\"updateTime\":\"1\",\"config\":{\"host\":null}}}", -6,
       "load file parse config fail.\n"},
  };
  for (const auto &c : cases) {
    log_capture_clear();
    EXPECT_EQ(load(c.body), c.code) << c.body;
    EXPECT_EQ(log_capture_count(LOG_WARNING, c.message), 1) << c.body << log_capture_dump();
    EXPECT_EQ(log_capture_count(LOG_WARNING, "load return " + std::to_string(c.code) + "\n"), 1);
  }
  EXPECT_EQ(ipset.calls(), "");
}

TEST_F(WhitelistLoad, ArgumentsAndMissingFile) {
  EXPECT_EQ(whitelist_load(nullptr, &state), -1);
  EXPECT_EQ(whitelist_load(dir.file("answer").c_str(), nullptr), -1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "load arg empty\n"), 2);
  EXPECT_EQ(whitelist_load(dir.file("missing").c_str(), &state), -1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "load filename not exist\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "load return -1\n"), 0);
}

TEST_F(WhitelistLoad, EveryPrefixIsRefusedWithoutTouchingTheSet) {
  const std::string valid =
      "{\"code\":0,\"data\":{\"updateTime\":\"2\",\"config\":{\"host\":[\"1.2.3.4\",\"5.6.7.8\"]}}"
      "}";
  for (size_t length = 0; length < valid.size(); ++length)
    EXPECT_NE(load(valid.substr(0, length)), 0) << length;
  EXPECT_EQ(ipset.calls(), "");
}

}  // namespace

namespace {

// The lines a load logged, each as "<priority> <text>".
std::string logged() {
  std::string lines;
  for (const captured_line &line : log_capture_lines())
    lines += std::to_string(line.priority) + " " + line.text;
  return lines;
}

}  // namespace

// The cycle hands the load the answer it parsed for its summary: the same
// checks, lines and set commands as a load from the file.
TEST_F(WhitelistLoad, AParsedAnswerLoadsAsItsFile) {
  for (const char *body :
       {"{\"code\":0,\"data\":{\"updateTime\":\"2\",\"config\":{\"host\":[\"1.2.3.4\",\"x\"]}}}",
        "not json", "{\"code\":1,\"data\":{}}", "{\"code\":0,\"data\":{\"updateTime\":\"1\"}}"}) {
    log_capture_clear();
    const std::string before = ipset.calls();
    const int from_file = load(body);
    const std::string file_lines = logged();
    const std::string file_calls = ipset.calls().substr(before.size());
    log_capture_clear();
    json_doc answer(json_tokener_parse(body));
    load_list loaded;
    testing::internal::CaptureStdout();
    EXPECT_EQ(whitelist_answer_load(answer.get(), &state, &loaded), from_file) << body;
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(logged(), file_lines) << body;
    EXPECT_EQ(ipset.calls().substr(before.size() + file_calls.size()), file_calls) << body;
  }
  log_capture_clear();
  load_list loaded;
  EXPECT_EQ(whitelist_answer_load(nullptr, nullptr, &loaded), WHITELIST_LOAD_ARG);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "load arg empty\n"), 1);
}
