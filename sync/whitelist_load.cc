#include "sync/whitelist_load.h"

#include <syslog.h>
#include <unistd.h>

#include "sync/ipset_apply.h"
#include "sync/json_file.h"
#include "sync/paths.h"

namespace {

const char *load_failure_message(int code) {
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

// Checks the document field by field; 0 with *hosts set, or the code of the
// first failure.
int validate(json_object *root, json_object **hosts) {
  if (root == nullptr) return WHITELIST_LOAD_PARSE;
  json_object *code = json_object_object_get(root, "code");
  if (code == nullptr) return WHITELIST_LOAD_CODE;
  if (json_object_get_int(code) != 0) return WHITELIST_LOAD_CODE_NONZERO;
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

int whitelist_load(const char *path, const cdn_state *state) {
  if (path == nullptr || state == nullptr) {
    syslog(LOG_WARNING, "load arg empty\n");
    return WHITELIST_LOAD_ARG;
  }
  if (access(path, F_OK) != 0) {
    syslog(LOG_WARNING, "load filename not exist\n");
    return WHITELIST_LOAD_ARG;
  }
  json_doc root = json_file_parse(path);
  json_object *hosts = nullptr;
  int code = validate(root.get(), &hosts);
  if (code != WHITELIST_LOAD_OK) {
    syslog(LOG_WARNING, "%s", load_failure_message(code));
    syslog(LOG_WARNING, "load return %d\n", code);
    return code;
  }
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
