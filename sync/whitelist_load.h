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

// Validates the whole answer document at path, then empties the set and
// adds every valid address of "data"."config"."host". Returns 0 when the
// set was loaded, or one of the negative codes above with the set
// untouched (for -7: nothing added). state is only tested for null.
[[nodiscard]] int whitelist_load(const char *path, const cdn_state *state);
