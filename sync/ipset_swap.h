// SPDX-License-Identifier: MIT
// Replacing the whole content of a kernel IP set in one step: the new
// addresses go into a temporary set of the live set's own type, filled by
// one "ipset restore" from a file in RAM, which is then swapped with the
// live set and destroyed. Readers of the live set see the old content or
// the new one, never a part of either.
#pragma once

#include <json-c/json.h>

// The temporary set's name, and the file that says a set of that name is a
// leftover of the daemon's own: written before the set is created, removed
// once it is destroyed. A set of that name without the file is someone
// else's and is never destroyed.
inline constexpr char WHITELIST_SWAP_SET[] = "quorvel_swap";
inline constexpr char WHITELIST_SWAP_MARK[] = "/tmp/quorvel_swap.set";

// Files of one load inside its private folder: the restore input, what
// the ipset commands print, and the input's next version while an element
// that ipset refused is dropped.
inline constexpr char IPSET_INPUT_NAME[] = "ipset_input";
inline constexpr char IPSET_OUTPUT_NAME[] = "ipset_output";
inline constexpr char IPSET_SPARE_NAME[] = "ipset_spare";

// How many elements that passed the checks but that ipset still refuses
// are dropped, one restore each, before the load gives up.
inline constexpr int IPSET_DROPS_MAX = 8;

struct ipset_swap_names {
  const char *set;      // the live set
  const char *temp;     // the temporary set
  const char *mark;     // the leftover mark: an absolute path
  const char *scratch;  // where the load's private folder is made (RAM)
};

// Loads the valid addresses of the JSON array hosts into names.set through
// names.temp. An element that is no strict IPv4 address or prefix is left
// out with "ip invalid", as is one that ipset still refuses (up to
// IPSET_DROPS_MAX of them). Returns 0 when the set holds the new list, or a
// negative whitelist_load code (the reason logged): the live set then holds
// what it held before. The private folder goes on every path; the mark
// stays only while a temporary set of ours may be left.
[[nodiscard]] int ipset_swap_load(const ipset_swap_names &names, json_object *hosts);
