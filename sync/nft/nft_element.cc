// SPDX-License-Identifier: MIT
#include "sync/nft/nft_element.h"

#include <arpa/inet.h>

#include <cstring>

#include "lib/text.h"
#include "sync/core/ipv4_text.h"

#include "sync/core/view_part.h"

namespace {

// The prefix length of "/<len>": -1 when it is not a plain decimal of at
// most max.
int prefix_parse(std::string_view digits, int max) {
  uint64_t value = 0;
  return decimal_read(digits, static_cast<uint64_t>(max), leading_zeros::REFUSED, &value)
             ? static_cast<int>(value)
             : -1;
}

}  // namespace

int addr_element_parse(std::string_view text, addr_element *out) {
  if (out == nullptr || text.empty() || text.size() > ADDR_TEXT_MAX) return -1;
  size_t slash = text.find('/');
  std::string_view address = view_part(text, 0, slash);
  char buffer[ADDR_TEXT_MAX + 1];
  memcpy(buffer, address.data(), address.size());
  buffer[address.size()] = '\0';

  addr_element element{};
  bool v6 = address.find(':') != std::string_view::npos;
  element.family = v6 ? ADDR_V6 : ADDR_V4;
  // The one strict IPv4 reader (a dotted quad of decimals without leading
  // zeros), and inet_pton for the IPv6 text forms without a zone.
  if (v6) {
    if (inet_pton(AF_INET6, buffer, element.range.first) != 1) return -1;
  } else {
    ipv4_element v4{};
    if (ipv4_element_read(buffer, &v4) != 0 || v4.prefix != -1) return -1;
    for (int i = 0; i < 4; ++i)
      element.range.first[12 + i] = static_cast<uint8_t>(v4.address >> (24 - 8 * i));
  }
  const int bits = v6 ? 128 : 32;
  element.prefix = -1;
  if (slash != std::string_view::npos) {
    element.prefix = prefix_parse(view_part(text, slash + 1), bits);
    if (element.prefix < 0) return -1;
  }
  const int kept = (element.prefix < 0 ? bits : element.prefix) + (128 - bits);
  for (int i = 0; i < 16; ++i) {
    int keep = kept - i * 8;
    uint8_t mask = keep >= 8 ? 0xff : keep <= 0 ? 0 : static_cast<uint8_t>(0xff << (8 - keep));
    element.range.first[i] &= mask;
    element.range.last[i] = static_cast<uint8_t>(element.range.first[i] | ~mask);
  }
  *out = element;
  return 0;
}

bool addr_range_single(const addr_range &range) {
  return memcmp(range.first, range.last, sizeof range.first) == 0;
}
