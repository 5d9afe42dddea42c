// SPDX-License-Identifier: MIT
#include "sync/ipset/ipset_check.h"

#include <cstring>

#include "lib/spawn.h"
#include "sync/core/load_status.h"
#include "sync/ipset/ipset_header.h"

namespace {

// The entry count of set from its terse listing (a header, no members):
// the count, LOAD_CHECK_MISSING when ipset says there is no such set, or
// -2 when the listing cannot be read (or is longer than its bound).
// Nothing reaches standard output.
long ipset_entries(const char *set) {
  if (!ipset_name_safe(set)) return -2;
  const char *argv[] = {"ipset", "list", "-t", set, nullptr};
  char listing[IPSET_LISTING_MAX];
  spawn_request request{argv};
  request.out = spawn_stream::PIPE;
  request.err = spawn_stream::STDOUT;
  request.output = listing;
  request.output_size = sizeof listing;
  spawn_result result{};
  if (spawn_run(request, &result) != 0 || result.cut) return -2;
  if (result.end == spawn_end::EXITED && result.value != 0 && ipset_says_missing(listing))
    return LOAD_CHECK_MISSING;
  size_t count = 0;
  if (!spawn_ok(result) || ipset_entry_count(listing, set, &count) != 0) return -2;
  return static_cast<long>(count);
}

bool any_address(const load_list &list) {
  size_t at = 0;
  load_entry entry{};
  while (load_list_next(list, &at, &entry))
    if (entry.text[0] != '\0') return true;
  return false;
}

}  // namespace

bool ipset_says_missing(const char *message) {
  return message != nullptr && strstr(message, "The set with the given name does not exist");
}

int ipset_set_check(const char *set, const load_list &list) {
  const long entries = ipset_entries(set);
  if (entries == LOAD_CHECK_MISSING) return LOAD_CHECK_MISSING;
  return entries == 0 && any_address(list) ? LOAD_CHECK_LACKS : LOAD_CHECK_HOLDS;
}
