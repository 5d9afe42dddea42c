// SPDX-License-Identifier: MIT
#include "sync/nft/nft_set_header.h"

#include "lib/text.h"
#include "sync/nft/nft_element.h"
#include "sync/core/view_part.h"

namespace {

std::string_view trimmed(std::string_view line) {
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
    line.remove_suffix(1);
  return line;
}

// The text after "<key> " when line starts so, else an empty view.
std::string_view after(std::string_view line, std::string_view key) {
  if (line.size() <= key.size() || view_part(line, 0, key.size()) != key || line[key.size()] != ' ')
    return {};
  return view_part(line, key.size() + 1);
}

bool has_word(std::string_view list, std::string_view word) {
  // "flags interval,timeout" or "flags constant, interval"
  while (!list.empty()) {
    size_t end = list.find(',');
    if (trimmed(view_part(list, 0, end)) == word) return true;
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return false;
}

int number_parse(std::string_view digits, uint32_t *out) {
  uint64_t value = 0;
  if (!decimal_read(digits, UINT32_MAX, leading_zeros::TAKEN, &value)) return -1;
  *out = static_cast<uint32_t>(value);
  return 0;
}

}  // namespace

int nft_set_header_parse(std::string_view listing, std::string_view set, nft_set_header *out) {
  if (out == nullptr || set.empty()) return NFT_SET_MISSING;
  nft_set_header header{0, false, 0};
  bool found = false;
  bool inside = false;  // within the block of the set named set
  bool usable = true;
  while (!listing.empty()) {
    size_t end = listing.find('\n');
    std::string_view line = trimmed(view_part(listing, 0, end));
    listing.remove_prefix(end == std::string_view::npos ? listing.size() : end + 1);
    std::string_view value;
    if (!(value = after(line, "set")).empty() || !(value = after(line, "map")).empty()) {
      inside = line[0] == 's' && value.size() == set.size() + 2 &&
               view_part(value, 0, set.size()) == set && view_part(value, set.size()) == " {";
      found = found || inside;
    } else if (line == "}") {
      inside = false;
    } else if (!inside) {
      continue;
    } else if (!(value = after(line, "type")).empty()) {
      header.family = value == "ipv4_addr" ? ADDR_V4 : value == "ipv6_addr" ? ADDR_V6 : -1;
    } else if (!(value = after(line, "flags")).empty()) {
      header.interval = has_word(value, "interval");
    } else if (!(value = after(line, "size")).empty()) {
      usable = usable && number_parse(value, &header.size) == 0;
    }
  }
  if (!found) return NFT_SET_MISSING;
  if (!usable || header.family <= 0) return NFT_SET_UNUSABLE;
  *out = header;
  return 0;
}
