// SPDX-License-Identifier: MIT
// Loading a validated whitelist answer into the kernel set, through the
// build's load mode (sync/load_mode.h).
#pragma once

#include <json-c/json.h>

#include "sync/cdn_state.h"
#include "sync/core/load_list.h"
#include "sync/core/load_status.h"

// Validates the whole answer document at path, then empties the set and
// adds every valid address of "data"."config"."host". Returns 0 when the
// set was loaded, or one of the negative codes of sync/core/load_status.h
// with the set untouched (for -7: nothing added). state is only tested for
// null.
[[nodiscard]] int whitelist_load(const char *path, const cdn_state *state);

// whitelist_load, with *loaded (emptied first) getting the element list
// that the set holds after a successful load.
[[nodiscard]] int whitelist_load_list(const char *path, const cdn_state *state, load_list *loaded);

// whitelist_load_list over the answer document parsed already (answer,
// borrowed; null: not JSON): the same checks from the document's fields on,
// and the same lines.
[[nodiscard]] int whitelist_answer_load(json_object *answer, const cdn_state *state,
                                        load_list *loaded);

// The mode's check of the set against the list that the answer document at
// path would load: LOAD_CHECK_LACKS when the set exists but lacks it (the
// firewall created it afresh, empty: a reboot or a firewall restart),
// LOAD_CHECK_MISSING when the set or its table does not exist, otherwise
// LOAD_CHECK_HOLDS (also for an unreadable answer or nothing to load).
// Prints nothing on standard output, logs nothing.
[[nodiscard]] int whitelist_set_needs_refill(const char *path);

// whitelist_set_needs_refill over the answer document parsed already.
[[nodiscard]] int whitelist_answer_needs_refill(json_object *answer);
