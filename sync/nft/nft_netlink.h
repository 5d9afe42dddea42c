// SPDX-License-Identifier: MIT
// Whether an nftables set holds any element, asked of the kernel over
// netlink: the first part of a dump of the set's elements tells it in a
// fraction of a millisecond, where nft itself fetches every element of the
// table before it answers a lookup (tens of milliseconds and megabytes at
// 10,000 elements). The firewall's restart and a reboot make the set
// afresh, empty; a load is one transaction, so a set that holds elements
// holds a whole list.
#pragma once

#include <cstddef>
#include <cstdint>

enum nft_set_fill : int {
  NFT_SET_FILLED = 1,
  NFT_SET_EMPTY = 0,
  NFT_SET_GONE = -1,     // no such table or set
  NFT_SET_UNASKED = -2,  // no answer: no nf_tables netlink here (qemu-user
                         // has none for foreign programs), refused, or cut
};

// Asks the kernel about set in table of family ("ip", "ip6", "inet",
// "bridge", "netdev").
[[nodiscard]] int nft_set_fill_ask(const char *family, const char *table, const char *set);

// What the received reply (length bytes) to request seq says: a value of
// nft_set_fill, or 2 when it has only parts that tell nothing yet (an empty
// part of the dump), so that the next datagram must be read.
[[nodiscard]] int nft_set_fill_reply(const unsigned char *reply, size_t length, uint32_t seq);
