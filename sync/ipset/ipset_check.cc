// SPDX-License-Identifier: MIT
#include "sync/ipset/ipset_check.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "sync/core/load_status.h"
#include "sync/ipset/ipset_header.h"

namespace {

struct pipe_closer {
  void operator()(FILE *stream) const noexcept { (void)pclose(stream); }
};

// The entry count of set from its terse listing (a header, no members):
// the count, LOAD_CHECK_MISSING when ipset says there is no such set, or
// -2 when the listing cannot be read. Nothing reaches standard output.
long ipset_entries(const char *set) {
  if (!ipset_name_safe(set)) return -2;
  char command[64];
  snprintf(command, sizeof command, "ipset list -t %s 2>&1", set);
  std::unique_ptr<FILE, pipe_closer> listing_pipe(popen(command, "r"));
  if (!listing_pipe) return -2;
  char listing[IPSET_LISTING_MAX] = {};
  size_t used = fread(listing, 1, sizeof listing - 1, listing_pipe.get());
  listing[used] = '\0';
  int status = pclose(listing_pipe.release());
  size_t count = 0;
  if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) != 0 && ipset_says_missing(listing))
    return LOAD_CHECK_MISSING;
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      ipset_entry_count(listing, set, &count) != 0)
    return -2;
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
