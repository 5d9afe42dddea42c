// SPDX-License-Identifier: MIT
// Where the nftables load puts the whitelist: the table family, the table
// and the two sets, read from the UCI package "quorvel":
//
//   config nft 'whitelist'
//   	option family 'inet'
//   	option table 'fw4'
//   	option set 'cdnwhite'
//   	option set6 'cdnwhite6'
//   	option ipv6 '1'
//
// Every option is optional (the defaults are shown); ipv6 '0' leaves IPv6
// addresses out (an empty value is no value in UCI). The names reach nft's
// input, so only plain identifiers pass.
#pragma once

#include <cstddef>

#include "lib/text.h"

struct uci_context;

struct nft_config {
  char family[NFT_NAME_SIZE];
  char table[NFT_NAME_SIZE];
  char set[NFT_NAME_SIZE];
  char set6[NFT_NAME_SIZE];  // empty: no IPv6 set (ipv6 '0')
};

// Fills config from the section 'whitelist' of the package "quorvel" in
// the context's configuration directory, each option missing there (or
// the whole package) taking its default. 0 on success; -1 with *bad
// naming the first option whose value is no family ("ip", "ip6", "inet",
// "bridge", "netdev"), no name (1 to 31 letters, digits, '_', '-' or '.',
// starting with a letter or '_') or, for ipv6, no UCI boolean.
[[nodiscard]] int nft_config_read(uci_context *context, nft_config *config, const char **bad);

// The same from the system's configuration (/etc/config).
[[nodiscard]] int nft_config_load(nft_config *config, const char **bad);
