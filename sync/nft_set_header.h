// What "nft -t list set <family> <table> <set>" tells about a set: the
// terse listing names its type, flags and size and holds no elements.
#pragma once

#include <cstdint>
#include <string_view>

struct nft_set_header {
  int family;     // ADDR_V4 (type ipv4_addr) or ADDR_V6 (type ipv6_addr)
  bool interval;  // "flags interval": the set takes prefixes and ranges
  uint32_t size;  // "size N": at most N elements; 0 when the set has none
};

// Reads the listing of the set named set. 0 with *out filled; -1 when the
// listing is of another set, names no type or another type than an
// address of either family, or a size that is not a plain number.
[[nodiscard]] int nft_set_header_parse(std::string_view listing, std::string_view set,
                                       nft_set_header *out);
