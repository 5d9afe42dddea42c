// SPDX-License-Identifier: MIT
// The nftables load's parsers on arbitrary bytes: each line an element;
// what parses writes as a text that parses to the same range, and the
// merged ranges are sorted, apart and cover exactly what the elements do.
// The whole input also goes to the set header reader as nft's JSON, and to
// the readers of the kernel's netlink replies.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "lib/json_doc.h"
#include "sync/nft/nft_element.h"
#include "sync/nft/nft_netlink.h"
#include "sync/nft/nft_ranges.h"
#include "sync/nft/nft_set_header.h"
#include "tests/fuzz/fuzz_target.h"

namespace {

constexpr size_t MAX_RANGES = 64;

bool same(const addr_range &a, const addr_range &b) {
  return memcmp(&a, &b, sizeof a) == 0;
}

// True when address lies in one of ranges.
bool covered(const uint8_t (&address)[16], const addr_range *ranges, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (memcmp(ranges[i].first, address, 16) <= 0 && memcmp(address, ranges[i].last, 16) <= 0)
      return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view input(reinterpret_cast<const char *>(data), size);
  nft_set_header asked{};
  (void)nft_set_header_reply(data, size, 0, &asked);
  (void)nft_set_fill_reply(data, size, 0);
  if (size < INT_MAX) {
    json_tokener *tokener = json_tokener_new();
    if (tokener == nullptr) return 0;
    json_doc listing(json_tokener_parse_ex(tokener, input.data(), static_cast<int>(size)));
    json_tokener_free(tokener);
    nft_set_header header;
    if (listing) (void)nft_set_header_find(listing.get(), "cdnwhite", &header);
  }

  addr_range ranges[MAX_RANGES];
  addr_range merged[MAX_RANGES];
  size_t count = 0;
  int family = 0;
  while (!input.empty() && count < MAX_RANGES) {
    size_t end = input.find('\n');
    std::string_view line(input.data(), end == std::string_view::npos ? input.size() : end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    addr_element element;
    if (addr_element_parse(line, &element) != 0) continue;
    char text[ADDR_RANGE_TEXT_SIZE];
    addr_element again;
    // A single range's text reads back as the same range.
    if (addr_range_format(element.range, element.family, text, sizeof text) != 0 ||
        (strchr(text, '-') == nullptr &&
         (addr_element_parse(text, &again) != 0 || !same(again.range, element.range))))
      abort();
    if (family != 0 && element.family != family) continue;  // one family per set
    family = element.family;
    ranges[count++] = element.range;
  }
  memcpy(merged, ranges, sizeof ranges);
  size_t kept = addr_ranges_merge(merged, count);
  if (kept > count) abort();
  for (size_t i = 0; i < kept; ++i) {
    if (memcmp(merged[i].first, merged[i].last, 16) > 0) abort();
    if (i > 0 && memcmp(merged[i - 1].last, merged[i].first, 16) >= 0) abort();
    char text[ADDR_RANGE_TEXT_SIZE];
    if (addr_range_format(merged[i], family, text, sizeof text) != 0) abort();
  }
  // Every element's ends are covered, and every merged range's ends lie in
  // an element.
  for (size_t i = 0; i < count; ++i)
    if (!covered(ranges[i].first, merged, kept) || !covered(ranges[i].last, merged, kept)) abort();
  for (size_t i = 0; i < kept; ++i)
    if (!covered(merged[i].first, ranges, count) || !covered(merged[i].last, ranges, count))
      abort();
  return 0;
}
