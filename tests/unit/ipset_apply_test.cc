// SPDX-License-Identifier: MIT
#include "sync/ipset/ipset_apply.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include "lib/json_doc.h"
#include "tests/support/fake_tool.h"
#include "tests/support/log_capture.h"

namespace {

class IpsetApply : public ::testing::Test {
 protected:
  void SetUp() override { log_capture_clear(); }

  // Runs ipset_ips_add on the JSON text and keeps what it printed.
  int add(const char *json) {
    json_doc list(json_tokener_parse(json));
    testing::internal::CaptureStdout();
    int result = ipset_ips_add("cdnwhite", list.get());
    printed = testing::internal::GetCapturedStdout();
    return result;
  }

  fake_tool ipset{"ipset"};
  std::string printed;
};

TEST_F(IpsetApply, ValidAddressesAreAddedOthersSkipped) {
  EXPECT_EQ(add("[\"1.2.3.4\",\"10.0.0.0/8\",\"example.com\"]"), 0);
  EXPECT_EQ(ipset.calls(), "add cdnwhite 1.2.3.4\nadd cdnwhite 10.0.0.0/8\n");
  EXPECT_EQ(printed, "cmd:  ipset add cdnwhite 1.2.3.4\ncmd:  ipset add cdnwhite 10.0.0.0/8\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip invalid example.com\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip list end 0\n"), 1);
  ASSERT_FALSE(log_capture_lines().empty());
  EXPECT_EQ(log_capture_lines()[0].priority, LOG_INFO);
  EXPECT_EQ(log_capture_lines()[0].text.rfind(
                "stat_points_none ========== ipset_ips_add: cdnwhite time: ", 0),
            0u);
}

TEST_F(IpsetApply, TextFormsOfOtherValues) {
  EXPECT_EQ(add("[12, \"\", \"1..2//3\", true, {\"a\":1}]"), 0);
  // The empty text passes the character test and gives a bare add.
  EXPECT_EQ(
      printed,
      "cmd:  ipset add cdnwhite 12\ncmd:  ipset add cdnwhite \ncmd:  ipset add cdnwhite 1..2//3\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip invalid true\n"), 1);
}

TEST_F(IpsetApply, NullElementStopsTheLoop) {
  const char *json = "[\"1.1.1.1\",\"2.2.2.2\",null,\"3.3.3.3\"]";
  EXPECT_EQ(add(json), -4);
  EXPECT_EQ(ipset.calls(), "add cdnwhite 1.1.1.1\nadd cdnwhite 2.2.2.2\n");
  json_doc list(json_tokener_parse(json));
  std::string message =
      std::string("rule url(index 2 not get):") + json_object_get_string(list.get()) + "\n";
  EXPECT_EQ(log_capture_count(LOG_WARNING, message), 1) << log_capture_dump();
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip list end -4\n"), 1);
}

TEST_F(IpsetApply, NotAnArray) {
  EXPECT_EQ(add("{\"host\":\"1.2.3.4\"}"), -3);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip list not array.\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip list end -3\n"), 1);
  EXPECT_EQ(ipset.calls(), "");
}

TEST_F(IpsetApply, NullListHasNoEndLine) {
  EXPECT_EQ(ipset_ips_add("cdnwhite", nullptr), -1);
  EXPECT_EQ(ipset_ips_add(nullptr, nullptr), -1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip list is NULL.\n"), 2);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip list end -1\n"), 0);
}

TEST_F(IpsetApply, HostileElementsNeverReachTheShell) {
  EXPECT_EQ(add("[\"1.2.3.4; touch /pwned\", \"$(reboot)\", \"1.2.3.4\\n5.6.7.8\", \"1.2.3.4 \"]"),
            0);
  EXPECT_EQ(ipset.calls(), "");
  EXPECT_EQ(printed, "");
}

TEST_F(IpsetApply, AnAddressThatWouldBeCutIsSkipped) {
  std::string long_address = "1.2.3.4/" + std::string(200, '0');
  std::string json = "[\"" + long_address + "\", \"5.6.7.8\"]";
  EXPECT_EQ(add(json.c_str()), 0);
  EXPECT_EQ(ipset.calls(), "add cdnwhite 5.6.7.8\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip invalid " + long_address + "\n"), 1);
}

TEST_F(IpsetApply, TheLongestAddressThatFitsIsAddedWhole) {
  // "ipset add cdnwhite " and the NUL leave 108 of the 128 bytes.
  std::string fits = "1.2.3.4/" + std::string(100, '0');
  std::string cut = fits + "9";
  std::string json = "[\"" + fits + "\", \"" + cut + "\"]";
  EXPECT_TRUE(ipset_address_ok("cdnwhite", fits.c_str()));
  EXPECT_FALSE(ipset_address_ok("cdnwhite", cut.c_str()));
  EXPECT_EQ(add(json.c_str()), 0);
  EXPECT_EQ(ipset.calls(), "add cdnwhite " + fits + "\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip invalid " + cut + "\n"), 1);
}

TEST_F(IpsetApply, FlushRunsTheCommand) {
  EXPECT_EQ(ipset_flush("cdnwhite"), 0);
  EXPECT_EQ(ipset.calls(), "flush cdnwhite\n");
  ASSERT_EQ(log_capture_lines().size(), 1u);
  EXPECT_EQ(log_capture_lines()[0].text.rfind(
                "stat_points_none ========== ipset_flush: cdnwhite time: ", 0),
            0u);
}

TEST(IpsetFlush, AFailedFlushIsReported) {
  // ipset's own status for a set that does not exist is 1; a missing
  // ipset command is the shell's 127.
  fake_tool missing_set{"ipset", 1};
  EXPECT_EQ(ipset_flush("cdnwhite"), -1);
  EXPECT_EQ(missing_set.calls(), "flush cdnwhite\n");
  EXPECT_EQ(ipset_flush(nullptr), -1);
}

TEST(StrOnlyChars, OnlyTheCharactersCount) {
  EXPECT_EQ(str_only_chars("", IPSET_ADDRESS_CHARS), 0);
  EXPECT_EQ(str_only_chars("1..2//3", IPSET_ADDRESS_CHARS), 0);
  EXPECT_EQ(str_only_chars("192.168.0.0/16", IPSET_ADDRESS_CHARS), 0);
  EXPECT_EQ(str_only_chars("1.2.3.4a", IPSET_ADDRESS_CHARS), -1);
  EXPECT_EQ(str_only_chars("::1", IPSET_ADDRESS_CHARS), -1);
  EXPECT_EQ(str_only_chars("\xb1", IPSET_ADDRESS_CHARS), -1);
}

}  // namespace
