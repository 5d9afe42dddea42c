// SPDX-License-Identifier: MIT
// What "nft -j -t list sets table <family> <table>" tells about the table's
// sets, read from nft's JSON as firewall4 reads it: each set's type, flags
// and size. The terse listing holds no elements (nft fetches none for it,
// so it stays fast however large the sets are).
#pragma once

#include <json-c/json.h>

#include <cstdint>
#include <string_view>

struct nft_set_header {
  int family;     // ADDR_V4 (type ipv4_addr) or ADDR_V6 (type ipv6_addr)
  bool interval;  // flag "interval": the set takes prefixes and ranges
  uint32_t size;  // "size": at most that many elements; 0 when the set has none
};

enum nft_set_header_status { NFT_SET_MISSING = -1, NFT_SET_UNUSABLE = -2 };

// Reads the set named set from listing, nft's document {"nftables":
// [{"metainfo": ...}, {"set": {"name": ..., "type": ..., ...}}, ...]}.
// 0 with *out filled; NFT_SET_MISSING when the listing holds no such set;
// NFT_SET_UNUSABLE when its type is another than an address of either
// family (a concatenation, ether_addr) or its size no number of 32 bits.
[[nodiscard]] int nft_set_header_find(json_object *listing, std::string_view set,
                                      nft_set_header *out);
