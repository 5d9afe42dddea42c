// SPDX-License-Identifier: MIT
// What the kernel's nf_tables says of a set, asked over netlink: its
// header (key type, flags, size) and whether it holds any element. Each
// answer takes a fraction of a millisecond, where nft starts, reads the
// table and, for a lookup, fetches every element of the table first (tens
// of milliseconds and megabytes at 10,000 elements). The firewall's restart
// and a reboot make a set afresh, empty; a load is one transaction, so a
// set that holds elements holds a whole list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sync/nft/nft_set_header.h"

// No answer: no nf_tables netlink here (qemu-user has none for foreign
// programs), refused, or cut. nft is asked instead.
inline constexpr int NFT_SET_UNASKED = -3;

enum nft_set_fill : int {
  NFT_SET_FILLED = 1,
  NFT_SET_EMPTY = 0,
  NFT_SET_GONE = NFT_SET_MISSING,  // no such table or set
};

// The header of set in table of family ("ip", "ip6", "inet", "bridge",
// "netdev"): 0 with *out filled, NFT_SET_MISSING (also for a map, which nft
// lists apart from the sets), NFT_SET_UNUSABLE (a key of another type than
// an address of either family), or NFT_SET_UNASKED.
[[nodiscard]] int nft_set_header_ask(const char *family, const char *table, const char *set,
                                     nft_set_header *out);

// What the received reply (length bytes) to request seq says of the set's
// header: a value of nft_set_header_ask, or 2 when it holds no part of that
// reply.
[[nodiscard]] int nft_set_header_reply(const unsigned char *reply, size_t length, uint32_t seq,
                                       nft_set_header *out);

// Whether set in table of family holds any element: a value of
// nft_set_fill, or NFT_SET_UNASKED.
[[nodiscard]] int nft_set_fill_ask(const char *family, const char *table, const char *set);

// What the received reply (length bytes) to request seq says: a value of
// nft_set_fill or NFT_SET_UNASKED, or 2 when it has only parts that tell
// nothing yet (an empty part of the dump), so that the next datagram must
// be read.
[[nodiscard]] int nft_set_fill_reply(const unsigned char *reply, size_t length, uint32_t seq);
