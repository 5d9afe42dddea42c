// SPDX-License-Identifier: MIT
// The nftables mode: the whole list replaces the content of the
// firewall's sets in one nft transaction (sync/nft/nft_load.h); its check
// asks whether the sets are empty (sync/nft/nft_probe.h).
#include "sync/load_mode.h"
#include "sync/nft/nft_load.h"
#include "sync/nft/nft_probe.h"

int load_mode_read(json_object *hosts, load_lines lines, load_list *list) {
  return nft_whitelist_read(hosts, lines, list);
}

int load_mode_hosts_load(json_object *hosts, load_list *loaded) {
  return nft_whitelist_load(hosts, loaded);
}

int load_mode_list_load(const load_list &list) { return nft_whitelist_list_load(list); }

int load_mode_check(const load_list &list) { return nft_whitelist_check(list); }
