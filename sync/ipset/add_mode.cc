// SPDX-License-Identifier: MIT
// The add mode: the set is emptied with "ipset flush", then each address
// goes in with its own "ipset add" (ipset_flush and ipset_ips_add). Its
// element list is every address whose add runs, as listed.
#include <syslog.h>

#include "sync/ipset/ipset_apply.h"
#include "sync/ipset/ipset_check.h"
#include "sync/load_mode.h"
#include "sync/paths.h"

namespace {

int set_flush() {
  if (ipset_flush(WHITELIST_SET) == 0) return WHITELIST_LOAD_OK;
  syslog(LOG_WARNING, "load set %s flush fail.\n", WHITELIST_SET);
  return WHITELIST_LOAD_FLUSH;
}

}  // namespace

int load_mode_read(json_object *hosts, load_lines lines, load_list *list) {
  load_list_clear(list);
  return ipset_hosts_read(WHITELIST_SET, hosts, lines, list);
}

int load_mode_hosts_load(json_object *hosts, load_list *loaded) {
  load_list_clear(loaded);
  int code = set_flush();
  if (code != WHITELIST_LOAD_OK) return code;
  // The list is kept while the adds run, so that the lines keep their order.
  (void)ipset_ips_add_kept(WHITELIST_SET, hosts, loaded);
  return WHITELIST_LOAD_OK;
}

int load_mode_list_load(const load_list &list) {
  int code = set_flush();
  if (code != WHITELIST_LOAD_OK) return code;
  ipset_list_add(WHITELIST_SET, list);
  return WHITELIST_LOAD_OK;
}

int load_mode_check(const load_list &list) { return ipset_set_check(WHITELIST_SET, list); }
