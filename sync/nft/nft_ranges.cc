// SPDX-License-Identifier: MIT
#include "sync/nft/nft_ranges.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "lib/text.h"

namespace {

bool range_less(const addr_range &a, const addr_range &b) {
  int order = memcmp(a.first, b.first, sizeof a.first);
  return order != 0 ? order < 0 : memcmp(a.last, b.last, sizeof a.last) < 0;
}

// True when next starts inside range or right after its end.
bool range_touches(const addr_range &range, const addr_range &next) {
  if (memcmp(next.first, range.last, sizeof next.first) <= 0) return true;
  uint8_t after[16];
  memcpy(after, range.last, sizeof after);
  int i = 15;
  while (i >= 0 && ++after[i] == 0) --i;
  // Past the very last IPv6 address nothing can follow.
  return i < 0 || memcmp(next.first, after, sizeof after) == 0;
}

// The prefix length that covers exactly range, or -1.
int range_prefix(const addr_range &range, int bits) {
  int host = 0;  // host bits, counted from the end
  bool ones = true;
  for (int i = 15; i >= 0; --i) {
    for (int bit = 0; bit < 8; ++bit) {
      bool first = (range.first[i] >> bit) & 1;
      bool last = (range.last[i] >> bit) & 1;
      if (ones && !first && last) {
        ++host;
        continue;
      }
      ones = false;
      if (first != last) return -1;
    }
  }
  return host <= bits ? bits - host : -1;
}

int address_text(const uint8_t (&bytes)[16], int family, char *out, size_t size) {
  const bool v6 = family == ADDR_V6;
  return inet_ntop(v6 ? AF_INET6 : AF_INET, bytes + (v6 ? 0 : 12), out,
                   static_cast<socklen_t>(size)) == nullptr
             ? -1
             : 0;
}

}  // namespace

size_t addr_ranges_merge(addr_range *ranges, size_t count) {
  if (ranges == nullptr || count == 0) return 0;
  std::sort(ranges, ranges + count, range_less);
  size_t kept = 0;
  for (size_t i = 1; i < count; ++i) {
    addr_range &current = ranges[kept];
    if (range_touches(current, ranges[i])) {
      if (memcmp(ranges[i].last, current.last, sizeof current.last) > 0)
        memcpy(current.last, ranges[i].last, sizeof current.last);
    } else {
      ranges[++kept] = ranges[i];
    }
  }
  return kept + 1;
}

size_t addr_ranges_unique(addr_range *ranges, size_t count) {
  if (ranges == nullptr || count == 0) return 0;
  std::sort(ranges, ranges + count, range_less);
  auto same = [](const addr_range &a, const addr_range &b) { return !range_less(a, b); };
  return static_cast<size_t>(std::unique(ranges, ranges + count, same) - ranges);
}

int addr_range_format(const addr_range &range, int family, char *out, size_t size) {
  if (out == nullptr || size == 0) return -1;
  out[0] = '\0';
  char first[INET6_ADDRSTRLEN];
  char last[INET6_ADDRSTRLEN];
  if (address_text(range.first, family, first, sizeof first) != 0) return -1;
  int length;
  const int prefix = range_prefix(range, family == ADDR_V6 ? 128 : 32);
  if (addr_range_single(range)) {
    length = snprintf(out, size, "%s", first);
  } else if (prefix >= 0) {
    length = snprintf(out, size, "%s/%d", first, prefix);
  } else {
    if (address_text(range.last, family, last, sizeof last) != 0) return -1;
    length = snprintf(out, size, "%s-%s", first, last);
  }
  if (!format_fits(length, size)) {
    out[0] = '\0';
    return -1;
  }
  return 0;
}
