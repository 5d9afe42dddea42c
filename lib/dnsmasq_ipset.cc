// SPDX-License-Identifier: MIT
#include "lib/dnsmasq_ipset.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "lib/c_guards.h"
#include "lib/text.h"

namespace {

// Room for "4#<family>#<table>#<set>,6#<family>#<table>#<set6>" of names
// that nft_name_safe passed.
constexpr size_t NFTSET_TARGET_SIZE = 4 * 2 + 6 * NFT_NAME_SIZE;

// Writes a line "<option>=/<host>/<target>" for each accepted host; the
// result code of the loop (0, -4 or -5).
int host_lines_write(FILE *stream, const char *option, const char *target, json_object *hosts) {
  // The length is read afresh before each element.
  for (size_t index = 0; index < json_object_array_length(hosts); ++index) {
    json_object *element = json_object_array_get_idx(hosts, index);
    if (element == nullptr) {
      syslog(LOG_WARNING, "rule url(index %d not get):%s\n", static_cast<int>(index),
             json_object_get_string(hosts));
      return -4;
    }
    const char *host = json_object_get_string(element);
    if (host == nullptr) {
      syslog(LOG_WARNING, "rule url(index %d not get):%s\n", static_cast<int>(index),
             json_object_get_string(hosts));
      return -5;
    }
    // A line feed or any other control byte would start a second option;
    // a NUL inside a string would cut the host short.
    if (str_printable(host) != 0) continue;
    if (json_object_is_type(element, json_type_string) &&
        static_cast<size_t>(json_object_get_string_len(element)) != strlen(host))
      continue;
    fprintf(stream, "%s=/%s/%s\n", option, host, target);
  }
  return 0;
}

// The file of host lines from its opening to its end line: the codes -2
// to -5 and 0 of both file creators.
int host_file_write(const char *path, const char *option, const char *target, json_object *hosts) {
  unique_file stream(fopen(path, "w"));
  if (!stream) {
    syslog(LOG_WARNING, "host file open fail.\n");
    return -2;
  }
  int result = 0;
  if (!json_object_is_type(hosts, json_type_array)) {
    syslog(LOG_WARNING, "host list not array.\n");
    result = -3;
  } else {
    result = host_lines_write(stream.get(), option, target, hosts);
  }
  // Buffered write errors show at the latest when the stream is closed; a
  // file that lost lines must not be reported as complete.
  bool failed = ferror(stream.get()) != 0;
  if (fclose(stream.release()) != 0) failed = true;
  if (failed && result == 0) result = -2;
  syslog(LOG_WARNING, "rule chain ipset end %d\n", result);
  return result;
}

// The nftset target text of a valid target: false for a missing or
// unsafe name.
bool nftset_target_format(const nftset_target *target, char (&out)[NFTSET_TARGET_SIZE]) {
  if (target == nullptr || !nft_family_known(target->family) || !nft_name_safe(target->table) ||
      !nft_name_safe(target->set))
    return false;
  bool with_v6 = target->set6 != nullptr && target->set6[0] != '\0';
  if (with_v6 && !nft_name_safe(target->set6)) return false;
  int length =
      with_v6 ? snprintf(out, sizeof out, "4#%s#%s#%s,6#%s#%s#%s", target->family, target->table,
                         target->set, target->family, target->table, target->set6)
              : snprintf(out, sizeof out, "4#%s#%s#%s", target->family, target->table, target->set);
  return format_fits(length, sizeof out);
}

}  // namespace

int ipset_file_create(const char *path, const char *set_name, json_object *hosts) {
  syslog(LOG_INFO, "stat_points_none ========== ipset_file_create: %s  time: %ld\n",
         set_name != nullptr ? set_name : "(null)", static_cast<long>(time(nullptr)));
  // The set name goes into every line: it must not be able to break one.
  if (hosts == nullptr || path == nullptr || set_name == nullptr || str_printable(set_name) != 0) {
    syslog(LOG_WARNING, "host list is NULL.\n");
    return -1;
  }
  return host_file_write(path, "ipset", set_name, hosts);
}

int nftset_file_create(const char *path, const nftset_target *target, json_object *hosts) {
  const char *set = target != nullptr && target->set != nullptr ? target->set : "(null)";
  syslog(LOG_INFO, "stat_points_none ========== nftset_file_create: %s  time: %ld\n", set,
         static_cast<long>(time(nullptr)));
  char target_text[NFTSET_TARGET_SIZE];
  if (hosts == nullptr || path == nullptr || !nftset_target_format(target, target_text)) {
    syslog(LOG_WARNING, "host list is NULL.\n");
    return -1;
  }
  return host_file_write(path, "nftset", target_text, hosts);
}

void ipset_file_destroy(const char *path) {
  syslog(LOG_INFO, "stat_points_none ========== ipset_file_destroy() time:%ld\n",
         static_cast<long>(time(nullptr)));
  if (path != nullptr) (void)unlink(path);
}

int dnsmasq_restart() {
  return system(DNSMASQ_RESTART_COMMAND);
}
