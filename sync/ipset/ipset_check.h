// SPDX-License-Identifier: MIT
// The check of the add and swap modes: a kernel IP set that the firewall
// created afresh (a reboot, a firewall restart) is empty while the stored
// stamp still matches the served one.
#pragma once

#include "sync/core/load_list.h"

// LOAD_CHECK_LACKS when set exists, holds no entry and list has a
// non-empty element; LOAD_CHECK_MISSING when ipset says the set does not
// exist; LOAD_CHECK_HOLDS otherwise (also when the listing is unreadable).
// One "ipset list -t"; nothing on standard output or in the log.
[[nodiscard]] int ipset_set_check(const char *set, const load_list &list);

// True when ipset's message says that the set named in the command does
// not exist ("The set with the given name does not exist").
[[nodiscard]] bool ipset_says_missing(const char *message);
