// SPDX-License-Identifier: MIT
// The outcome codes of a whitelist load, shared by the cycle, the
// answer's checks and every load mode, and what a mode's check of the set
// finds. The load codes reach the log ("load return <code>").
#pragma once

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

// Further codes of the swap load, which fills a temporary set and swaps it
// with the live one: each leaves the live set as it was.
enum whitelist_swap_status {
  WHITELIST_LOAD_HOSTS = -8,     // "host" not an array, or an element unreadable
  WHITELIST_LOAD_SET = -9,       // the live set missing, or its type unreadable
  WHITELIST_LOAD_INPUT = -10,    // the restore input could not be written, or the
                                 // leftover mark is not the daemon's file
  WHITELIST_LOAD_RESTORE = -11,  // ipset refused the restore
  WHITELIST_LOAD_SWAP = -12,     // ipset refused the swap
};

// Further codes of the nftables load, which replaces the sets' content in
// one nft transaction: each leaves the sets as they were. It fails with -8
// as the swap load does.
enum whitelist_nft_status {
  WHITELIST_LOAD_NFT_SET = -13,      // configuration invalid, table or set missing or unreadable
  WHITELIST_LOAD_NFT_INPUT = -14,    // nft's input could not be written
  WHITELIST_LOAD_NFT_REFUSED = -15,  // nft refused the input
  WHITELIST_LOAD_NFT_SIZE = -16,     // the list holds more elements than a set's size
};

// What a mode's check of its set finds against an element list.
enum load_check_status {
  LOAD_CHECK_HOLDS = 0,     // the set holds the list (or cannot be read: nothing to do)
  LOAD_CHECK_LACKS = 1,     // the set exists and lacks the list: load it again
  LOAD_CHECK_MISSING = -1,  // the set (or its table) does not exist
};
