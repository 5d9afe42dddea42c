// SPDX-License-Identifier: MIT
// The one strict reading of an IPv4 element text: what a kernel IP set of
// family inet takes as one address or one prefix, with nothing left to the
// resolver's looser forms ("1.2.3" or the octal "010.1.1.1", which ipset
// reads as another address than the one written).
#pragma once

#include <cstdint>

// A prefix length of 0 is refused by ipset; above 32 is no IPv4 prefix.
inline constexpr int IPV4_PREFIX_MIN = 1;
inline constexpr int IPV4_PREFIX_MAX = 32;

struct ipv4_element {
  uint32_t address;  // host byte order
  int prefix;        // IPV4_PREFIX_MIN to IPV4_PREFIX_MAX, or -1 when none was written
};

// Reads text as "a.b.c.d" or "a.b.c.d/n": four decimal octets 0 to 255 and
// an optional prefix length IPV4_PREFIX_MIN to IPV4_PREFIX_MAX, each number
// without a sign, spaces or a leading zero ("0" itself is fine). 0 with
// *out filled, or -1 (out untouched) for anything else, a null text too.
[[nodiscard]] int ipv4_element_read(const char *text, ipv4_element *out);
