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
  const char *body =
      "{\"code\":0,\"data\":{\"updateTime\":\"2\",\"config\":{\"host\":[\"1.2.3.4\"]}}}";
  EXPECT_EQ(load(body), 0);
  EXPECT_EQ(ipset.calls(), "flush cdnwhite\nadd cdnwhite 1.2.3.4\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "config load success:\n"), 1);
  // The same answer as the cycle hands it over, parsed already.
  json_doc answer(json_tokener_parse(body));
  load_list loaded;
  EXPECT_EQ(whitelist_answer_load(answer.get(), &state, &loaded), 0);
  EXPECT_EQ(ipset.calls(),
            "flush cdnwhite\nadd cdnwhite 1.2.3.4\n"
            "flush cdnwhite\nadd cdnwhite 1.2.3.4\n");
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
    // The cycle hands the load the answer it parsed: the same code and lines.
    json_doc answer(json_tokener_parse(c.body));
    load_list loaded;
    EXPECT_EQ(whitelist_answer_load(answer.get(), &state, &loaded), c.code) << c.body;
    EXPECT_EQ(log_capture_count(LOG_WARNING, c.message), 2) << c.body << log_capture_dump();
    EXPECT_EQ(log_capture_count(LOG_WARNING, "load return " + std::to_string(c.code) + "\n"), 2);
  }
  EXPECT_EQ(ipset.calls(), "");
}

TEST_F(WhitelistLoad, ArgumentsAndMissingFile) {
  EXPECT_EQ(whitelist_load(nullptr, &state), -1);
  EXPECT_EQ(whitelist_load(dir.file("answer").c_str(), nullptr), -1);
  load_list loaded;
  EXPECT_EQ(whitelist_answer_load(nullptr, nullptr, &loaded), -1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "load arg empty\n"), 3);
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
