// SPDX-License-Identifier: MIT
#include "sync/documents.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

class Documents : public ::testing::Test {
 protected:
  void SetUp() override { log_capture_clear(); }

  // Writes body as the answer file and reads its summary.
  int summary(const std::string &body, int32_t *enabled, std::string *stamp) {
    dir.write("answer", body);
    char buffer[64] = {};
    json_doc doc(json_object_new_object());  // one left from before goes
    int result =
        response_summary_parse(dir.file("answer").c_str(), &doc, enabled, buffer, sizeof buffer);
    // The answer's own document is handed on exactly when its summary holds.
    EXPECT_EQ(doc != nullptr, result == 0) << body;
    if (doc) {
      EXPECT_NE(json_object_object_get(doc.get(), "data"), nullptr) << body;
    }
    *stamp = buffer;
    return result;
  }

  temp_dir dir;
};

TEST_F(Documents, TimestampFileRoundTrip) {
  dir.write("stamp", "{\"updateTime\":\"2024-01-01\"}\n");
  char buffer[64] = {};
  EXPECT_EQ(timestamp_file_read(dir.file("stamp").c_str(), buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "2024-01-01");
  EXPECT_TRUE(log_capture_lines().empty());
}

TEST_F(Documents, TimestampFileFailures) {
  char buffer[64] = "untouched";
  EXPECT_EQ(timestamp_file_read(dir.file("missing").c_str(), buffer, sizeof buffer), -1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "white_timestamp file lost.\n"), 1);
  log_capture_clear();

  for (const char *body :
       {"", "not json", "{\"other\":1}", "[\"updateTime\"]", "{\"updateTime\":null}"}) {
    dir.write("stamp", body);
    EXPECT_EQ(timestamp_file_read(dir.file("stamp").c_str(), buffer, sizeof buffer), -1) << body;
  }
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();
}

TEST_F(Documents, TimestampTextFormAndTruncation) {
  dir.write("stamp", "{\"updateTime\":12}");
  char small[4] = {};
  EXPECT_EQ(timestamp_file_read(dir.file("stamp").c_str(), small, sizeof small), 0);
  EXPECT_STREQ(small, "12");
  dir.write("stamp", "{\"updateTime\":\"" + std::string(100, 'x') + "\"}");
  char buffer[64] = {};
  EXPECT_EQ(timestamp_file_read(dir.file("stamp").c_str(), buffer, sizeof buffer), 0);
  EXPECT_EQ(std::string(buffer), std::string(63, 'x'));
}

TEST_F(Documents, EnabledIsTheTextFormBeginningWithTrue) {
  struct {
    const char *value;
    int32_t enabled;
  } cases[] = {{"\"true\"", 1}, {"\"TRUE\"", 1},  {"\"True\"", 1}, {"\"trueish\"", 1},
               {"true", 1},     {"\"false\"", 0}, {"\"yes\"", 0},  {"1", 0},
               {"\"\"", 0},     {"false", 0},     {"\"tru\"", 0}};
  for (const auto &c : cases) {
    int32_t enabled = -7;
    std::string stamp;
    std::string body =
        std::string("{\"code\":0,\"data\":{\"enabled\":") + c.value + ",\"updateTime\":\"5\"}}";
    EXPECT_EQ(summary(body, &enabled, &stamp), 0) << c.value;
    EXPECT_EQ(enabled, c.enabled) << c.value;
    EXPECT_EQ(stamp, "5");
  }
}

TEST_F(Documents, AnswersThatAreRejected) {
  const char *bodies[] = {
      "",
      "{",
      "[]",
      "{\"data\":{\"enabled\":true,\"updateTime\":\"1\"}}",
      "{\"code\":\"0\",\"data\":{\"enabled\":true,\"updateTime\":\"1\"}}",
      "{\"code\":0.0,\"data\":{\"enabled\":true,\"updateTime\":\"1\"}}",
      "{\"code\":1,\"data\":{\"enabled\":true,\"updateTime\":\"1\"}}",
      "{\"code\":null,\"data\":{\"enabled\":true,\"updateTime\":\"1\"}}",
      "{\"code\":0,\"data\":[1]}",
      "{\"code\":0,\"data\":\"x\"}",
      "{\"code\":0,\"data\":{\"updateTime\":\"1\"}}",
      "{\"code\":0,\"data\":{\"enabled\":null,\"updateTime\":\"1\"}}",
      "{\"code\":0,\"data\":{\"enabled\":true}}",
      "{\"code\":0,\"data\":{\"enabled\":true,\"updateTime\":null}}",
  };
  for (const char *body : bodies) {
    int32_t enabled = 0;
    std::string stamp;
    EXPECT_EQ(summary(body, &enabled, &stamp), -1) << body;
  }
  EXPECT_TRUE(log_capture_lines().empty()) << log_capture_dump();
}

TEST_F(Documents, MissingAnswerIsLogged) {
  int32_t enabled = 0;
  char buffer[64] = {};
  EXPECT_EQ(response_summary_read(dir.file("none").c_str(), &enabled, buffer, sizeof buffer), -1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "response file lost.\n"), 1);
}

TEST_F(Documents, EveryPrefixOfAValidAnswerIsHandled) {
  const std::string valid =
      "{\"code\":0,\"data\":{\"enabled\":\"true\",\"updateTime\":\"2\",\"config\":{\"host\":[\"1.2."
      "3.4\"]}}}";
  for (size_t length = 0; length < valid.size(); ++length) {
    int32_t enabled = 0;
    std::string stamp;
    EXPECT_EQ(summary(valid.substr(0, length), &enabled, &stamp), -1) << length;
  }
  int32_t enabled = 0;
  std::string stamp;
  EXPECT_EQ(summary(valid, &enabled, &stamp), 0);
  EXPECT_EQ(stamp, "2");
}

TEST_F(Documents, SpecialFilesAreNotRead) {
  std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int32_t enabled = 0;
  char buffer[64] = {};
  // A FIFO with no writer would block a plain read for ever.
  EXPECT_EQ(response_summary_read(fifo.c_str(), &enabled, buffer, sizeof buffer), -1);
  EXPECT_EQ(timestamp_file_read(dir.path().c_str(), buffer, sizeof buffer), -1);
}

}  // namespace
