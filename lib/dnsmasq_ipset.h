// SPDX-License-Identifier: MIT
// dnsmasq's ipset and nftset features: a configuration file that binds host
// names to a kernel IP set or to nftables sets, its removal, and a restart
// of dnsmasq to read it again.
//
// Each line of the file is "ipset=/<host>/<set>\n" (or, for nftables sets,
// "nftset=/<host>/4#<family>#<table>#<set>\n" with ",6#<family>#<table>#<set6>"
// before the newline when an IPv6 set is named), one per accepted host of a
// JSON array, in array order. A host holding any byte outside 0x20 to 0x7E
// is skipped, so no host can end its line and start another option.
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

// The nftables sets that nftset_file_create binds the hosts to: dnsmasq
// adds a host's A answers to set and its AAAA answers to set6.
struct nftset_target {
  const char *family;  // "ip", "ip6", "inet", "bridge" or "netdev"
  const char *table;
  const char *set;
  const char *set6;  // null or empty: A answers only
};

// The same file as ipset_file_create, with the same results, log lines and
// skipped hosts, but with nftset lines for the sets of target. Its entry
// line names nftset_file_create and target->set. A null target, a null or
// unknown family, a null table or set, or a name that nft would not take
// as a plain identifier (nft_name_safe) yields -1 with no file touched.
[[nodiscard]] int nftset_file_create(const char *path, const nftset_target *target,
                                     json_object *hosts);

// Logs its line and removes the file at path (a null path removes
// nothing); a missing file is no error.
void ipset_file_destroy(const char *path);

// Runs DNSMASQ_RESTART_COMMAND through system() and returns its raw wait
// status undecoded (-1 when no shell could be started). Logs nothing.
[[nodiscard]] int dnsmasq_restart();
