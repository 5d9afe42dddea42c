// SPDX-License-Identifier: MIT
#include "sync/ipset/ipset_header.h"

#include <gtest/gtest.h>

#include <string>

#include "sync/core/ipv4_text.h"

namespace {

// What ipset 7.17 prints for "ipset list -t cdnwhite".
const char LISTING[] =
    "Name: cdnwhite\nType: hash:net\nRevision: 7\n"
    "Header: family inet hashsize 1024 maxelem 65536 bucketsize 12 initval 0x2a2eac45\n"
    "Size in memory: 504\nReferences: 0\nNumber of entries: 1\n";

std::string line(const std::string &listing, size_t capacity, size_t size = 512) {
  char out[512] = "unchanged";
  int result = ipset_create_line(listing.c_str(), "cdnwhite", "quorvel_swap", capacity, out, size);
  return result == 0 ? out : "refused:" + std::string(out);
}

TEST(IpsetCreateLine, KeepsTypeAndOptionsAndGrowsMaxelemToTheList) {
  EXPECT_EQ(line(LISTING, 10),
            "create quorvel_swap hash:net family inet hashsize 1024 maxelem 65536 bucketsize 12\n");
  EXPECT_EQ(line(LISTING, 70000),
            "create quorvel_swap hash:net family inet hashsize 1024 maxelem 70000 bucketsize 12\n");
  EXPECT_EQ(line("Name: cdnwhite\nType: hash:ip\nHeader: family inet6 hashsize 64 maxelem 8 "
                 "timeout 300 counters comment\n",
                 3),
            "create quorvel_swap hash:ip family inet6 hashsize 64 maxelem 8 timeout 300 counters "
            "comment\n");
  // Types without maxelem keep their header as it is.
  EXPECT_EQ(line("Name: cdnwhite\nType: bitmap:ip\nHeader: range 10.0.0.0-10.0.0.255\n", 300),
            "create quorvel_swap bitmap:ip range 10.0.0.0-10.0.0.255\n");
}

TEST(IpsetCreateLine, RefusesWhatItCannotCopySafely) {
  const char *refused[] = {
      "",
      "ipset v7.17: The set with the given name does not exist\n",
      // Another set, or a name that only begins like ours.
      "Name: other\nType: hash:net\nHeader: family inet maxelem 5\n",
      "Name: cdnwhite2\nType: hash:net\nHeader: family inet maxelem 5\n",
      "Name: cdnwhite\nHeader: family inet maxelem 5\n",
      "Name: cdnwhite\nType: hash:net\n",
      "Name: cdnwhite\nType: hash:net\nHeader: family inet maxelem lots\n",
      "Name: cdnwhite\nType: hash:net\nHeader: family inet maxelem\n",
      // Nothing that could end the line or pass for an option.
      "Name: cdnwhite\nType: hash:net\nHeader: family inet; reboot\n",
      "Name: cdnwhite\nType: hash:net\nHeader: family inet -exist\n",
      "Name: cdnwhite\nType: hash net\nHeader: family inet\n",
      "Name: cdnwhite\nType: hash:net\nHeader: comment \"x\"\n",
  };
  for (const char *listing : refused) EXPECT_EQ(line(listing, 1), "refused:") << listing;
  // Every size too small for the line gives the empty text, never a cut line.
  std::string whole = line(LISTING, 1);
  for (size_t size = 1; size <= whole.size(); ++size)
    EXPECT_EQ(line(LISTING, 1, size), "refused:") << size;
  EXPECT_EQ(line(LISTING, 1, whole.size() + 1), whole);
}

TEST(IpsetNameSafe, OnlyPlainShortNames) {
  EXPECT_TRUE(ipset_name_safe("cdnwhite"));
  EXPECT_TRUE(ipset_name_safe("quorvel_swap"));
  EXPECT_TRUE(ipset_name_safe(std::string(31, 'a').c_str()));
  EXPECT_FALSE(ipset_name_safe(std::string(32, 'a').c_str()));
  for (const char *name : {"", "-exist", "a b", "a;b", "a$b", "hash:net", "a/b", "a\nb"})
    EXPECT_FALSE(ipset_name_safe(name)) << name;
  EXPECT_FALSE(ipset_name_safe(nullptr));
}

// Checked against ipset 7.17: it reads "010.1.1.1" as 8.1.1.1 and "1.2.3"
// as 1.2.0.3, and refuses "/0", "/33" and "/08".
TEST(Ipv4ElementRead, FourDecimalOctetsAndAPrefixOfOneTo32) {
  struct {
    const char *text;
    uint32_t address;
    int prefix;
  } valid[] = {{"1.2.3.4", 0x01020304, -1},         {"0.0.0.0", 0, -1},
               {"255.255.255.255", 0xffffffff, -1}, {"198.51.100.0/24", 0xc6336400, 24},
               {"1.2.3.4/1", 0x01020304, 1},        {"1.2.3.4/32", 0x01020304, 32}};
  for (const auto &v : valid) {
    ipv4_element element{};
    EXPECT_EQ(ipv4_element_read(v.text, &element), 0) << v.text;
    EXPECT_EQ(element.address, v.address) << v.text;
    EXPECT_EQ(element.prefix, v.prefix) << v.text;
  }
  for (const char *text :
       {"",          "300.1.1.1",  "1.2.3.256",  "1..2//3",           "10.0.0.0/33",
        "1.2.3.4/0", "1.2.3.4/08", "010.1.1.1",  "1.2.3.00",          "1.2.3",
        "1.2.3.4.5", "1.2.3.4/",   "1.2.3.4//8", " 1.2.3.4",          "1.2.3.4 ",
        "1.2.3.-4",  "+1.2.3.4",   "1.2.3.4/+8", "99999999999.1.1.1", "1.2.3.4/4294967304",
        "12"}) {
    ipv4_element element{7, 7};
    EXPECT_EQ(ipv4_element_read(text, &element), -1) << text;
    EXPECT_EQ(element.prefix, 7) << text;
  }
  EXPECT_EQ(ipv4_element_read(nullptr, nullptr), -1);
}

}  // namespace

namespace {

TEST(IpsetEntryCount, ReadsTheCountOfThatSetOnly) {
  size_t count = 99;
  EXPECT_EQ(ipset_entry_count(LISTING, "cdnwhite", &count), 0);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(ipset_entry_count("Name: cdnwhite\nNumber of entries: 0\n", "cdnwhite", &count), 0);
  EXPECT_EQ(count, 0u);
  for (const char *refused : {"Name: cdnwhite2\nNumber of entries: 0\n", "Name: cdnwhite\n",
                              "Name: cdnwhite\nNumber of entries: -1\n",
                              "Name: cdnwhite\nNumber of entries: 1x\n",
                              "ipset v7.17: The set with the given name does not exist\n"})
    EXPECT_EQ(ipset_entry_count(refused, "cdnwhite", &count), -1) << refused;
}

}  // namespace
