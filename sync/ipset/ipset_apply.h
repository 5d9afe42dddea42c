// SPDX-License-Identifier: MIT
// Emptying and filling a kernel IP set through the ipset command.
#pragma once

#include <json-c/json.h>

#include "sync/core/host_list.h"
#include "sync/core/load_list.h"

// The characters a whitelist address may hold: digits, full stop, slash.
inline constexpr char IPSET_ADDRESS_CHARS[] = "1234567890./";

// Runs "ipset flush <set>" through system(). 0 when the command exited with
// status 0; -1 for a null set, a set that does not exist, no shell or no
// ipset command, or an ipset ended by a signal.
[[nodiscard]] int ipset_flush(const char *set);

// True when the element text may stand in "ipset add <set> <text>": only
// IPSET_ADDRESS_CHARS, and the line fits its 128 bytes.
[[nodiscard]] bool ipset_address_ok(const char *set, const char *text);

// Called by ipset_hosts_walk with each address that passed the test: 0 to
// go on, -1 to stop the walk.
using ipset_host_visit = int (*)(const char *address, void *context);

// Walks the JSON array list as a load reads it: an element whose text form
// holds only IPSET_ADDRESS_CHARS and whose "ipset add <set> <address>" line
// fits its 128 bytes goes to visit, any other is skipped with "ip invalid";
// a JSON null element or one without a text form ends the walk. Writes the
// per-element lines and the closing "ip list end" line unless lines is
// load_lines::QUIET. visit returns 0, or -1 to stop the walk. Returns 0, -1
// for a null list or set (no end line), -3 when list is not an array, -4
// for a JSON null element, -5 for an element without a text form, -6 when
// visit stopped the walk.
[[nodiscard]] int ipset_hosts_walk(const char *set, json_object *list, ipset_host_visit visit,
                                   void *context, load_lines lines = load_lines::LOGGED);

// Runs "ipset add <set> <address>" for each element of the JSON array list
// whose text form holds only IPSET_ADDRESS_CHARS; other elements are
// skipped with a log line, refused adds do not stop the loop. Returns 0, -1
// for a null list or set, -3 when list is not an array, -4 for a JSON null
// element, -5 for an element without a text form.
[[nodiscard]] int ipset_ips_add(const char *set, json_object *list);

// ipset_ips_add, keeping each address whose add ran in *added (when not
// null) as the add mode's element list.
[[nodiscard]] int ipset_ips_add_kept(const char *set, json_object *list, load_list *added);

// The add mode's element list of the JSON array list, as ipset_ips_add
// would add it, with its lines (unless load_lines::QUIET) but no command.
// Always 0: a list that is no array, or that ends early, yields the
// addresses before the end (*added is marked broken when memory ran out).
int ipset_hosts_read(const char *set, json_object *list, load_lines lines, load_list *added);

// Runs "ipset add <set> <text>" for each element of list, as
// ipset_ips_add does for an answer's (the stat line first, then one
// command line each on standard output; refused adds do not stop it).
void ipset_list_add(const char *set, const load_list &list);

// 0 when every character of text occurs in allowed (also for the empty
// text), -1 at the first that does not.
[[nodiscard]] int str_only_chars(const char *text, const char *allowed);
