// SPDX-License-Identifier: MIT
#include "sync/ipset_apply.h"

#include <sys/wait.h>
#include <syslog.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "lib/cmd_run.h"
#include "sync/host_list.h"

namespace {
constexpr size_t IPSET_COMMAND_SIZE = 128;
}

int str_only_chars(const char *text, const char *allowed) {
  if (text == nullptr || allowed == nullptr) return -1;
  for (const char *p = text; *p != '\0'; ++p) {
    if (strchr(allowed, *p) == nullptr) return -1;
  }
  return 0;
}

bool ipset_address_ok(const char *set, const char *text) {
  // A cut command would add another address than the one listed.
  return str_only_chars(text, IPSET_ADDRESS_CHARS) == 0 &&
         strlen(text) + strlen(set) + sizeof "ipset add  " <= IPSET_COMMAND_SIZE;
}

bool ipset_hosts_any(const char *set, json_object *list) {
  if (set == nullptr || !json_object_is_type(list, json_type_array)) return false;
  for (size_t index = 0; index < json_object_array_length(list); ++index) {
    json_object *element = json_object_array_get_idx(list, index);
    const char *text = element == nullptr ? nullptr : json_object_get_string(element);
    if (text == nullptr) return false;  // where every load stops
    if (text[0] != '\0' && ipset_address_ok(set, text)) return true;
  }
  return false;
}

int ipset_flush(const char *set) {
  if (set == nullptr) return -1;
  syslog(LOG_INFO, "stat_points_none ========== ipset_flush: %s time: %ld\n", set,
         static_cast<long>(time(nullptr)));
  char command[IPSET_COMMAND_SIZE] = {};
  snprintf(command, sizeof command, "ipset flush %s", set);
  // A missing set fails here; the caller must then add nothing and keep
  // the stored stamp, or the list would count as loaded.
  int status = system(command);
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
}

namespace {

struct checked_visit {
  const char *set;
  ipset_host_visit visit;
  void *context;
};

int address_check(const char *text, void *context) {
  auto *checked = static_cast<checked_visit *>(context);
  if (!ipset_address_ok(checked->set, text)) return -1;
  checked->visit(text, checked->context);
  return 0;
}

}  // namespace

int ipset_hosts_walk(const char *set, json_object *list, ipset_host_visit visit, void *context) {
  if (set == nullptr) list = nullptr;  // logged as a missing list
  checked_visit checked{set, visit, context};
  return host_list_walk(list, address_check, &checked);
}

namespace {

// The one-by-one load: one shell and one ipset per address; a refused add
// does not stop the loop.
struct add_target {
  const char *set;
};

void address_add(const char *address, void *context) {
  const char *set = static_cast<add_target *>(context)->set;
  char command[IPSET_COMMAND_SIZE] = {};
  snprintf(command, sizeof command, "ipset add %s %s", set, address);
  (void)cmd_print_run(command);
}

}  // namespace

int ipset_ips_add(const char *set, json_object *list) {
  syslog(LOG_INFO, "stat_points_none ========== ipset_ips_add: %s time: %ld\n", set,
         static_cast<long>(time(nullptr)));
  add_target target{set};
  return ipset_hosts_walk(set, list, address_add, &target);
}
