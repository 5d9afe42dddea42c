// SPDX-License-Identifier: MIT
// Sorting and merging the ranges of one family before they go to an
// nftables set: a set refuses overlapping intervals unless it merges them
// itself, and a plain set takes single addresses only once.
#pragma once

#include <cstddef>

#include "sync/nft/nft_element.h"

// Sorts ranges and joins those that overlap or touch (10.0.0.0/24 and
// 10.0.1.0/24 become one). Returns the count left at the front.
[[nodiscard]] size_t addr_ranges_merge(addr_range *ranges, size_t count);

// Sorts ranges and drops repeats. Returns the count left at the front.
[[nodiscard]] size_t addr_ranges_unique(addr_range *ranges, size_t count);

// The longest text of a range: two IPv6 addresses and a '-'.
inline constexpr size_t ADDR_RANGE_TEXT_SIZE = 96;

// The range as nft reads it: "a" for one address, "a/len" where it is
// exactly one prefix, "a-b" otherwise. 0, or -1 when it does not fit size
// bytes (out then holds the empty text).
[[nodiscard]] int addr_range_format(const addr_range &range, int family, char *out, size_t size);
