// SPDX-License-Identifier: MIT
#include "sync/whitelist_load.h"

#include <syslog.h>

#include "sync/ipset_apply.h"
#include "sync/paths.h"
#include "sync/whitelist_document.h"

int whitelist_load(const char *path, const cdn_state *state) {
  json_doc root;
  json_object *hosts = nullptr;
  int code = whitelist_document_read(path, state, &root, &hosts);
  if (code != WHITELIST_LOAD_OK) return code;
  // Only now, with the whole document valid, is the set touched.
  if (ipset_flush(WHITELIST_SET) != 0) {
    syslog(LOG_WARNING, "load set %s flush fail.\n", WHITELIST_SET);
    syslog(LOG_WARNING, "load return %d\n", WHITELIST_LOAD_FLUSH);
    return WHITELIST_LOAD_FLUSH;
  }
  (void)ipset_ips_add(WHITELIST_SET, hosts);
  syslog(LOG_WARNING, "config load success:\n");
  return WHITELIST_LOAD_OK;
}
