// SPDX-License-Identifier: MIT
#include "sync/ipset/ipset_apply.h"

#include <sys/wait.h>
#include <syslog.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "lib/cmd_run.h"
#include "sync/core/host_list.h"

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
  return checked->visit(text, checked->context) == 0 ? 0 : -2;
}

}  // namespace

int ipset_hosts_walk(const char *set, json_object *list, ipset_host_visit visit, void *context,
                     load_lines lines) {
  if (set == nullptr) list = nullptr;  // logged as a missing list
  checked_visit checked{set, visit, context};
  return host_list_walk(list, address_check, &checked, lines);
}

namespace {

// The one-by-one load: one shell and one ipset per address; a refused add
// does not stop the loop.
struct add_target {
  const char *set;
  load_list *added;  // null: nothing kept
};

void address_add(const char *set, const char *address) {
  char command[IPSET_COMMAND_SIZE] = {};
  snprintf(command, sizeof command, "ipset add %s %s", set, address);
  (void)cmd_print_run(command);
}

// An address kept in the list goes on even when it cannot be kept: the
// list is then marked broken, the load runs as ever.
int address_keep(load_list *added, const char *address) {
  if (added != nullptr) (void)load_list_add(added, LOAD_V4, address, strlen(address));
  return 0;
}

int address_add_kept(const char *address, void *context) {
  auto *target = static_cast<add_target *>(context);
  address_add(target->set, address);
  return address_keep(target->added, address);
}

int address_read(const char *address, void *context) {
  return address_keep(static_cast<load_list *>(context), address);
}

void add_stat_line(const char *set) {
  syslog(LOG_INFO, "stat_points_none ========== ipset_ips_add: %s time: %ld\n", set,
         static_cast<long>(time(nullptr)));
}

}  // namespace

int ipset_ips_add(const char *set, json_object *list) { return ipset_ips_add_kept(set, list, nullptr); }

int ipset_ips_add_kept(const char *set, json_object *list, load_list *added) {
  add_stat_line(set);
  add_target target{set, added};
  return ipset_hosts_walk(set, list, address_add_kept, &target);
}

int ipset_hosts_read(const char *set, json_object *list, load_lines lines, load_list *added) {
  (void)ipset_hosts_walk(set, list, address_read, added, lines);
  return 0;
}

void ipset_list_add(const char *set, const load_list &list) {
  add_stat_line(set);
  size_t at = 0;
  load_entry entry{};
  while (load_list_next(list, &at, &entry)) address_add(set, entry.text);
}
