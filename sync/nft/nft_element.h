// SPDX-License-Identifier: MIT
// One whitelist element as an nftables set takes it: an IPv4 or IPv6
// address, or a prefix of one, parsed in process so that nothing nft
// would refuse ever reaches its input.
#pragma once

#include <cstdint>
#include <string_view>

// Both families in one form: 16 bytes in network order, an IPv4 address in
// the last four (the first twelve zero), so that sorting and merging are
// the same for both.
struct addr_range {
  uint8_t first[16];
  uint8_t last[16];
};

enum addr_family : int { ADDR_V4 = 4, ADDR_V6 = 6 };

struct addr_element {
  int family;        // ADDR_V4 or ADDR_V6
  int prefix;        // the prefix length given, or -1 for a bare address
  addr_range range;  // host bits masked: first is the network, last its end
};

// The longest element text taken: an IPv6 address with an IPv4 tail and
// "/128".
inline constexpr size_t ADDR_TEXT_MAX = 50;

// Parses "a.b.c.d", an IPv6 address (with ':', as inet_pton reads it) or
// either followed by "/<len>" (decimal, no sign or leading zero, at most
// 32 or 128). 0 with *out filled, -1 for anything else.
[[nodiscard]] int addr_element_parse(std::string_view text, addr_element *out);

// True when the range is one address.
[[nodiscard]] bool addr_range_single(const addr_range &range);
