#include "sync/ipset_swap.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <string>

#include "lib/json_doc.h"
#include "sync/whitelist_load.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const char LISTING[] =
    "Name: cdnwhite\nType: hash:net\nRevision: 7\n"
    "Header: family inet hashsize 1024 maxelem 65536 bucketsize 12 initval 0x2a2eac45\n"
    "References: 0\nNumber of entries: 1\n";

// A scripted ipset: records each call, keeps the restore input, prints the
// listing, and fails the step named in the file "fail" the way the real
// tool does (a restore names the input line it stopped at).
const char IPSET_SCRIPT[] = R"(#!/bin/sh
d=$(dirname "$0")
printf '%s\n' "$*" >> "$d/calls"
fail=$(cat "$d/fail" 2>/dev/null)
case "$1" in
  list) cat "$d/listing" ;;
  restore) cat > "$d/restored"
        lines=$(wc -l < "$d/restored")
        case "$fail" in
          swap) echo "ipset v7.17: Error in line $((lines - 1)): The sets cannot be swapped" >&2; exit 1 ;;
          destroy) echo "ipset v7.17: Error in line $lines: Set cannot be destroyed" >&2; exit 1 ;;
        esac ;;
esac
exit 0
)";

class IpsetSwap : public ::testing::Test {
 protected:
  void SetUp() override {
    log_capture_clear();
    tool.write("ipset", IPSET_SCRIPT);
    chmod(tool.file("ipset").c_str(), 0755);
    tool.write("listing", LISTING);
  }

  int load(const char *hosts_json) {
    json_doc hosts(json_tokener_parse(hosts_json));
    testing::internal::CaptureStdout();
    int result = ipset_swap_load(work.path().c_str(), "cdnwhite", "cdnwhite_tmp", hosts.get());
    printed = testing::internal::GetCapturedStdout();
    return result;
  }

  // The names left in the working directory.
  std::string work_entries() const {
    std::string names;
    DIR *dir = opendir(work.path().c_str());
    while (dirent *entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names += name + " ";
    }
    closedir(dir);
    return names;
  }

  temp_dir tool;
  path_prefix path{tool.path()};
  temp_dir work;
  std::string printed;
};

TEST_F(IpsetSwap, OneRestoreThenSwapThenDestroy) {
  std::string long_address(110, '1');
  std::string hosts =
      "[\"1.2.3.4\",\"10.0.0.0/8\",\"example.com\",\"\",12,\"1.2.3.4\",\"" + long_address + "\"]";
  EXPECT_EQ(load(hosts.c_str()), 0);
  EXPECT_EQ(tool.read("calls"), "list -t cdnwhite\nrestore\n");
  EXPECT_EQ(tool.read("restored"),
            "create cdnwhite_tmp hash:net family inet hashsize 1024 maxelem 65536 bucketsize 12\n"
            "add cdnwhite_tmp 1.2.3.4 -exist\nadd cdnwhite_tmp 10.0.0.0/8 -exist\n"
            "add cdnwhite_tmp 12 -exist\nadd cdnwhite_tmp 1.2.3.4 -exist\n"
            "swap cdnwhite_tmp cdnwhite\ndestroy cdnwhite_tmp\n");
  const std::string out = work.path() + "/ipset_output";
  EXPECT_EQ(printed, "cmd:  ipset list -t cdnwhite > " + work.path() +
                         "/ipset_output 2>&1\ncmd:  ipset restore < " + work.path() +
                         "/ipset_input > " + work.path() + "/ipset_output 2>&1\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip invalid example.com\n"), 1);
  // Too long for the one-by-one load's command line: refused the same way.
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip invalid " + long_address + "\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip list end 0\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ipset swap cdnwhite: 4 addresses\n"), 1)
      << log_capture_dump();
  EXPECT_EQ(work_entries(), "");
}

// The steps a real ipset cannot be made to refuse on demand; the others
// (a missing set, a refused add, a held leftover) are tested end to end.
TEST_F(IpsetSwap, ARefusedSwapOrAFinalDestroy) {
  struct {
    const char *fail;
    int code;
    const char *message;
    const char *calls;
  } cases[] = {
      {"swap", WHITELIST_LOAD_SWAP,
       "load swap fail: ipset v7.17: Error in line 3: The sets cannot be swapped\n",
       "list -t cdnwhite\nrestore\n-q destroy cdnwhite_tmp\n"},
      // Past the swap the new list is live: the load stands, and the
      // temporary set goes at the next one.
      {"destroy", WHITELIST_LOAD_OK,
       "ipset destroy cdnwhite_tmp fail: ipset v7.17: Error in line 4: Set cannot be destroyed\n",
       "list -t cdnwhite\nrestore\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.fail);
    log_capture_clear();
    unlink(tool.file("calls").c_str());
    tool.write("fail", c.fail);
    EXPECT_EQ(load("[\"1.2.3.4\"]"), c.code);
    EXPECT_EQ(log_capture_count(LOG_WARNING, c.message), 1) << log_capture_dump();
    EXPECT_EQ(tool.read("calls"), c.calls);
    EXPECT_EQ(work_entries(), "");
  }
}

TEST_F(IpsetSwap, WhateverStandsAtItsFilesIsReplacedNeverFollowed) {
  temp_dir outside;
  outside.write("precious", "keep me");
  ASSERT_EQ(symlink(outside.file("precious").c_str(), work.file("ipset_input").c_str()), 0);
  ASSERT_EQ(mkfifo(work.file("ipset_output").c_str(), 0600), 0);
  EXPECT_EQ(load("[\"1.2.3.4\"]"), 0);
  EXPECT_EQ(outside.read("precious"), "keep me");
  EXPECT_EQ(work_entries(), "");

  // A directory with content is left alone, and nothing is run.
  unlink(tool.file("calls").c_str());
  ASSERT_EQ(mkdir(work.file("ipset_input").c_str(), 0700), 0);
  work.write("ipset_input/x", "");
  EXPECT_EQ(load("[\"1.2.3.4\"]"), WHITELIST_LOAD_INPUT);
  EXPECT_EQ(tool.read("calls"), "<missing>");
  unlink(work.file("ipset_input/x").c_str());
  rmdir(work.file("ipset_input").c_str());
}

TEST_F(IpsetSwap, NamesThatCouldLeaveTheCommandLineAreRefused) {
  json_doc hosts(json_tokener_parse("[\"1.2.3.4\"]"));
  EXPECT_EQ(ipset_swap_load("/tmp/a b", "cdnwhite", "cdnwhite_tmp", hosts.get()),
            WHITELIST_LOAD_INPUT);
  EXPECT_EQ(ipset_swap_load("relative", "cdnwhite", "cdnwhite_tmp", hosts.get()),
            WHITELIST_LOAD_INPUT);
  EXPECT_EQ(ipset_swap_load(work.path().c_str(), "cdn;white", "cdnwhite_tmp", hosts.get()),
            WHITELIST_LOAD_INPUT);
  EXPECT_EQ(tool.read("calls"), "<missing>");
}

}  // namespace
