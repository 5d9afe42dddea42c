// SPDX-License-Identifier: MIT
// whitelist_load of the swap build: the whole list replaces the set's
// content in one step.
#include <syslog.h>

#include "sync/ipset_swap.h"
#include "sync/paths.h"
#include "sync/scratch_dir.h"
#include "sync/whitelist_document.h"
#include "sync/whitelist_load.h"

int whitelist_load(const char *path, const cdn_state *state) {
  json_doc doc;
  json_object *hosts = nullptr;
  int code = whitelist_document_read(path, state, &doc, &hosts);
  if (code != WHITELIST_LOAD_OK) return code;
  // Only now, with the whole document valid, is any set touched.
  const ipset_swap_names names{WHITELIST_SET, WHITELIST_SWAP_SET, WHITELIST_SWAP_MARK,
                               SCRATCH_PARENT};
  code = ipset_swap_load(names, hosts);
  if (code != WHITELIST_LOAD_OK) {
    syslog(LOG_WARNING, "load return %d\n", code);
    return code;
  }
  syslog(LOG_WARNING, "config load success:\n");
  return WHITELIST_LOAD_OK;
}
