// SPDX-License-Identifier: MIT
// The whitelist in nftables sets (a daemon built with
// QUORVEL_IPSET_LOAD=nft): the sets named in /etc/config/quorvel (by
// default firewall4's cdnwhite and cdnwhite6 in table inet fw4) get the
// list's addresses, merged in process, through one nft transaction.
#pragma once

#include <json-c/json.h>

// Loads the valid elements of the JSON array hosts: IPv4 ones into the
// set, IPv6 ones into set6 when it is configured and exists. Logs the
// per-element lines as every load mode does. Returns 0 when the sets hold
// exactly the new list, or a negative whitelist_load code (the reason
// logged) with the sets as they were.
[[nodiscard]] int nft_whitelist_load(json_object *hosts);

// 1 when a configured set exists but lacks the first address of its family
// in hosts (a restart of the firewall emptied it), else 0. One
// "nft get element" per family, nothing on standard output or in the log.
[[nodiscard]] int nft_whitelist_needs_refill(json_object *hosts);
