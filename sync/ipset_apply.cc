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

// A cut command would add another address than the one listed.
int address_check(const char *text, void *context) {
  auto *checked = static_cast<checked_visit *>(context);
  if (str_only_chars(text, IPSET_ADDRESS_CHARS) != 0 ||
      strlen(text) + strlen(checked->set) + sizeof "ipset add  " > IPSET_COMMAND_SIZE)
    return -1;
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
