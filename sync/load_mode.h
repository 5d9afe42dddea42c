// SPDX-License-Identifier: MIT
// One load mode: how the whitelist gets into the firewall's set. Every
// mode works on an element list (sync/core/load_list.h): its reader turns
// the answer's host list into exactly what its load puts in the set, its
// load puts a list there, and its check tells whether the set lacks a
// list, so that what the check expects is what the load would put in.
// The cycle calls only this header; a build links exactly one mode
// (QUORVEL_IPSET_LOAD in sync/CMakeLists.txt): the add mode
// (sync/ipset/add_mode.cc), the swap mode (sync/ipset/swap_mode.cc) or the
// nftables mode (sync/nft/nft_mode.cc).
#pragma once

#include <json-c/json.h>

#include "sync/core/host_list.h"
#include "sync/core/load_list.h"
#include "sync/core/load_status.h"

// Reads the JSON host array into *list (emptied first) as the mode's load
// would take it. 0, or a negative whitelist_load code with *list empty.
// The nftables mode reads its sets' types for it (nothing on standard
// output); with load_lines::QUIET nothing reaches the log.
[[nodiscard]] int load_mode_read(json_object *hosts, load_lines lines, load_list *list);

// The load from the answer's validated host array: the mode's reader and
// its load in the mode's own order of lines and commands. *loaded gets the
// list that the set holds afterwards. 0, or a negative whitelist_load
// code with its reason logged ("load return" is the caller's).
[[nodiscard]] int load_mode_hosts_load(json_object *hosts, load_list *loaded);

// Puts list in the set (a list from anywhere: no element is read again
// from an answer), replacing what the set held as the mode does. 0, or a
// negative whitelist_load code with its reason logged.
[[nodiscard]] int load_mode_list_load(const load_list &list);

// The mode's check of its set against list: LOAD_CHECK_LACKS when the set
// exists and lacks the list (the firewall made it afresh: a reboot, a
// firewall restart), LOAD_CHECK_MISSING when the set or its table does not
// exist, LOAD_CHECK_HOLDS otherwise (an empty list too, unless the set is
// missing). Nothing on standard output or in the log.
[[nodiscard]] int load_mode_check(const load_list &list);
