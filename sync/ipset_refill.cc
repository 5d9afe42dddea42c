// SPDX-License-Identifier: MIT
// whitelist_set_needs_refill of the ipset loads: a set that the firewall
// created afresh (a reboot, a firewall restart) is empty while the stored
// stamp still matches the served one.
#include <sys/wait.h>

#include <cstdio>
#include <memory>

#include "sync/ipset_apply.h"
#include "sync/ipset_header.h"
#include "sync/paths.h"
#include "sync/whitelist_document.h"
#include "sync/whitelist_load.h"

namespace {

struct pipe_closer {
  void operator()(FILE *stream) const noexcept { (void)pclose(stream); }
};

// The entry count of set from its terse listing (a header, no members), or
// -1 when the set is missing or its listing cannot be read. Nothing reaches
// standard output.
long ipset_entries(const char *set) {
  if (!ipset_name_safe(set)) return -1;
  char command[64];
  snprintf(command, sizeof command, "ipset list -t %s 2>/dev/null", set);
  std::unique_ptr<FILE, pipe_closer> listing_pipe(popen(command, "r"));
  if (!listing_pipe) return -1;
  char listing[IPSET_LISTING_MAX] = {};
  size_t used = fread(listing, 1, sizeof listing - 1, listing_pipe.get());
  listing[used] = '\0';
  int status = pclose(listing_pipe.release());
  size_t count = 0;
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      ipset_entry_count(listing, set, &count) != 0)
    return -1;
  return static_cast<long>(count);
}

}  // namespace

int whitelist_set_needs_refill(const char *path) {
  json_doc doc;
  json_object *hosts = nullptr;
  if (path == nullptr || whitelist_document_peek(path, &doc, &hosts) != 0) return 0;
  if (!ipset_hosts_any(WHITELIST_SET, hosts)) return 0;
  return ipset_entries(WHITELIST_SET) == 0 ? 1 : 0;
}
