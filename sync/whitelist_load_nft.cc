// SPDX-License-Identifier: MIT
// whitelist_load of the nftables build: the whole list replaces the
// content of the firewall's sets in one nft transaction.
#include <syslog.h>

#include "lib/json_doc.h"
#include "sync/nft_load.h"
#include "sync/whitelist_document.h"
#include "sync/whitelist_load.h"

int whitelist_load(const char *path, const cdn_state *state) {
  json_doc doc;
  json_object *hosts = nullptr;
  int code = whitelist_document_read(path, state, &doc, &hosts);
  if (code != WHITELIST_LOAD_OK) return code;
  // Only now, with the whole document valid, is any set touched.
  code = nft_whitelist_load(hosts);
  if (code != WHITELIST_LOAD_OK) {
    syslog(LOG_WARNING, "load return %d\n", code);
    return code;
  }
  syslog(LOG_WARNING, "config load success:\n");
  return WHITELIST_LOAD_OK;
}

int whitelist_set_needs_refill(const char *path) {
  json_doc doc;
  json_object *hosts = nullptr;
  if (path == nullptr || whitelist_document_peek(path, &doc, &hosts) != 0) return 0;
  return nft_whitelist_needs_refill(hosts);
}
