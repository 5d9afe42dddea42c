// SPDX-License-Identifier: MIT
// The swap mode: the whole list replaces the set's content in one step
// (sync/ipset/ipset_swap.h). Its element list is every strict IPv4 element
// of the answer, as written.
#include "sync/ipset/ipset_check.h"
#include "sync/ipset/ipset_swap.h"
#include "sync/core/scratch_dir.h"
#include "sync/load_mode.h"
#include "sync/paths.h"

namespace {

constexpr ipset_swap_names NAMES{WHITELIST_SET, WHITELIST_SWAP_SET, WHITELIST_SWAP_MARK,
                                 SCRATCH_PARENT};

}  // namespace

int load_mode_read(json_object *hosts, load_lines lines, load_list *list) {
  return ipset_swap_read(WHITELIST_SET, hosts, lines, list);
}

int load_mode_hosts_load(json_object *hosts, load_list *loaded) {
  return ipset_swap_load(NAMES, hosts, loaded);
}

int load_mode_list_load(const load_list &list) { return ipset_swap_list_load(NAMES, list); }

int load_mode_check(const load_list &list) { return ipset_set_check(WHITELIST_SET, list); }
