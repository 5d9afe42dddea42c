// SPDX-License-Identifier: MIT
// Replacing the whole content of a kernel IP set in one step: the new
// addresses go into a temporary set of the live set's own type, filled by
// one "ipset restore" from a file in RAM, which is then swapped with the
// live set and destroyed. Readers of the live set see the old content or
// the new one, never a part of either.
#pragma once

#include <json-c/json.h>

#include "sync/core/host_list.h"
#include "sync/core/load_list.h"

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
// stays only while a temporary set of ours may be left. *loaded (when not
// null) gets the list that the set holds afterwards.
[[nodiscard]] int ipset_swap_load(const ipset_swap_names &names, json_object *hosts,
                                  load_list *loaded = nullptr);

// The swap mode's element list of the JSON array hosts: each element that
// passes ipset_hosts_walk's test and is a strict IPv4 address or prefix,
// as written; the others with "ip invalid" unless load_lines::QUIET. 0, or
// WHITELIST_LOAD_HOSTS ("load host list incomplete" logged) with *list
// empty when hosts is no array or holds an unreadable element.
[[nodiscard]] int ipset_swap_read(const char *set, json_object *hosts, load_lines lines,
                                  load_list *list);

// The same load of list (no answer read): its elements go in as they are.
[[nodiscard]] int ipset_swap_list_load(const ipset_swap_names &names, const load_list &list);

// The line of a restore input that ipset's message names ("ipset v7.17:
// Error in line 3: Hash is full, ..."), or 0 when it names none (ipset did
// not run, or failed before any line).
[[nodiscard]] long ipset_error_line(const char *message);
