// SPDX-License-Identifier: MIT
#include "sync/ipset/ipset_swap.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "lib/json_doc.h"
#include "sync/core/load_status.h"
#include "sync/ipset/ipset_apply.h"
#include "sync/ipset/ipset_check.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const char LISTING[] =
    "Name: cdnwhite\nType: hash:net\nRevision: 7\n"
    "Header: family inet hashsize 1024 maxelem 65536 bucketsize 12 initval 0x2a2eac45\n"
    "References: 0\nNumber of entries: 1\n";

// A scripted ipset: records each call and each restore input, prints the
// listing, and refuses what the files "refuse" (addresses of add lines, as
// the real tool does: a warning, then the line it stopped at) and "fail"
// (the step "swap" or "destroy") name.
const char IPSET_SCRIPT[] = R"(#!/bin/sh
d=$(dirname "$0")
printf '%s\n' "$*" >> "$d/calls"
fail=$(cat "$d/fail" 2>/dev/null)
case "$1" in
  list) cat "$d/listing"; if [ "$fail" = list ]; then exit 1; fi ;;
  restore) cat > "$d/restored"; cat "$d/restored" >> "$d/restores"
        n=$(grep -n -F -w -f "$d/refuse" "$d/restored" 2>/dev/null | head -n 1 | cut -d: -f1)
        if [ -n "$n" ]; then
          echo "ipset v7.17: Warning: something to ignore"
          echo "ipset v7.17: Error in line $n: Hash is full, cannot add more elements"; exit 1
        fi ;;
  swap|destroy) if [ "$fail" = "$1" ]; then echo "ipset v7.17: $1 refused"; exit 1; fi ;;
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

  int load(const std::string &hosts_json) {
    json_doc hosts(json_tokener_parse(hosts_json.c_str()));
    unlink(tool.file("calls").c_str());
    unlink(tool.file("restores").c_str());
    testing::internal::CaptureStdout();
    int result = ipset_swap_load(names, hosts.get());
    printed = std::regex_replace(testing::internal::GetCapturedStdout(),
                                 std::regex(work.path() + "/quorvel\\.[A-Za-z0-9]{6}/"), "<dir>/");
    return result;
  }

  // The names left in the folder where the load makes its own.
  std::string work_entries() const {
    std::string entries;
    DIR *dir = opendir(work.path().c_str());
    while (dirent *entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") entries += name + " ";
    }
    closedir(dir);
    return entries;
  }

  bool marked() const { return access(mark.c_str(), F_OK) == 0; }

  temp_dir tool;
  path_prefix path{tool.path()};
  temp_dir work;
  temp_dir run;
  std::string mark = run.file("quorvel_swap.set");
  ipset_swap_names names{"cdnwhite", "quorvel_swap", mark.c_str(), work.path().c_str()};
  std::string printed;
};

TEST_F(IpsetSwap, ValidAddressesLoadInOneRestoreThenSwapThenDestroy) {
  std::string long_address(110, '1');
  EXPECT_EQ(load("[\"1.2.3.4\",\"10.0.0.0/8\",\"300.1.1.1\",\"1..2//3\",\"10.0.0.0/33\","
                 "\"010.1.1.1\",\"example.com\",\"\",12,\"1.2.3.4\",\"" +
                 long_address + "\"]"),
            0);
  EXPECT_EQ(tool.read("calls"),
            "list -t cdnwhite\nrestore\nswap quorvel_swap cdnwhite\ndestroy quorvel_swap\n");
  EXPECT_EQ(tool.read("restored"),
            "create quorvel_swap hash:net family inet hashsize 1024 maxelem 65536 bucketsize 12\n"
            "add quorvel_swap 1.2.3.4 -exist\nadd quorvel_swap 10.0.0.0/8 -exist\n"
            "add quorvel_swap 1.2.3.4 -exist\n");
  EXPECT_EQ(printed,
            "cmd:  ipset list -t cdnwhite > <dir>/ipset_output 2>&1\n"
            "cmd:  ipset restore < <dir>/ipset_input > <dir>/ipset_output 2>&1\n"
            "cmd:  ipset swap quorvel_swap cdnwhite > <dir>/ipset_output 2>&1\n"
            "cmd:  ipset destroy quorvel_swap > <dir>/ipset_output 2>&1\n");
  for (std::string text : {"300.1.1.1", "1..2//3", "10.0.0.0/33", "010.1.1.1", "example.com", "",
                           "12", long_address.c_str()})
    EXPECT_EQ(log_capture_count(LOG_WARNING, "ip invalid " + text + "\n"), 1) << text;
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip list end 0\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ipset swap cdnwhite: 3 addresses\n"), 1)
      << log_capture_dump();
  EXPECT_EQ(work_entries(), "");
  EXPECT_FALSE(marked());
}

TEST_F(IpsetSwap, AnElementIpsetStillRefusesCostsOnlyItself) {
  tool.write("refuse", "1.0.0.2\n1.0.0.4\n");
  EXPECT_EQ(load("[\"1.0.0.1\",\"1.0.0.2\",\"1.0.0.3\",\"1.0.0.4\"]"), 0);
  EXPECT_EQ(tool.read("calls"),
            "list -t cdnwhite\nrestore\n-q destroy quorvel_swap\nrestore\n"
            "-q destroy quorvel_swap\nrestore\nswap quorvel_swap cdnwhite\ndestroy quorvel_swap\n");
  EXPECT_EQ(tool.read("restored"),
            "create quorvel_swap hash:net family inet hashsize 1024 maxelem 65536 bucketsize 12\n"
            "add quorvel_swap 1.0.0.1 -exist\nadd quorvel_swap 1.0.0.3 -exist\n");
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip invalid 1.0.0.2\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ip invalid 1.0.0.4\n"), 1);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "ipset swap cdnwhite: 2 addresses\n"), 1)
      << log_capture_dump();

  // Past the bound of drops the load gives up, and its set goes.
  std::string hosts = "[\"3.3.3.3\"";
  for (int i = 1; i <= IPSET_DROPS_MAX + 1; ++i) hosts += ",\"2.0.0." + std::to_string(i) + "\"";
  tool.write("refuse", "2.0.0\n");
  EXPECT_EQ(load(hosts + "]"), WHITELIST_LOAD_RESTORE);
  EXPECT_EQ(log_capture_count(LOG_WARNING,
                              "load restore fail: ipset v7.17: Error in line 3: Hash is full, "
                              "cannot add more elements\n"),
            1)
      << log_capture_dump();
  EXPECT_EQ(tool.read("calls").substr(tool.read("calls").rfind("restore\n")),
            "restore\n-q destroy quorvel_swap\n");
  EXPECT_FALSE(marked());
}

// Each step is decided by its own exit status, whatever ipset prints.
TEST_F(IpsetSwap, ARefusedSwapOrAFinalDestroy) {
  tool.write("fail", "swap");
  EXPECT_EQ(load("[\"1.2.3.4\"]"), WHITELIST_LOAD_SWAP);
  EXPECT_EQ(log_capture_count(LOG_WARNING, "load swap fail: ipset v7.17: swap refused\n"), 1)
      << log_capture_dump();
  EXPECT_EQ(tool.read("calls"),
            "list -t cdnwhite\nrestore\nswap quorvel_swap cdnwhite\n-q destroy quorvel_swap\n");
  EXPECT_FALSE(marked());

  // Past the swap the new list is live: the load stands, the temporary set
  // keeps its mark, and the next load destroys it first.
  tool.write("fail", "destroy");
  EXPECT_EQ(load("[\"1.2.3.4\"]"), WHITELIST_LOAD_OK);
  EXPECT_EQ(log_capture_count(LOG_WARNING,
                              "ipset destroy quorvel_swap fail: ipset v7.17: destroy refused\n"),
            1);
  EXPECT_TRUE(marked());
  tool.write("fail", "");
  EXPECT_EQ(load("[\"1.2.3.4\"]"), WHITELIST_LOAD_OK);
  EXPECT_EQ(tool.read("calls"),
            "list -t cdnwhite\n-q destroy quorvel_swap\nrestore\nswap quorvel_swap cdnwhite\n"
            "destroy quorvel_swap\n");
  EXPECT_FALSE(marked());
  EXPECT_EQ(work_entries(), "");
}

TEST_F(IpsetSwap, OnlyTheDaemonsOwnPlainMarkIsTrusted) {
  // A planted link counts as no mark: it goes, its target stays, and no
  // set of the temporary name is destroyed on its word.
  ASSERT_EQ(symlink(tool.file("listing").c_str(), mark.c_str()), 0);
  EXPECT_EQ(load("[\"1.2.3.4\"]"), WHITELIST_LOAD_OK);
  EXPECT_EQ(tool.read("calls"),
            "list -t cdnwhite\nrestore\nswap quorvel_swap cdnwhite\ndestroy quorvel_swap\n");
  EXPECT_EQ(tool.read("listing"), LISTING);
  EXPECT_FALSE(marked());
  // One that cannot be cleared stops the load.
  ASSERT_EQ(mkdir(mark.c_str(), 0700), 0);
  ASSERT_EQ(mkdir((mark + "/in").c_str(), 0700), 0);
  EXPECT_EQ(load("[\"1.2.3.4\"]"), WHITELIST_LOAD_INPUT);
  EXPECT_EQ(log_capture_count(LOG_WARNING,
                              "load restore input fail: " + mark + " is not the daemon's file\n"),
            1);
  EXPECT_EQ(work_entries(), "");
}

TEST_F(IpsetSwap, NamesThatCouldLeaveTheCommandLineAreRefused) {
  json_doc hosts(json_tokener_parse("[\"1.2.3.4\"]"));
  const std::string set_dir = work.path();
  for (ipset_swap_names bad : {
           ipset_swap_names{"cdnwhite", "quorvel_swap", mark.c_str(), "relative"},
           ipset_swap_names{"cdn;white", "quorvel_swap", mark.c_str(), set_dir.c_str()},
           ipset_swap_names{"cdnwhite", "quorvel_swap", "relative", set_dir.c_str()},
       })
    EXPECT_EQ(ipset_swap_load(bad, hosts.get()), WHITELIST_LOAD_INPUT);
  EXPECT_EQ(tool.read("calls"), "<missing>");
  // ipset runs without a shell: a folder whose path holds a space is fine.
  const std::string spaced = work.file("a b");
  ASSERT_EQ(mkdir(spaced.c_str(), 0700), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ipset_swap_load({"cdnwhite", "quorvel_swap", mark.c_str(), spaced.c_str()}, hosts.get()),
            WHITELIST_LOAD_OK);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(tool.read("restored").substr(tool.read("restored").find('\n') + 1),
            "add quorvel_swap 1.2.3.4 -exist\n");
}

// The facts ipset tells only in its text, read from its real messages.
TEST(IpsetMessages, TheLineRefusedAndTheSetMissing) {
  const struct {
    const char *message;
    long line;
    bool missing;
  } cases[] = {
      {"ipset v7.17: Error in line 3: Hash is full, cannot add more elements", 3, false},
      {"ipset v7.17: Error in line 2: Syntax error: '/3' is invalid as number", 2, false},
      {"ipset v7.17: The set with the given name does not exist", 0, true},
      {"ipset v7.17: Error in line x: ", 0, false},
      {"", 0, false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(ipset_error_line(c.message), c.line) << c.message;
    EXPECT_EQ(ipset_says_missing(c.message), c.missing) << c.message;
  }
}

std::string texts(const load_list &list) {
  std::string joined;
  size_t at = 0;
  load_entry entry{};
  while (load_list_next(list, &at, &entry)) joined += std::string(entry.text) + " ";
  return joined;
}

// One table of elements for both ipset modes: what each reader keeps is
// what its load runs, and what the check holds the set against.
TEST_F(IpsetSwap, EachModesReaderLoadAndCheckShareOneElementList) {
  const std::string hosts = "[\"1.2.3.4\",\"1..2//3\",\"\",\"10.1.0.0/16\",\"1.2.3\",\"a b\",12]";
  json_doc doc(json_tokener_parse(hosts.c_str()));
  load_list added;
  load_list strict;
  EXPECT_EQ(ipset_hosts_read("cdnwhite", doc.get(), load_lines::QUIET, &added), 0);
  EXPECT_EQ(ipset_swap_read("cdnwhite", doc.get(), load_lines::QUIET, &strict), 0);
  EXPECT_EQ(log_capture_dump(), "");
  EXPECT_EQ(texts(added), "1.2.3.4 1..2//3  10.1.0.0/16 1.2.3 12 ");
  EXPECT_EQ(texts(strict), "1.2.3.4 10.1.0.0/16 ");

  load_list loaded;
  EXPECT_EQ(load(hosts), 0);
  json_doc again(json_tokener_parse(hosts.c_str()));
  EXPECT_EQ(ipset_swap_load(names, again.get(), &loaded), 0);
  EXPECT_EQ(texts(loaded), texts(strict));
  const std::string restored = tool.read("restored");
  EXPECT_EQ(ipset_swap_list_load(names, strict), 0);
  EXPECT_EQ(tool.read("restored"), restored);

  EXPECT_EQ(ipset_set_check("cdnwhite", strict), LOAD_CHECK_HOLDS);  // 1 entry listed
  tool.write("listing", std::regex_replace(LISTING, std::regex("entries: 1"), "entries: 0"));
  EXPECT_EQ(ipset_set_check("cdnwhite", strict), LOAD_CHECK_LACKS);
  EXPECT_EQ(ipset_set_check("cdnwhite", load_list{}), LOAD_CHECK_HOLDS);
  tool.write("listing", "ipset v7.17: The set with the given name does not exist\n");
  tool.write("fail", "list");
  EXPECT_EQ(ipset_set_check("cdnwhite", strict), LOAD_CHECK_MISSING);
}

}  // namespace
