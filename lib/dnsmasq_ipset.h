// SPDX-License-Identifier: MIT
// dnsmasq's ipset feature: a configuration file that binds host names to a
// kernel IP set, its removal, and a restart of dnsmasq to read it again.
//
// Each line of the file is "ipset=/<host>/<set>\n", one per accepted host
// of a JSON array, in array order. A host holding any byte outside 0x20 to
// 0x7E is skipped, so no host can end its line and start another option.
#pragma once

#include <json-c/json.h>

// The init script command that dnsmasq_restart runs.
inline constexpr char DNSMASQ_RESTART_COMMAND[] = "/etc/init.d/dnsmasq restart";

// Writes the ipset file at path (emptied first) for every element of the
// JSON array hosts, taken in its text form, bound to set_name. Returns
//   0  every element was handled (skipped hosts included);
//  -1  path, set_name or hosts is null, or set_name holds a byte outside
//      0x20 to 0x7E: no file is touched;
//  -2  the file cannot be opened for writing (no end line), or the lines
//      could not all be written to it (end line with -2);
//  -3  hosts is not an array: the file is left empty;
//  -4  a JSON null element, -5 an element without a text form: the lines
//      written before it stay.
// Logs its entry line always, and the end line for 0, -3, -4 and -5.
[[nodiscard]] int ipset_file_create(const char *path, const char *set_name, json_object *hosts);

// Logs its line and removes the file at path (a null path removes
// nothing); a missing file is no error.
void ipset_file_destroy(const char *path);

// Runs DNSMASQ_RESTART_COMMAND through system() and returns its raw wait
// status undecoded (-1 when no shell could be started). Logs nothing.
[[nodiscard]] int dnsmasq_restart();
