// SPDX-License-Identifier: MIT
// The nftables mode's check of its sets: a restart of the firewall makes
// them afresh, empty, while the stored stamp still matches the served one.
// The kernel is asked whether each set holds any element
// (sync/nft/nft_netlink.h); where it cannot be asked, one "nft get
// element" per family probes the first element of the list.
#pragma once

#include "sync/core/load_list.h"

// LOAD_CHECK_LACKS when a configured set that list has elements for exists
// but is empty (or, probed by nft, lacks the first element of its family),
// LOAD_CHECK_MISSING when the table or the IPv4 set does not exist,
// LOAD_CHECK_HOLDS otherwise (an empty list, an invalid configuration, a
// probe nft refused for another reason). Nothing on standard output or in
// the log.
[[nodiscard]] int nft_whitelist_check(const load_list &list);
