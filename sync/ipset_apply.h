// SPDX-License-Identifier: MIT
// Emptying and filling a kernel IP set through the ipset command.
#pragma once

#include <json-c/json.h>

// The characters a whitelist address may hold: digits, full stop, slash.
inline constexpr char IPSET_ADDRESS_CHARS[] = "1234567890./";

// Runs "ipset flush <set>" through system(). 0 when the command exited with
// status 0; -1 for a null set, a set that does not exist, no shell or no
// ipset command, or an ipset ended by a signal.
[[nodiscard]] int ipset_flush(const char *set);

// True when the element text may stand in "ipset add <set> <text>": only
// IPSET_ADDRESS_CHARS, and the line fits its 128 bytes.
[[nodiscard]] bool ipset_address_ok(const char *set, const char *text);

// True when the JSON array list holds an element that a load would add (a
// non-empty text that ipset_address_ok accepts). Logs nothing.
[[nodiscard]] bool ipset_hosts_any(const char *set, json_object *list);

// Called by ipset_hosts_walk with each address that passed the test.
using ipset_host_visit = void (*)(const char *address, void *context);

// Walks the JSON array list as a load reads it: an element whose text form
// holds only IPSET_ADDRESS_CHARS and whose "ipset add <set> <address>" line
// fits its 128 bytes goes to visit, any other is skipped with "ip invalid";
// a JSON null element or one without a text form ends the walk. Writes the
// per-element lines and the closing "ip list end" line. Returns 0, -1 for a
// null list or set (no end line), -3 when list is not an array, -4 for a
// JSON null element, -5 for an element without a text form.
[[nodiscard]] int ipset_hosts_walk(const char *set, json_object *list, ipset_host_visit visit,
                                   void *context);

// Runs "ipset add <set> <address>" for each element of the JSON array list
// whose text form holds only IPSET_ADDRESS_CHARS; other elements are
// skipped with a log line, refused adds do not stop the loop. Returns 0, -1
// for a null list or set, -3 when list is not an array, -4 for a JSON null
// element, -5 for an element without a text form.
[[nodiscard]] int ipset_ips_add(const char *set, json_object *list);

// 0 when every character of text occurs in allowed (also for the empty
// text), -1 at the first that does not.
[[nodiscard]] int str_only_chars(const char *text, const char *allowed);
