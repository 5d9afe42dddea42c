// SPDX-License-Identifier: MIT
#include "sync/ipset/ipv4_text.h"

namespace {

// Reads a decimal number of at most max at *p and moves past it. False for
// no digit, a leading zero before another digit, or a value above max.
bool number_read(const char **p, int max, int *value) {
  const char *at = *p;
  if (*at < '0' || *at > '9') return false;
  if (at[0] == '0' && at[1] >= '0' && at[1] <= '9') return false;
  int result = 0;
  while (*at >= '0' && *at <= '9') {
    result = result * 10 + (*at - '0');
    if (result > max) return false;
    ++at;
  }
  *p = at;
  *value = result;
  return true;
}

}  // namespace

int ipv4_element_read(const char *text, ipv4_element *out) {
  if (text == nullptr || out == nullptr) return -1;
  const char *p = text;
  uint32_t address = 0;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0 && *p++ != '.') return -1;
    int value = 0;
    if (!number_read(&p, 255, &value)) return -1;
    address = address << 8 | static_cast<uint32_t>(value);
  }
  int prefix = -1;
  if (*p == '/') {
    ++p;
    if (!number_read(&p, IPV4_PREFIX_MAX, &prefix) || prefix < IPV4_PREFIX_MIN) return -1;
  }
  if (*p != '\0') return -1;
  out->address = address;
  out->prefix = prefix;
  return 0;
}
