// SPDX-License-Identifier: MIT
// What "nft -t list sets table <family> <table>" tells about the table's
// sets: the terse listing names each one's type, flags and size and holds
// no elements (nft fetches none for it, so it stays fast however large the
// sets are).
#pragma once

#include <cstdint>
#include <string_view>

struct nft_set_header {
  int family;     // ADDR_V4 (type ipv4_addr) or ADDR_V6 (type ipv6_addr)
  bool interval;  // "flags interval": the set takes prefixes and ranges
  uint32_t size;  // "size N": at most N elements; 0 when the set has none
};

enum nft_set_header_status { NFT_SET_MISSING = -1, NFT_SET_UNUSABLE = -2 };

// Reads the block of the set named set from the listing. 0 with *out
// filled; NFT_SET_MISSING when the listing holds no such set;
// NFT_SET_UNUSABLE when its type is none or another than an address of
// either family, or its size no plain number.
[[nodiscard]] int nft_set_header_parse(std::string_view listing, std::string_view set,
                                       nft_set_header *out);
