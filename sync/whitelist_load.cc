// SPDX-License-Identifier: MIT
#include "sync/whitelist_load.h"

#include <syslog.h>

#include "lib/json_doc.h"
#include "sync/load_mode.h"
#include "sync/whitelist_document.h"

int whitelist_load(const char *path, const cdn_state *state) {
  load_list loaded;
  return whitelist_load_list(path, state, &loaded);
}

int whitelist_load_list(const char *path, const cdn_state *state, load_list *loaded) {
  load_list_clear(loaded);
  json_doc doc;
  json_object *hosts = nullptr;
  int code = whitelist_document_read(path, state, &doc, &hosts);
  if (code != WHITELIST_LOAD_OK) return code;
  // Only now, with the whole document valid, is any set touched.
  code = load_mode_hosts_load(hosts, loaded);
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
  if (path == nullptr || whitelist_document_peek(path, &doc, &hosts) != 0) return LOAD_CHECK_HOLDS;
  load_list list;
  // A list that cannot be read is checked as an empty one: only a missing
  // set counts then.
  if (load_mode_read(hosts, load_lines::QUIET, &list) != WHITELIST_LOAD_OK) load_list_clear(&list);
  return load_mode_check(list);
}
