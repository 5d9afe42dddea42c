#include "sync/whitelist_document.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <string>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

class WhitelistDocument : public ::testing::Test {
 protected:
  void SetUp() override { log_capture_clear(); }

  int read(const std::string &body) {
    dir.write("answer", body);
    return whitelist_document_read(dir.file("answer").c_str(), &state, &doc, &hosts);
  }

  temp_dir dir;
  cdn_state state{};
  json_doc doc;
  json_object *hosts = nullptr;
};

TEST_F(WhitelistDocument, AValidDocumentLendsItsHostValue) {
  EXPECT_EQ(
      read("{\"code\":0,\"data\":{\"updateTime\":\"2\",\"config\":{\"host\":[\"1.2.3.4\"]}}}"), 0);
  ASSERT_NE(doc, nullptr);
  ASSERT_NE(hosts, nullptr);
  EXPECT_STREQ(json_object_to_json_string_ext(hosts, JSON_C_TO_STRING_PLAIN), "[\"1.2.3.4\"]");
  EXPECT_TRUE(log_capture_lines().empty());
}

TEST_F(WhitelistDocument, EachFailureHasItsCodeAndMessages) {
  struct {
    const char *body;
    int code;
    const char *message;
  } cases[] = {
      {"not json", -2, "load file parse fail.\n"},
      {"{\"data\":{}}", -3, "load file parse code fail.\n"},
      {"{\"code\":1,\"data\":{}}", -4, "load file parse code not equal 0.\n"},
      {"{\"code\":0}", -5, "load file parse data fail.\n"},
      {"{\"code\":0,\"data\":{\"config\":{\"host\":[]}}}", -6, "load file parse config fail.\n"},
      {"{\"code\":0,\"data\":{\"updateTime\":\"1\",\"config\":{}}}", -6,
       "load file parse config fail.\n"},
      {"{\"code\":0,\"data\":[1]}", -6, "load file parse config fail.\n"},
  };
  for (const auto &c : cases) {
    log_capture_clear();
    EXPECT_EQ(read(c.body), c.code) << c.body;
    EXPECT_EQ(doc, nullptr);
    EXPECT_EQ(hosts, nullptr);
    ASSERT_EQ(log_capture_lines().size(), 2u) << log_capture_dump();
    EXPECT_EQ(log_capture_count(LOG_WARNING, c.message), 1) << c.body;
    EXPECT_EQ(log_capture_count(LOG_WARNING, "load return " + std::to_string(c.code) + "\n"), 1);
  }
  log_capture_clear();
  EXPECT_EQ(whitelist_document_read(nullptr, &state, &doc, &hosts), -1);
  EXPECT_EQ(whitelist_document_read(dir.file("missing").c_str(), &state, &doc, &hosts), -1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "load arg empty\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "load filename not exist\n"), 1);
  EXPECT_EQ(log_capture_lines().size(), 2u);
}

}  // namespace
