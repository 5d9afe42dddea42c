// SPDX-License-Identifier: MIT
#include "sync/nft/nft_input.h"

#include <cstring>


namespace {

int fill_write(FILE *out, const nft_fill &fill) {
  char head[128];
  int head_length =
      snprintf(head, sizeof head, "add element %s %s %s { ", fill.family, fill.table, fill.set);
  if (head_length < 0 || static_cast<size_t>(head_length) >= sizeof head) return -1;
  size_t line = 0;  // bytes of the open line, 0 when none is open
  size_t at = 0;
  load_entry entry{};
  while (fill.list != nullptr && load_list_next(*fill.list, &at, &entry)) {
    if (entry.family != fill.addr_family) continue;
    const char *text = entry.text;
    size_t length = strlen(text);
    // The separator, the element and the line's end must fit.
    if (line != 0 && line + 2 + length + 3 >= NFT_LINE_MAX) {
      fputs(" }\n", out);
      line = 0;
    }
    if (line == 0) {
      fputs(head, out);
      line = static_cast<size_t>(head_length);
    } else {
      fputs(", ", out);
      line += 2;
    }
    fputs(text, out);
    line += length;
  }
  if (line != 0) fputs(" }\n", out);
  return 0;
}

}  // namespace

int nft_input_write(FILE *out, const nft_fill *fills, size_t count) {
  if (out == nullptr || (fills == nullptr && count != 0)) return -1;
  for (size_t i = 0; i < count; ++i)
    fprintf(out, "flush set %s %s %s\n", fills[i].family, fills[i].table, fills[i].set);
  for (size_t i = 0; i < count; ++i) {
    if (fill_write(out, fills[i]) != 0) return -1;
  }
  return ferror(out) != 0 ? -1 : 0;
}
