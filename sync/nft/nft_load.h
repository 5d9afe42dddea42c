// SPDX-License-Identifier: MIT
// The whitelist in nftables sets: the sets named in /etc/config/quorvel
// (by default firewall4's cdnwhite and cdnwhite6 in table inet fw4) get
// the list's addresses, merged in process, through one nft transaction.
// The element list is each family's merged ranges, as nft's input holds
// them: what they are depends on the sets' types (a set without "flags
// interval" takes single addresses only), so the reader reads those first.
#pragma once

#include <json-c/json.h>

#include "sync/core/host_list.h"
#include "sync/core/load_list.h"

// The nftables mode's element list of the JSON array hosts, for the sets
// as they are now (their types read with one nft run, nothing on standard
// output): IPv4 elements for the set, IPv6 ones for set6 when it is
// configured and exists. The per-element lines unless load_lines::QUIET.
// 0, or a negative whitelist_load code with *list empty.
[[nodiscard]] int nft_whitelist_read(json_object *hosts, load_lines lines, load_list *list);

// Loads the valid elements of the JSON array hosts: IPv4 ones into the
// set, IPv6 ones into set6 when it is configured and exists. Logs the
// per-element lines as every load mode does. Returns 0 when the sets hold
// exactly the new list (then in *loaded), or a negative whitelist_load code
// (the reason logged) with the sets as they were.
[[nodiscard]] int nft_whitelist_load(json_object *hosts, load_list *loaded);

// The same load of list, an element list of this mode (IPv6 elements are
// left out when no IPv6 set is configured or exists).
[[nodiscard]] int nft_whitelist_list_load(const load_list &list);
