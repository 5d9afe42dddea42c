// SPDX-License-Identifier: MIT
#include "sync/nft/nft_probe.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "lib/text.h"
#include "sync/core/load_status.h"
#include "sync/core/scratch_dir.h"
#include "sync/nft/nft_config.h"
#include "sync/nft/nft_netlink.h"
#include "sync/nft/nft_tool.h"

namespace {

constexpr char SCRATCH_PREFIX[] = "quorvel-nft";
constexpr char PROBE_NAME[] = "nft_probe";
constexpr size_t LINE_SIZE = 320;
constexpr const char *READ_INPUT[] = {"-f", "-", nullptr};

// The first element of family in list, or null.
const char *first_of(const load_list &list, int family) {
  size_t at = 0;
  load_entry entry{};
  while (load_list_next(list, &at, &entry))
    if (entry.family == family) return entry.text;
  return nullptr;
}

// The probe's line for the first address of element (a range's text: "a",
// "a/len" or "a-b") in set, appended to lines (size bytes). false when it
// does not fit.
bool probe_line(const nft_config &config, const char *set, const char *element, char *lines,
                size_t size) {
  const size_t address = strcspn(element, "/-");
  size_t used = strlen(lines);
  return format_fits(snprintf(lines + used, size - used, "get element %s %s %s { %.*s }\n",
                              config.family, config.table, set, static_cast<int>(address), element),
                     size - used);
}

// What nft says of the probe lines: LOAD_CHECK_HOLDS when every set holds
// its address, LOAD_CHECK_LACKS when a set lacks its own, LOAD_CHECK_MISSING
// when a set or the table is missing, -2 for any other refusal.
int probe_run(const scratch_dir &dir, const char *lines) {
  char input[256];
  if (dir.file(PROBE_NAME, input, sizeof input) != 0) return -2;
  (void)unlink(input);
  if (nft_file_write(dir, PROBE_NAME, lines) != 0) return -2;
  char message[NFT_MESSAGE_SIZE];
  if (nft_run(dir, READ_INPUT, PROBE_NAME, NFT_RUN_ERRORS_ONLY, message) == 0)
    return LOAD_CHECK_HOLDS;
  if (nft_says_element_absent(message)) return LOAD_CHECK_LACKS;
  return nft_says_missing(message) ? LOAD_CHECK_MISSING : -2;
}

// Whether the table and the IPv4 set exist: a probe would not tell for an
// empty list.
int sets_present(const scratch_dir &dir, const nft_config &config) {
  const char *args[] = {"list", "set", config.family, config.table, config.set, nullptr};
  char message[NFT_MESSAGE_SIZE];
  if (nft_run(dir, args, nullptr, NFT_RUN_ERRORS_ONLY, message) == 0) return LOAD_CHECK_HOLDS;
  return nft_says_missing(message) ? LOAD_CHECK_MISSING : LOAD_CHECK_HOLDS;
}

// The check asked of the kernel: whether each set that the list has
// elements for holds any (the IPv4 set's presence alone for an empty
// list). LOAD_CHECK_*, or -2 when the kernel could not be asked.
int fill_check(const nft_config &config, bool with4, bool with6) {
  const int fill4 =
      with4 || !with6 ? nft_set_fill_ask(config.family, config.table, config.set) : NFT_SET_FILLED;
  if (fill4 == NFT_SET_UNASKED) return -2;
  if (fill4 == NFT_SET_GONE) return with6 && !with4 ? LOAD_CHECK_HOLDS : LOAD_CHECK_MISSING;
  if (with4 && fill4 == NFT_SET_EMPTY) return LOAD_CHECK_LACKS;
  if (!with6) return LOAD_CHECK_HOLDS;
  // A missing IPv6 set leaves the IPv6 addresses out of every load.
  const int fill6 = nft_set_fill_ask(config.family, config.table, config.set6);
  if (fill6 == NFT_SET_UNASKED) return -2;
  return fill6 == NFT_SET_EMPTY ? LOAD_CHECK_LACKS : LOAD_CHECK_HOLDS;
}

}  // namespace

int nft_whitelist_check(const load_list &list) {
  nft_config config;
  const char *bad = nullptr;
  if (nft_config_load(&config, &bad) != 0) return LOAD_CHECK_HOLDS;
  const char *first4 = first_of(list, LOAD_V4);
  const char *first6 = config.set6[0] != '\0' ? first_of(list, LOAD_V6) : nullptr;
  const int filled = fill_check(config, first4 != nullptr, first6 != nullptr);
  if (filled != -2) return filled;
  // Without the kernel's word, nft probes the first elements.
  scratch_dir dir;
  if (dir.make(SCRATCH_PARENT, SCRATCH_PREFIX) != 0) return LOAD_CHECK_HOLDS;
  char lines[2 * LINE_SIZE] = "";
  if ((first4 != nullptr && !probe_line(config, config.set, first4, lines, sizeof lines)) ||
      (first6 != nullptr && !probe_line(config, config.set6, first6, lines, sizeof lines)))
    return LOAD_CHECK_HOLDS;
  if (lines[0] == '\0') return sets_present(dir, config);
  // Both sets in one nft run (nft fetches the table's elements once); a
  // missing IPv6 set fails that run whole, and the IPv4 set is probed alone.
  int found = probe_run(dir, lines);
  if (found < 0 && first4 != nullptr && first6 != nullptr) {
    lines[0] = '\0';
    if (probe_line(config, config.set, first4, lines, sizeof lines)) found = probe_run(dir, lines);
  }
  if (found == LOAD_CHECK_MISSING && first4 == nullptr) return LOAD_CHECK_HOLDS;  // IPv6 set alone
  return found == -2 ? LOAD_CHECK_HOLDS : found;
}
