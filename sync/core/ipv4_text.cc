// SPDX-License-Identifier: MIT
#include "sync/core/ipv4_text.h"

#include "lib/text.h"

namespace {

// Reads the decimal of at most max at *p (no leading zero before another
// digit) and moves past it. False for anything else.
bool number_read(const char **p, int max, int *value) {
  size_t length = 0;
  while ((*p)[length] >= '0' && (*p)[length] <= '9') ++length;
  uint64_t read = 0;
  if (!decimal_read(std::string_view(*p, length), static_cast<uint64_t>(max),
                    leading_zeros::REFUSED, &read))
    return false;
  *p += length;
  *value = static_cast<int>(read);
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
