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

namespace {

// Only called with the whole document valid: only now is any set touched.
int hosts_load(json_object *hosts, load_list *loaded) {
  int code = load_mode_hosts_load(hosts, loaded);
  if (code != WHITELIST_LOAD_OK) {
    syslog(LOG_WARNING, "load return %d\n", code);
    return code;
  }
  syslog(LOG_WARNING, "config load success:\n");
  return WHITELIST_LOAD_OK;
}

int refill_check(json_object *hosts) {
  load_list list;
  // A list that cannot be read is checked as an empty one: only a missing
  // set counts then.
  if (load_mode_read(hosts, load_lines::QUIET, &list) != WHITELIST_LOAD_OK) load_list_clear(&list);
  return load_mode_check(list);
}

}  // namespace

int whitelist_load_list(const char *path, const cdn_state *state, load_list *loaded) {
  load_list_clear(loaded);
  json_doc doc;
  json_object *hosts = nullptr;
  int code = whitelist_document_read(path, state, &doc, &hosts);
  return code != WHITELIST_LOAD_OK ? code : hosts_load(hosts, loaded);
}

int whitelist_answer_load(json_object *answer, const cdn_state *state, load_list *loaded) {
  load_list_clear(loaded);
  json_object *hosts = nullptr;
  int code = whitelist_document_check(answer, state, &hosts);
  return code != WHITELIST_LOAD_OK ? code : hosts_load(hosts, loaded);
}

int whitelist_set_needs_refill(const char *path) {
  json_doc doc;
  json_object *hosts = nullptr;
  if (path == nullptr || whitelist_document_peek(path, &doc, &hosts) != 0) return LOAD_CHECK_HOLDS;
  return refill_check(hosts);
}

int whitelist_answer_needs_refill(json_object *answer) {
  json_object *hosts = nullptr;
  if (whitelist_document_hosts(answer, &hosts) != 0) return LOAD_CHECK_HOLDS;
  return refill_check(hosts);
}
