// SPDX-License-Identifier: MIT
// Loading a validated whitelist answer into the kernel set.
#pragma once

#include "sync/cdn_state.h"

// Return codes of whitelist_load.
enum whitelist_load_status {
  WHITELIST_LOAD_OK = 0,
  WHITELIST_LOAD_ARG = -1,           // null argument or missing file
  WHITELIST_LOAD_PARSE = -2,         // not JSON
  WHITELIST_LOAD_CODE = -3,          // "code" missing
  WHITELIST_LOAD_CODE_NONZERO = -4,  // "code" is not 0
  WHITELIST_LOAD_DATA = -5,          // "data" missing
  WHITELIST_LOAD_CONFIG = -6,        // "updateTime", "config" or "host" missing
  WHITELIST_LOAD_FLUSH = -7,         // the set could not be emptied (missing)
};

// Further codes of the swap load (built with QUORVEL_IPSET_LOAD=swap), which
// fills a temporary set and swaps it with the live one: each leaves the
// live set as it was.
enum whitelist_swap_status {
  WHITELIST_LOAD_HOSTS = -8,     // "host" not an array, or an element unreadable
  WHITELIST_LOAD_SET = -9,       // the live set missing, or its type unreadable
  WHITELIST_LOAD_INPUT = -10,    // the restore input could not be written, or the
                                 // leftover mark is not the daemon's file
  WHITELIST_LOAD_RESTORE = -11,  // ipset refused the restore
  WHITELIST_LOAD_SWAP = -12,     // ipset refused the swap
};

// Further codes of the nftables load (built with QUORVEL_IPSET_LOAD=nft),
// which replaces the sets' content in one nft transaction: each leaves the
// sets as they were. It fails with -8 as the swap load does.
enum whitelist_nft_status {
  WHITELIST_LOAD_NFT_SET = -13,      // configuration invalid, table or set missing or unreadable
  WHITELIST_LOAD_NFT_INPUT = -14,    // nft's input could not be written
  WHITELIST_LOAD_NFT_REFUSED = -15,  // nft refused the input
  WHITELIST_LOAD_NFT_SIZE = -16,     // the list holds more elements than a set's size
};

// Validates the whole answer document at path, then empties the set and
// adds every valid address of "data"."config"."host". Returns 0 when the
// set was loaded, or one of the negative codes above with the set
// untouched (for -7: nothing added). state is only tested for null.
[[nodiscard]] int whitelist_load(const char *path, const cdn_state *state);

// 1 when the set that whitelist_load fills exists but lacks the list (the
// firewall created it afresh, empty: a reboot or a firewall restart) while
// the answer document at path holds an address the load would add; 0
// otherwise (the set holds entries, is missing or unreadable, or there is
// nothing to load). Prints nothing on standard output, logs nothing.
[[nodiscard]] int whitelist_set_needs_refill(const char *path);
