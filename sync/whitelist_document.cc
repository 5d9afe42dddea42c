// SPDX-License-Identifier: MIT
#include "sync/whitelist_document.h"

#include <syslog.h>
#include <unistd.h>

#include "sync/json_file.h"
#include "sync/core/load_status.h"

namespace {

const char *failure_message(int code) {
  switch (code) {
    case WHITELIST_LOAD_PARSE:
      return "load file parse fail.\n";
    case WHITELIST_LOAD_CODE:
      return "load file parse code fail.\n";
    case WHITELIST_LOAD_CODE_NONZERO:
      return "load file parse code not equal 0.\n";
    case WHITELIST_LOAD_DATA:
      return "load file parse data fail.\n";
    default:
      return "load file parse config fail.\n";
  }
}

// The code of the first failing field check, or 0 with *hosts set.
int fields_check(json_object *root, json_object **hosts) {
  if (root == nullptr) return WHITELIST_LOAD_PARSE;
  json_object *code = json_object_object_get(root, "code");
  if (code == nullptr) return WHITELIST_LOAD_CODE;
  if (json_int_value(code) != 0) return WHITELIST_LOAD_CODE_NONZERO;
  json_object *data = json_object_object_get(root, "data");
  if (data == nullptr) return WHITELIST_LOAD_DATA;
  if (json_object_object_get(data, "updateTime") == nullptr) return WHITELIST_LOAD_CONFIG;
  json_object *config = json_object_object_get(data, "config");
  if (config == nullptr) return WHITELIST_LOAD_CONFIG;
  *hosts = json_object_object_get(config, "host");
  if (*hosts == nullptr) return WHITELIST_LOAD_CONFIG;
  return WHITELIST_LOAD_OK;
}

}  // namespace

int whitelist_document_read(const char *path, const cdn_state *state, json_doc *doc,
                            json_object **hosts) {
  doc->reset();
  *hosts = nullptr;
  if (path == nullptr || state == nullptr) {
    syslog(LOG_WARNING, "load arg empty\n");
    return WHITELIST_LOAD_ARG;
  }
  if (access(path, F_OK) != 0) {
    syslog(LOG_WARNING, "load filename not exist\n");
    return WHITELIST_LOAD_ARG;
  }
  *doc = json_file_parse(path);
  int code = whitelist_document_check(doc->get(), state, hosts);
  if (code != WHITELIST_LOAD_OK) doc->reset();
  return code;
}

int whitelist_document_check(json_object *root, const cdn_state *state, json_object **hosts) {
  *hosts = nullptr;
  if (state == nullptr) {
    syslog(LOG_WARNING, "load arg empty\n");
    return WHITELIST_LOAD_ARG;
  }
  int code = whitelist_document_hosts(root, hosts);
  if (code != WHITELIST_LOAD_OK) {
    syslog(LOG_WARNING, "%s", failure_message(code));
    syslog(LOG_WARNING, "load return %d\n", code);
  }
  return code;
}

int whitelist_document_peek(const char *path, json_doc *doc, json_object **hosts) {
  *doc = json_file_parse(path);
  int code = whitelist_document_hosts(doc->get(), hosts);
  if (code != WHITELIST_LOAD_OK) doc->reset();
  return code;
}

int whitelist_document_hosts(json_object *root, json_object **hosts) {
  *hosts = nullptr;
  int code = fields_check(root, hosts);
  if (code != WHITELIST_LOAD_OK) *hosts = nullptr;
  return code;
}
