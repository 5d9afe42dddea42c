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

// Writes the host lines; the result code of the loop (0, -4 or -5).
int host_lines_write(FILE *stream, const char *set_name, json_object *hosts) {
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
    fprintf(stream, "ipset=/%s/%s\n", host, set_name);
  }
  return 0;
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
    result = host_lines_write(stream.get(), set_name, hosts);
  }
  // Buffered write errors show at the latest when the stream is closed; a
  // file that lost lines must not be reported as complete.
  bool failed = ferror(stream.get()) != 0;
  if (fclose(stream.release()) != 0) failed = true;
  if (failed && result == 0) result = -2;
  syslog(LOG_WARNING, "rule chain ipset end %d\n", result);
  return result;
}

void ipset_file_destroy(const char *path) {
  syslog(LOG_INFO, "stat_points_none ========== ipset_file_destroy() time:%ld\n",
         static_cast<long>(time(nullptr)));
  if (path != nullptr) (void)unlink(path);
}

int dnsmasq_restart() {
  return system(DNSMASQ_RESTART_COMMAND);
}
