// SPDX-License-Identifier: MIT
// The input of one "nft -f" run that replaces the content of the
// whitelist's sets: nft applies a whole file as one transaction, so readers
// of a set see its old elements or its new ones, never a part or none.
#pragma once

#include <cstddef>
#include <cstdio>

#include "sync/core/load_list.h"

// The elements of one set: family, table and set name (checked names),
// and the list whose elements of one address family go into it.
struct nft_fill {
  const char *family;
  const char *table;
  const char *set;
  int addr_family;  // LOAD_V4 or LOAD_V6
  const load_list *list;
};

// Lines of the input stay below this many bytes: long enough that nft
// handles few commands (each add command into an interval set costs it a
// pass over the set: 100,000 addresses load in 0.7 s in 16 KiB lines and
// 1.7 s in 2 KiB lines), short enough to bound what nft echoes of a
// refused line.
inline constexpr size_t NFT_LINE_MAX = 64 * 1024;

// Writes "flush set <family> <table> <set>" for each fill, then its
// elements as "add element <family> <table> <set> { a, b, ... }" lines. 0,
// or -1 when the stream reports an error.
[[nodiscard]] int nft_input_write(FILE *out, const nft_fill *fills, size_t count);
