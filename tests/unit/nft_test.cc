// SPDX-License-Identifier: MIT
// The pure pieces of the nftables load: elements, ranges, the set header,
// the input and the UCI section.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nf_tables.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netlink.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "lib/json_doc.h"
#include "sync/nft/nft_config.h"
#include "sync/nft/nft_element.h"
#include "sync/nft/nft_input.h"
#include "sync/nft/nft_netlink.h"
#include "sync/nft/nft_ranges.h"
#include "sync/nft/nft_set_header.h"
#include "sync/nft/nft_tool.h"
#include "tests/support/uci_fixture.h"

namespace {

std::string text(const addr_range &range, int family) {
  char out[ADDR_RANGE_TEXT_SIZE];
  return addr_range_format(range, family, out, sizeof out) == 0 ? out : "unformatted";
}

// The element as the load writes it, or "invalid".
std::string parsed(const std::string &element) {
  addr_element out;
  if (addr_element_parse(element, &out) != 0) return "invalid";
  return text(out.range, out.family) + (out.family == ADDR_V6 ? " v6" : "");
}

TEST(NftElement, StrictFormsWithHostBitsMasked) {
  const std::string too_long(60, '1');
  const std::pair<const char *, const char *> cases[] = {
      {"1.2.3.4", "1.2.3.4"},
      {"10.1.2.3/8", "10.0.0.0/8"},
      {"10.1.2.3/32", "10.1.2.3"},
      {"0.0.0.0/0", "0.0.0.0/0"},
      {"2001:DB8::1", "2001:db8::1 v6"},
      {"2001:db8::77/32", "2001:db8::/32 v6"},
      {"::ffff:1.2.3.4", "::ffff:1.2.3.4 v6"},
      {"::/0", "::/0 v6"},
      {"1..2//3", "invalid"},
      {"300.1.1.1", "invalid"},
      {"01.2.3.4", "invalid"},
      {"1.2.3", "invalid"},
      {"1.2.3.4/33", "invalid"},
      {"1.2.3.4/08", "invalid"},
      {"1.2.3.4/", "invalid"},
      {"1.2.3.4/-1", "invalid"},
      {"1.2.3.4 ", "invalid"},
      {"2001:db8::/129", "invalid"},
      {"fe80::1%eth0", "invalid"},
      {"", "invalid"},
      {"example.com", "invalid"},
      {too_long.c_str(), "invalid"},
  };
  for (const auto &[element, want] : cases) EXPECT_EQ(parsed(element), want) << element;
}

std::vector<std::string> settled(const std::vector<std::string> &elements, bool merge) {
  std::vector<addr_range> ranges;
  int family = ADDR_V4;
  for (const std::string &element : elements) {
    addr_element out;
    EXPECT_EQ(addr_element_parse(element, &out), 0) << element;
    ranges.push_back(out.range);
    family = out.family;
  }
  size_t count = merge ? addr_ranges_merge(ranges.data(), ranges.size())
                       : addr_ranges_unique(ranges.data(), ranges.size());
  std::vector<std::string> texts;
  for (size_t i = 0; i < count; ++i) texts.push_back(text(ranges[i], family));
  return texts;
}

TEST(NftRanges, MergesOverlappingAndAdjacentIntoPrefixesOrRanges) {
  using list = std::vector<std::string>;
  const std::pair<list, list> cases[] = {
      {{}, {}},
      {{"10.0.1.0/24", "10.0.0.0/24"}, {"10.0.0.0/23"}},
      {{"10.0.0.0/8", "10.1.0.0/16", "10.255.255.255"}, {"10.0.0.0/8"}},
      {{"10.0.0.0/8", "11.0.0.0/8"}, {"10.0.0.0/7"}},
      {{"11.0.0.0/8", "12.0.0.0/8"}, {"11.0.0.0-12.255.255.255"}},
      {{"1.1.1.1", "1.1.1.3", "1.1.1.2", "1.1.1.2"}, {"1.1.1.1-1.1.1.3"}},
      {{"1.1.1.1", "1.1.1.5"}, {"1.1.1.1", "1.1.1.5"}},
      {{"255.255.255.255", "0.0.0.0/0"}, {"0.0.0.0/0"}},
      {{"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff::/16"}, {"ffff::/16"}},
      {{"2001:db8::/32", "2001:db9::/48", "2001:db7::1"},
       {"2001:db7::1", "2001:db8::-2001:db9:0:ffff:ffff:ffff:ffff:ffff"}},
  };
  for (const auto &[in, want] : cases)
    EXPECT_EQ(settled(in, true), want) << ::testing::PrintToString(in);
  EXPECT_EQ(settled({"1.1.1.2", "1.1.1.1", "1.1.1.2"}, false), (list{"1.1.1.1", "1.1.1.2"}));
}

// The header of cdnwhite in nft's JSON listing of table inet fw4 holding
// the set objects sets, as "<family> <interval> <size>" or the failure.
std::string header(const std::string &sets) {
  const std::string listing =
      R"({"nftables": [{"metainfo": {"version": "1.0.6", "release_name": "Lester Gooch #5", )"
      R"("json_schema_version": 1}})" +
      sets + "]}";
  json_doc doc(json_tokener_parse(listing.c_str()));
  if (!doc) return "not JSON";
  nft_set_header out{};
  int result = nft_set_header_find(doc.get(), "cdnwhite", &out);
  if (result != 0) return result == NFT_SET_MISSING ? "missing" : "unusable";
  return std::to_string(out.family) + (out.interval ? " interval " : " plain ") +
         std::to_string(out.size);
}

TEST(NftSetHeader, ReadsTheNamedSetsTypeFlagsAndSize) {
  // The sets as nft 1.0.6 lists them (-j -t list sets table inet fw4).
  const std::pair<const char *, const char *> cases[] = {
      {R"(, {"set": {"family": "inet", "name": "cdnwhite6", "table": "fw4", "type": "ipv6_addr", )"
       R"("handle": 2, "flags": ["interval"]}}, {"set": {"family": "inet", "name": "cdnwhite", )"
       R"("table": "fw4", "type": "ipv4_addr", "handle": 1, "size": 65535, "flags": ["interval"]}})",
       "4 interval 65535"},
      {R"(, {"set": {"family": "inet", "name": "cdnwhite", "table": "fw4", "type": "ipv6_addr", )"
       R"("handle": 3}})",
       "6 plain 0"},
      {R"(, {"set": {"name": "cdnwhite", "type": "ipv4_addr", "flags": ["interval", "timeout"]}})",
       "4 interval 0"},
      {R"(, {"set": {"name": "cdnwhite", "type": "ipv4_addr", "flags": "interval"}})",
       "4 interval 0"},
      {"", "missing"},
      {R"(, {"set": {"name": "cdnwhite6", "type": "ipv4_addr"}}, {"set": {"name": "cdnwhit"}})",
       "missing"},
      {R"(, {"map": {"name": "cdnwhite", "type": "ipv4_addr", "map": "verdict"}}, ["cdnwhite"])",
       "missing"},
      {R"(, {"set": {"name": "cdnwhite", "type": ["ipv4_addr", "inet_service"], "handle": 5}})",
       "unusable"},
      {R"(, {"set": {"name": "cdnwhite", "type": "ether_addr"}})", "unusable"},
      {R"(, {"set": {"name": "cdnwhite"}})", "unusable"},
      {R"(, {"set": {"name": "cdnwhite", "type": "ipv4_addr", "size": 4294967296}})", "unusable"},
      {R"(, {"set": {"name": "cdnwhite", "type": "ipv4_addr", "size": 4294967295}})",
       "4 plain 4294967295"},
  };
  for (const auto &[sets, want] : cases) EXPECT_EQ(header(sets), want) << sets;
}

// One netlink message as the kernel sends it, numbered by its own headers.
std::string message(uint16_t type, uint32_t seq, const std::string &payload) {
  nlmsghdr header{};
  header.nlmsg_len = static_cast<uint32_t>(NLMSG_HDRLEN + payload.size());
  header.nlmsg_type = type;
  header.nlmsg_seq = seq;
  std::string out(reinterpret_cast<const char *>(&header), sizeof header);
  out += payload;
  out.resize(NLMSG_ALIGN(out.size()), '\0');
  return out;
}

std::string attribute(uint16_t type, const std::string &payload) {
  nlattr header{static_cast<uint16_t>(NLA_HDRLEN + payload.size()), type};
  std::string out(reinterpret_cast<const char *>(&header), sizeof header);
  out += payload;
  out.resize(NLA_ALIGN(out.size()), '\0');
  return out;
}

// A part of a set's element dump: table, set, and the element list
// holding elements (each a key of 4 bytes).
std::string elements_part(uint32_t seq, int elements) {
  std::string list;
  for (int i = 0; i < elements; ++i)
    list += attribute(NFTA_LIST_ELEM | NLA_F_NESTED,
                      attribute(NFTA_SET_ELEM_KEY | NLA_F_NESTED,
                                attribute(NFTA_DATA_VALUE, std::string("\x0a\0\0\x01", 4))));
  const nfgenmsg generic{NFPROTO_INET, NFNETLINK_V0, 0};
  return message((NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_NEWSETELEM, seq,
                 std::string(reinterpret_cast<const char *>(&generic), sizeof generic) +
                     attribute(NFTA_SET_ELEM_LIST_TABLE, std::string("fw4", 4)) +
                     attribute(NFTA_SET_ELEM_LIST_SET, std::string("cdnwhite", 9)) +
                     attribute(NFTA_SET_ELEM_LIST_ELEMENTS | NLA_F_NESTED, list));
}

std::string error(uint32_t seq, int code) {
  nlmsgerr body{};
  body.error = code;
  return message(NLMSG_ERROR, seq, std::string(reinterpret_cast<const char *>(&body), sizeof body));
}

std::string be32(uint32_t value) {
  const uint32_t big = htonl(value);
  return std::string(reinterpret_cast<const char *>(&big), sizeof big);
}

// The kernel's answer to a request for one set: its attributes after the
// table and the name.
std::string set_message(uint32_t seq, const std::string &attributes) {
  const nfgenmsg generic{NFPROTO_INET, NFNETLINK_V0, 0};
  return message((NFNL_SUBSYS_NFTABLES << 8) | NFT_MSG_NEWSET, seq,
                 std::string(reinterpret_cast<const char *>(&generic), sizeof generic) +
                     attribute(NFTA_SET_TABLE, std::string("fw4", 4)) +
                     attribute(NFTA_SET_NAME, std::string("cdnwhite", 9)) + attributes);
}

// What a reply reader said, as text: the header read, or its code.
std::string said_text(int said, const nft_set_header &out) {
  if (said == 0)
    return std::to_string(out.family) + (out.interval ? " interval " : " plain ") +
           std::to_string(out.size);
  return said == NFT_SET_FILLED     ? "filled"
         : said == NFT_SET_MISSING  ? "missing"
         : said == NFT_SET_UNUSABLE ? "unusable"
         : said == NFT_SET_UNASKED  ? "unasked"
         : said == 2                ? "read on"
                                    : std::to_string(said);
}

// The replies to a dump of the set's elements (fill) and to the request
// for the set itself (header), built with the kernel's own numbers.
TEST(NftNetlink, ReadsTheKernelsReplies) {
  const uint32_t seq = 77;
  const std::string done = message(NLMSG_DONE, seq, std::string(4, '\0'));
  const std::string filled = elements_part(seq, 3);
  std::string claims_less = done;  // a length below the header's own
  claims_less[0] = 4;
  const std::string ipv4 = attribute(NFTA_SET_KEY_TYPE, be32(7));
  const std::string interval = attribute(NFTA_SET_FLAGS, be32(NFT_SET_INTERVAL | NFT_SET_TIMEOUT));
  const std::string size =
      attribute(NFTA_SET_DESC | NLA_F_NESTED, attribute(NFTA_SET_DESC_SIZE, be32(65535)));
  const std::string whole =
      set_message(seq, interval + ipv4 + attribute(NFTA_SET_KEY_LEN, be32(4)) + size);
  enum reader { FILL, HEADER };
  const std::tuple<reader, std::string, std::string> cases[] = {
      {FILL, done, "empty"},
      {FILL, elements_part(seq, 0) + done, "empty"},
      {FILL, elements_part(seq, 0), "read on"},
      {FILL, elements_part(seq, 1) + done, "filled"},
      // Cut by the receive buffer inside the element list.
      {FILL, filled.substr(0, filled.size() - 10), "filled"},
      {FILL, error(seq, -ENOENT), "missing"},
      {FILL, elements_part(seq + 1, 2) + done, "empty"},  // another request's
      {FILL, claims_less, "unasked"},
      {HEADER, whole, "4 interval 65535"},
      // The kernel leaves out flags that are all clear.
      {HEADER, set_message(seq, attribute(NFTA_SET_KEY_TYPE, be32(8))), "6 plain 0"},
      {HEADER, set_message(seq, attribute(NFTA_SET_FLAGS, be32(NFT_SET_MAP)) + ipv4), "missing"},
      // A concatenation's key type is its parts' types shifted together.
      {HEADER, set_message(seq, attribute(NFTA_SET_KEY_TYPE, be32((7 << 6) | 13))), "unusable"},
      {HEADER, set_message(seq, interval), "unasked"},
      {HEADER, set_message(seq, attribute(NFTA_SET_KEY_TYPE, std::string(2, '\0'))), "unasked"},
      {HEADER, whole.substr(0, whole.size() - 4), "unasked"},
      {HEADER, error(seq, -EPERM), "unasked"},
      {HEADER, set_message(seq + 1, ipv4) + error(seq + 1, -ENOENT), "read on"},
  };
  for (const auto &[kind, reply, want] : cases) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(reply.data());
    nft_set_header out{};
    const int said = kind == FILL ? nft_set_fill_reply(bytes, reply.size(), seq)
                                  : nft_set_header_reply(bytes, reply.size(), seq, &out);
    const std::string got = kind == FILL && said == NFT_SET_EMPTY ? "empty" : said_text(said, out);
    EXPECT_EQ(got, want) << kind << ::testing::PrintToString(reply);
  }
}

TEST(NftInput, EveryElementOnceInBoundedLines) {
  const size_t count = 10000;
  load_list list;
  for (size_t i = 0; i < count; ++i) {
    const std::string element = "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256);
    ASSERT_EQ(load_list_add(&list, LOAD_V4, element.c_str(), element.size()), 0);
  }
  ASSERT_EQ(load_list_add(&list, LOAD_V6, "2001:db8::1", 11), 0);  // another set's
  nft_fill fill{"inet", "fw4", "cdnwhite", LOAD_V4, &list};
  char *buffer = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&buffer, &size);
  ASSERT_EQ(nft_input_write(out, &fill, 1), 0);
  fclose(out);
  std::istringstream input(std::string(buffer, size));
  free(buffer);
  std::string line;
  size_t lines = 0, elements = 0;
  while (std::getline(input, line)) {
    EXPECT_LT(line.size() + 1, NFT_LINE_MAX);
    if (lines++ > 0) elements += 1 + std::count(line.begin(), line.end(), ',');
  }
  EXPECT_GT(lines, 2u);  // the flush and more than one add line
  EXPECT_EQ(elements, count);
}

// The facts nft tells only in its text, read from nft 1.0.6's messages.
TEST(NftMessages, AbsentElementMissingSetAndInterruption) {
  const struct {
    const char *message;
    bool absent, missing, interrupted;
  } cases[] = {
      {"/dev/stdin:1:1-35: Error: Could not process rule: No such file or directory", true, false,
       false},
      {"/dev/stdin:1:22-24: Error: No such file or directory; did you mean set ‘s’ in "
       "table inet ‘fw4’?",
       false, true, false},
      {"Error: No such file or directory", false, true, false},
      {"Error: Could not process rule: Interrupted system call", false, false, true},
      {"Error: syntax error, unexpected newline", false, false, false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(nft_says_element_absent(c.message), c.absent) << c.message;
    EXPECT_EQ(nft_says_missing(c.message), c.missing) << c.message;
    EXPECT_EQ(nft_says_interrupted(c.message), c.interrupted) << c.message;
  }
}

class NftConfig : public UciFixture {
 protected:
  std::string read() {
    nft_config config;
    const char *bad = nullptr;
    if (nft_config_read(ctx(), &config, &bad) != 0) return std::string("bad ") + bad;
    return std::string(config.family) + " " + config.table + " " + config.set + " " + config.set6;
  }
};

TEST_F(NftConfig, DefaultsOverriddenOptionByOptionAndNamesChecked) {
  EXPECT_EQ(read(), "inet fw4 cdnwhite cdnwhite6");
  const std::pair<const char *, const char *> cases[] = {
      {"\toption table 'edge'\n\toption set6 'allow_6'\n", "inet edge cdnwhite allow_6"},
      {"\toption family 'ip'\n\toption ipv6 '0'\n", "ip fw4 cdnwhite "},
      {"\toption ipv6 'maybe'\n", "bad ipv6"},
      {"\toption family 'arp'\n", "bad family"},
      {"\toption set 'white list'\n", "bad set"},
      {"\toption set '9lives'\n", "bad set"},
      {"\toption table 'a234567890123456789012345678901x'\n", "bad table"},
      {"\toption table 'fw4}'\n", "bad table"},
  };
  for (const auto &[options, want] : cases) {
    write("quorvel", std::string("config nft 'whitelist'\n") + options);
    reset_context();
    EXPECT_EQ(read(), want) << options;
  }
}

}  // namespace
