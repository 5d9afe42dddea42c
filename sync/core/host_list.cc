// SPDX-License-Identifier: MIT
#include "sync/core/host_list.h"

#include <syslog.h>

#include <cstddef>

int host_list_walk(json_object *list, host_visit visit, void *context, load_lines lines) {
  const bool logged = lines == load_lines::LOGGED;
  if (list == nullptr || visit == nullptr) {
    if (logged) syslog(LOG_WARNING, "ip list is NULL.\n");
    return -1;
  }
  int result = 0;
  if (!json_object_is_type(list, json_type_array)) {
    if (logged) syslog(LOG_WARNING, "ip list not array.\n");
    result = -3;
  } else {
    for (size_t index = 0; index < json_object_array_length(list); ++index) {
      json_object *element = json_object_array_get_idx(list, index);
      const char *text = element == nullptr ? nullptr : json_object_get_string(element);
      if (text == nullptr) {
        if (logged)
          syslog(LOG_WARNING, "rule url(index %d not get):%s\n", static_cast<int>(index),
                 json_object_get_string(list));
        result = element == nullptr ? -4 : -5;
        break;
      }
      const int taken = visit(text, context);
      if (taken == -2) {
        result = -6;
        break;
      }
      if (taken < 0 && logged) syslog(LOG_WARNING, "ip invalid %s\n", text);
    }
  }
  if (logged) syslog(LOG_WARNING, "ip list end %d\n", result);
  return result;
}
